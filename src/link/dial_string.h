#pragma once
// What a telephone number may hold on its way to the modem. Anything else
// (a carriage return above all) would let the number carry modem commands
// of its own after "ATDT".

#include <QString>

namespace dial {

// Digits, blank, "-", "(", ")", "*", "#", ",", "W", "P", "T", "!", "@", ";".
bool isDialCharacter(QChar c);
// The first character of `number` that may not be dialled; null when none.
QChar forbiddenCharacter(const QString& number);
// `text` with letters upper-cased and everything else that may not be
// dialled left out (a paste into a phone box).
QString keepDialCharacters(const QString& text);
// How a forbidden character is named in a message: the character itself
// when it can be seen, its code otherwise ("salto de línea", "U+0007").
QString describe(QChar c);

} // namespace dial
