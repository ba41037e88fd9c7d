#include "app/ui_pictures.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>

namespace ui {

namespace {

QColor lampColour(const QString& key)
{
    static const QHash<QString, QColor> colours = {
        {"rojo", QColor(220, 30, 30)},    {"verde", QColor(30, 170, 60)},
        {"amarillo", QColor(240, 200, 0)}, {"gris", QColor(150, 150, 150)},
        {"azul", QColor(40, 90, 220)},    {"naranja", QColor(245, 140, 0)},
        {"blanco", QColor(250, 250, 250)},
    };
    return colours.value(key);
}

void drawModem(QPainter& p, int s, bool ok)
{
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(200, 200, 210));
    p.drawRoundedRect(QRectF(1, s * 0.35, s - 2, s * 0.45), 2, 2);
    p.setBrush(ok ? QColor(30, 190, 60) : QColor(220, 30, 30));
    p.drawEllipse(QRectF(s * 0.15, s * 0.5, s * 0.18, s * 0.18));
    if (!ok) {
        p.setPen(QPen(QColor(220, 30, 30), 2));
        p.drawLine(QPointF(s * 0.55, s * 0.1), QPointF(s * 0.9, s * 0.32));
        p.drawLine(QPointF(s * 0.9, s * 0.1), QPointF(s * 0.55, s * 0.32));
    }
}

// A printed sheet; the PDF export's has a red band across it.
void drawSheet(QPainter& p, int s, bool pdf)
{
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(s * 0.2, s * 0.08, s * 0.6, s * 0.84));
    p.setPen(QPen(QColor(120, 120, 120), qMax(1.0, s / 16.0)));
    for (int i = 0; i < 5; ++i) {
        const qreal y = s * (0.25 + i * 0.13);
        p.drawLine(QPointF(s * 0.3, y), QPointF(s * (i % 2 ? 0.6 : 0.7), y));
    }
    if (pdf) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(200, 30, 30));
        p.drawRect(QRectF(s * 0.05, s * 0.5, s * 0.9, s * 0.34));
        QFont f = p.font();
        f.setBold(true);
        f.setPixelSize(qMax(6, int(s * 0.3)));
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(s * 0.05, s * 0.5, s * 0.9, s * 0.34), Qt::AlignCenter, QStringLiteral("PDF"));
    }
}

// Transfer marks: a thick arrow up ("subir", green) or down ("bajar", red).
void drawArrow(QPainter& p, int s, bool up)
{
    const QColor c = up ? QColor(30, 150, 60) : QColor(200, 50, 30);
    QPainterPath a;
    const qreal m = s * 0.5;
    a.moveTo(m, s * 0.08);
    a.lineTo(s * 0.92, s * 0.52);
    a.lineTo(s * 0.66, s * 0.52);
    a.lineTo(s * 0.66, s * 0.92);
    a.lineTo(s * 0.34, s * 0.92);
    a.lineTo(s * 0.34, s * 0.52);
    a.lineTo(s * 0.08, s * 0.52);
    a.closeSubpath();
    if (!up) {
        QTransform flip;
        flip.translate(0, s);
        flip.scale(1, -1);
        a = flip.map(a);
    }
    p.setPen(QPen(c.darker(150), 1));
    p.setBrush(c);
    p.drawPath(a);
}

// "modificar": a pencil across the picture.
void drawPencil(QPainter& p, int s)
{
    p.translate(s / 2.0, s / 2.0);
    p.rotate(-45);
    const qreal l = s * 0.9, w = s * 0.26;
    p.setPen(QPen(QColor(90, 60, 20), 1));
    p.setBrush(QColor(240, 180, 40));
    p.drawRect(QRectF(-l / 2 + w, -w / 2, l - w * 1.6, w));
    p.setBrush(QColor(230, 120, 120));
    p.drawRect(QRectF(l / 2 - w * 0.6, -w / 2, w * 0.6, w));
    QPainterPath tip;
    tip.moveTo(-l / 2 + w, -w / 2);
    tip.lineTo(-l / 2, 0);
    tip.lineTo(-l / 2 + w, w / 2);
    tip.closeSubpath();
    p.setBrush(QColor(245, 225, 190));
    p.drawPath(tip);
}

// Toolbar pictures: a rounded tile in the button's colour with its initial.
void drawTile(QPainter& p, int s, const QColor& c, const QString& letter)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(QRectF(1, 1, s - 2, s - 2), s * 0.2, s * 0.2);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(int(s * 0.55));
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, s, s), Qt::AlignCenter, letter);
}

