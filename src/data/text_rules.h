#pragma once
// Rules for text typed or imported, the same wherever text comes in: the key
// by which searches compare, and what is never stored.

#include <QString>

namespace textrules {

// Case and accents folded, as a search compares: "Martín" and "MARTIN" have
// one key. Ñ keeps its tilde, being a letter of its own in Spanish.
QString searchKey(const QString& s);

// Without control characters (C0, DEL, C1) or the Unicode marks that
// reorder text (bidirectional embeddings, overrides and isolates): they
// are invisible on screen and scramble a printed report. A multi-line field
// keeps its line breaks (as "\n").
QString withoutControls(const QString& s, bool multiLine = false);

} // namespace textrules
