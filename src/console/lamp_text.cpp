#include "console/lamp_text.h"

#include <QHash>
#include <QRegularExpression>

namespace {

struct Array {
    const char* name;        // "%1" is the number shown to the operator
    const char* subject;     // what the state line speaks of
    const char* on;          // picture lit
    const char* off;         // picture grey
};

// Arrays of lamps, by control name without the index.
const QHash<QString, Array>& arrays()
{
    static const QHash<QString, Array> a = {
        {"img_zona", {"Zona %1", "Zona %1", "abierta", "cerrada"}},
        {"img_exclusion", {"Exclusión zona %1", "Zona %1", "excluida", "no excluida"}},
        {"img_memo", {"Memoria zona %1", "Zona %1", "memoria de alarma", "sin memoria de alarma"}},
        {"img_cbexclusion", {"Excluír zona %1", "Zona %1", "exclusión pedida", "sin exclusión pedida"}},
        {"img_particion", {"Partición %1", "Partición %1", "activa", "inactiva"}},
        {"img_cbparticion", {"Elegir partición %1", "Partición %1", "elegida", "no elegida"}},
        {"img_pgm", {"PGM %1", "PGM %1", "encendida", "apagada"}},
        {"img_cbpgm", {"Cambiar PGM %1", "PGM %1", "cambio pedido", "sin cambio pedido"}},
    };
    return a;
}

// Single lamps: keypad lamps are lit or not; link and command pictures say
// how far their work has gone.
const QHash<QString, QPair<QString, bool>>& singles()
{
    static const QHash<QString, QPair<QString, bool>> s = {
        {"img_listo", {"Listo", true}},       {"img_armado", {"Armado", true}},   {"img_sistema", {"Sistema", true}},
        {"img_fallas", {"Fallas", true}},     {"img_bell", {"Sirena", true}},     {"img_in", {"Entrar", true}},
        {"img_out", {"Salir", true}},         {"img_aa", {"Auto Arm.", true}},
        {"img_connect", {"Llamar", false}},   {"img_connect_AMO", {"Doble Call", false}},
        {"Img_wait_call", {"Call-Back", false}}, {"img_end", {"Cortar", false}}, {"img_IP", {"IP", false}},
        {"img_arm", {"Activar", false}},      {"img_disarm", {"Desactivar", false}},
        {"img_panico", {"Pánico", false}},    {"img_falla", {"Fallas", false}},   {"img_stime", {"Hora", false}},
    };
    return s;
}

QString linkState(const QString& picture)
{
    static const QHash<QString, QString> words = {
        {"verde", "activo"}, {"amarillo", "en curso"}, {"rojo", "con error"},
        {"azul", "en espera"}, {"naranja", "pendiente"}, {"gris", "inactivo"},
    };
    return words.value(picture, QStringLiteral("inactivo"));
}

} // namespace

LampText lampText(const QString& control, const QString& picture)
{
    const bool grey = picture.isEmpty() || picture == QLatin1String("gris");
    if (const auto s = singles().constFind(control); s != singles().cend()) {
        const QString word = s->second ? (grey ? QStringLiteral("apagado") : QStringLiteral("encendido"))
                                       : linkState(grey ? QStringLiteral("gris") : picture);
        return {s->first, QStringLiteral("%1: %2").arg(s->first, word)};
    }
    static const QRegularExpression indexed(QStringLiteral("^(.+)_(\\d+)$"));
    const QRegularExpressionMatch m = indexed.match(control);
    if (!m.hasMatch())
        return {};
    const auto a = arrays().constFind(m.captured(1));
    if (a == arrays().cend())
        return {};
    const QString number = QString::number(m.captured(2).toInt() + 1);
    QString word = QString::fromUtf8(grey ? a->off : a->on);
    // Zones in the fault view are lit blue: the zone reports a fault.
    if (m.captured(1) == QLatin1String("img_zona") && picture == QLatin1String("azul"))
        word = QStringLiteral("con falla");
    return {QString::fromUtf8(a->name).arg(number), QStringLiteral("%1: %2").arg(QString::fromUtf8(a->subject).arg(number), word)};
}