const QHash<QString, QPair<QColor, QString>>& tiles()
{
    static const QHash<QString, QPair<QColor, QString>> t = {
        {"cb_parametros", {QColor(90, 90, 110), "P"}},   {"cb_abonados", {QColor(30, 110, 200), "A"}},
        {"cb_panel", {QColor(0, 140, 110), "▣"}},        {"cb_configuracion", {QColor(140, 80, 170), "C"}},
        {"cb_usuarios", {QColor(200, 120, 20), "U"}},    {"cb_log", {QColor(110, 110, 60), "L"}},
        {"cb_teclado", {QColor(60, 60, 60), "#"}},       {"cb_salir", {QColor(190, 40, 40), "X"}},
        {"cb_aceptar", {QColor(30, 150, 60), "✓"}},      {"cb_cancelar", {QColor(190, 40, 40), "✕"}},
        {"cb_alta", {QColor(30, 150, 60), "+"}},         {"cb_baja", {QColor(190, 40, 40), "−"}},
        {"cb_editar", {QColor(200, 140, 20), "✎"}},      {"cb_buscar", {QColor(30, 110, 200), "?"}},
        {"cb_guardar", {QColor(30, 150, 60), "✓"}},
        {"aceptar", {QColor(30, 150, 60), "✓"}},
        {"cb_premarcar", {QColor(140, 80, 170), "✓"}},   {"cb_invertir", {QColor(140, 80, 170), "±"}},
        {"cb_subirch", {QColor(20, 100, 40), "↑"}},      {"cb_bajarsel", {QColor(140, 30, 20), "↓"}},
        {"cb_eventos", {QColor(110, 110, 60), "E"}},     {"cb_historial", {QColor(90, 70, 150), "H"}},
        {"cb_copiar", {QColor(30, 110, 200), "="}},      {"cb_modificar", {QColor(200, 140, 20), "✎"}},
        {"cb_subir", {QColor(30, 150, 60), "↑"}},        {"cb_bajar", {QColor(200, 50, 30), "↓"}},
        {"cb_desmarcar", {QColor(120, 120, 120), "○"}},  {"cb_restaurar", {QColor(30, 110, 200), "↺"}},
    };
    return t;
}

} // namespace

namespace {

QPixmap drawPicture(const QString& key, int size)
{
    const qreal ratio = 2.0;
    QPixmap pm(QSize(size, size) * ratio);
    pm.setDevicePixelRatio(ratio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    if (key == QLatin1String("modem_si") || key == QLatin1String("modem_no")) {
        drawModem(p, size, key == QLatin1String("modem_si"));
    } else if (QColor c = lampColour(key); c.isValid()) {
        QRadialGradient g(QPointF(size * 0.38, size * 0.35), size * 0.6);
        g.setColorAt(0, c.lighter(160));
        g.setColorAt(1, c);
        p.setPen(QPen(c.darker(160), 1));
        p.setBrush(g);
        p.drawEllipse(QRectF(1, 1, size - 2, size - 2));
    } else if (key == QLatin1String("subir") || key == QLatin1String("bajar")) {
        drawArrow(p, size, key == QLatin1String("subir"));
    } else if (key == QLatin1String("modificar")) {
        drawPencil(p, size);
    } else if (key == QLatin1String("reporte") || key == QLatin1String("pdf") || key == QLatin1String("cb_imprimir")) {
        // "Imprimir" buttons show the report's sheet: the printer glyph is
        // missing from common fonts and drew an empty box.
        drawSheet(p, size, key == QLatin1String("pdf"));
    } else if (tiles().contains(key)) {
        const auto& t = tiles().value(key);
        drawTile(p, size, t.first, t.second);
    } else {
        drawTile(p, size, QColor(120, 120, 120), key.isEmpty() ? QString() : key.right(1).toUpper());
    }
    return pm;
}

} // namespace

QPixmap picture(const QString& key, int size)
{
    // The console redraws its lamps after every frame: drawing each one anew
    // with antialiased gradients cost more than the link itself. The same
    // pixmap also lets a label tell that its picture did not change.
    const QString cacheKey = QStringLiteral("sorvent/%1/%2").arg(key).arg(size);
    QPixmap pm;
    if (!QPixmapCache::find(cacheKey, &pm)) {
        pm = drawPicture(key, size);
        QPixmapCache::insert(cacheKey, pm);
    }
    return pm;
}

QIcon icon(const QString& key)
{
    QIcon i;
    for (int s : {16, 24, 32})
        i.addPixmap(picture(key, s));
    return i;
}

} // namespace ui
