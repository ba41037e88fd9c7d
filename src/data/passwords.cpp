#include "data/passwords.h"

#include "data/db.h"

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

} // namespace passwords
