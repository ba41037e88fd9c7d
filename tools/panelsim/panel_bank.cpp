#include "panel_bank.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

namespace panelsim {

namespace {
const QString BusyKey = QStringLiteral("busyCalls");

bool readObject(const QString& file, QJsonObject* out, QString* error)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("no se pudo leer %1").arg(file);
        return false;
    }
    const QJsonDocument d = QJsonDocument::fromJson(f.readAll());
    if (!d.isObject()) {
        if (error)
            *error = QStringLiteral("%1 no es un objeto JSON").arg(file);
        return false;
    }
    *out = d.object();
    return true;
}
} // namespace

bool PanelBank::add(const QString& number, const QJsonObject& state, QString* error)
{
    // The number is what the modem compares with what was dialled.
    if (number.isEmpty() || number.contains(QLatin1Char(' ')) || m_panels.contains(number)) {
        if (error)
            *error = QStringLiteral("número de panel inválido o repetido: %1").arg(number);
        return false;
    }
    QJsonObject rest = state;
    const int busy = rest.take(BusyKey).toInt(0);
    auto* p = new Panel(this);
    QString why;
    if (busy < 0 || !p->fromJson(rest, &why)) {
        delete p;
        if (error)
            *error = QStringLiteral("panel %1: %2").arg(number, busy < 0 ? BusyKey : why);
        return false;
    }
    connect(p, &Panel::changed, this, &PanelBank::changed);
    m_panels.insert(number, p);
    m_busy.insert(number, busy);
    return true;
}

bool PanelBank::load(const QString& path, QString* error)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        const QFileInfoList files = QDir(path).entryInfoList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
        for (const QFileInfo& f : files) {
            QJsonObject o;
            if (!readObject(f.filePath(), &o, error) || !add(f.completeBaseName(), o, error))
                return false;
        }
        return true;
    }
    QJsonObject all;
    if (!readObject(path, &all, error))
        return false;
    for (auto it = all.constBegin(); it != all.constEnd(); ++it) {
        if (!it.value().isObject()) {
            if (error)
                *error = QStringLiteral("panel %1: no es un objeto JSON").arg(it.key());
            return false;
        }
        if (!add(it.key(), it.value().toObject(), error))
            return false;
    }
    return true;
}

Panel* PanelBank::route(const QString& number, QByteArray* result)
{
    Panel* p = m_panels.value(number);
    if (!p) {
        *result = "NO ANSWER";
        return nullptr;
    }
    int& busy = m_busy[number];
    if (busy > 0) {
        --busy;
        *result = "BUSY";
        return nullptr;
    }
    result->clear();
    return p;
}

QJsonObject PanelBank::toJson() const
{
    QJsonObject o;
    for (auto it = m_panels.constBegin(); it != m_panels.constEnd(); ++it) {
        QJsonObject s = it.value()->toJson();
        s[BusyKey] = m_busy.value(it.key());
        o[it.key()] = s;
    }
    return o;
}

} // namespace panelsim
