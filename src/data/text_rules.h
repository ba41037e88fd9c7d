#pragma once
// Rules for text typed or imported, the same wherever text comes in: the key
// by which searches compare, and what is never stored.

#include <QString>

namespace textrules {

// Case and accents folded, as a search compares: "Martín" and "MARTIN" have
// one key. Ñ keeps its tilde, being a letter of its own in Spanish.
QString searchKey(const QString& s);

} // namespace textrules
