#pragma once
// How a stored value of a one-byte section becomes the byte the panel gets.
// The section editor accepts a value only when this gives a byte, and the
// link sends exactly this byte, so nothing the editor took fails at upload.

#include <QString>

namespace panelbytes {

// The byte a value of tipo 2 (hexadecimal) or 3 (decimal) stands for; -1
// when it stands for none. Leading zeros are allowed in any number (a field
// wider than the byte is padded with them); a decimal may be followed by its
// fill when that is not a digit ("25FF" is 25).
int sectionByte(int tipo, const QString& valor);

} // namespace panelbytes
