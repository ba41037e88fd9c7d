#pragma once
// Operator passwords are kept as Argon2id hashes (libsodium's string form,
// with its own salt and costs), never as text. Passwords compare without
// regard to case, as they always did: the folded text is what is hashed.

#include <QString>

namespace passwords {

// The hash of `password` at libsodium's interactive costs. Throws db::Error
// when the memory for it cannot be had.
QString hash(const QString& password);
// Whether `password` is the one `stored` was made from. A stored text that
// is not a hash never matches.
bool verify(const QString& stored, const QString& password);
// Whether a stored password column already holds a hash (an older station
// kept the password itself).
bool isHash(const QString& stored);

} // namespace passwords
