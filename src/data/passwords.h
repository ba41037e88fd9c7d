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
// A hash without its last field: algorithm, costs and salt, which tell
// nothing of the password. Empty for a text that is not a hash.
QString saltOf(const QString& stored);
// The hash `password` makes with the costs and salt of `salt` (as saltOf
// gives it): equal to the stored hash exactly when the password is right.
// A server compares the two so that the station never reads the hash
// itself. Empty when `salt` is not one libsodium makes.
QString hashWithSalt(const QString& salt, const QString& password);

} // namespace passwords
