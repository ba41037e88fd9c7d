#include "data/passwords.h"

#include "data/db.h"

#include <QRegularExpression>

#include <sodium.h>

namespace passwords {

namespace {

QByteArray folded(const QString& password)
{
    return db::fold(password).toUtf8();
}

void ready()
{
    // Safe to call again; fails only without a source of randomness.
    if (sodium_init() < 0)
        throw db::Error(QStringLiteral("No se pudo iniciar la biblioteca de claves"));
}

} // namespace

QString hash(const QString& password)
{
    ready();
    const QByteArray p = folded(password);
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, p.constData(), quint64(p.size()), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw db::Error(QStringLiteral("No hay memoria suficiente para cifrar la contraseña"));
    return QString::fromLatin1(out);
}

bool verify(const QString& stored, const QString& password)
{
    if (!isHash(stored))
        return false;
    ready();
    const QByteArray h = stored.toLatin1();
    const QByteArray p = folded(password);
    return crypto_pwhash_str_verify(h.constData(), p.constData(), quint64(p.size())) == 0;
}

bool isHash(const QString& stored)
{
    return stored.startsWith(QLatin1String("$argon2id$")) && stored.size() < crypto_pwhash_STRBYTES;
}

QString saltOf(const QString& stored)
{
    if (!isHash(stored))
        return {};
    return stored.left(stored.lastIndexOf(QLatin1Char('$')) + 1);
}

QString hashWithSalt(const QString& salt, const QString& password)
{
    // libsodium's own form: memory in KiB, one lane, the salt in base64
    // without padding, a 32-byte hash.
    static const QRegularExpression form(
        QStringLiteral("^\\$argon2id\\$v=19\\$m=(\\d{1,10}),t=(\\d{1,10}),p=1\\$([A-Za-z0-9+/]{1,64})\\$$"));
    const QRegularExpressionMatch m = form.match(salt);
    if (!m.hasMatch())
        return {};
    const quint64 memKiB = m.captured(1).toULongLong();
    const quint64 ops = m.captured(2).toULongLong();
    if (memKiB > crypto_pwhash_MEMLIMIT_MAX / 1024 || ops < crypto_pwhash_OPSLIMIT_MIN || ops > crypto_pwhash_OPSLIMIT_MAX)
        return {};
    ready();
    const QByteArray salt64 = m.captured(3).toLatin1();
    unsigned char rawSalt[crypto_pwhash_SALTBYTES];
    size_t saltLen = 0;
    if (sodium_base642bin(rawSalt, sizeof rawSalt, salt64.constData(), size_t(salt64.size()), nullptr, &saltLen, nullptr,
                          sodium_base64_VARIANT_ORIGINAL_NO_PADDING) != 0 ||
        saltLen != crypto_pwhash_SALTBYTES)
        return {};
    constexpr size_t kHashBytes = 32;
    unsigned char out[kHashBytes];
    const QByteArray p = folded(password);
    if (crypto_pwhash(out, kHashBytes, p.constData(), quint64(p.size()), rawSalt, ops, size_t(memKiB) * 1024,
                      crypto_pwhash_ALG_ARGON2ID13) != 0)
        throw db::Error(QStringLiteral("No hay memoria suficiente para cifrar la contraseña"));
    char encoded[sodium_base64_ENCODED_LEN(kHashBytes, sodium_base64_VARIANT_ORIGINAL_NO_PADDING)];
    sodium_bin2base64(encoded, sizeof encoded, out, kHashBytes, sodium_base64_VARIANT_ORIGINAL_NO_PADDING);
    return salt + QString::fromLatin1(encoded);
}

} // namespace passwords
