#pragma once
// How the items of a section are typed, shown and stored, by the section's
// tipo, caracteres and fill character. The stored text must be one the panel
// link can put into panel memory: a byte in hexadecimal (tipo 2) or decimal
// (tipo 3), or hexadecimal digits (tipos 4 and 5).

#include <QString>
#include <optional>

struct SectionFormat {
    int tipo = 0;
    int caracteres = 0; // 0: no fixed length
    QString filler;     // fill character; used only when it is exactly one character

    // The longest text a section can hold: two hexadecimal digits for every
    // byte of the panel's memory map. A section claiming more (a damaged
    // catalogue) is shown without inputs, so nothing is sized from it.
    static const int MaxCharacters;
    bool sizeKnown() const { return caracteres >= 0 && caracteres <= MaxCharacters; }

    enum class Input { none, list, text };
    Input input() const;
    bool hasFill() const { return filler.size() == 1; }

    // Text box contents for a stored value: tipos 3 and 4 hide the fill that
    // pads the value's end, which saving adds back. Fill characters inside
    // the value stay, so showing and saving again stores the same text.
    QString shown(const QString& stored) const;
    // The default column: the padding hidden the same way for every tipo
    // that pads (3 to 5).
    QString defaultShown(const QString& stored) const;
    // The value to store for a typed text (padded with the fill where the tipo
    // pads), or nothing when it has the wrong length or the panel link could
    // not encode it; `problem` then says why, as the user is told
    // ("debe tener 8 caracteres").
    std::optional<QString> saved(const QString& typed, QString* problem = nullptr) const;

private:
    QString unpadded(const QString& stored) const;
};

// The key by which list entries and stored values are matched: the value read
// as a hexadecimal number (list values are bits or hexadecimal bytes, "0A"
// among them); nothing when it is not a number.
std::optional<qint64> listKey(const QString& value);
