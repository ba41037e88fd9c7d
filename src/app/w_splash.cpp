#include "app/w_splash.h"

#include "ui/ui_geometry.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

w_splash::w_splash(QWidget* parent) : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("w_splash"));
    setFixedSize(ui::twipsSize(4500, 3000));
    ui::centreOnScreen(this);
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setSingleShot(true);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &w_splash::elapsed);
    Timer1->start();
}

void w_splash::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, QColor(20, 60, 110));
    g.setColorAt(1, QColor(10, 25, 50));
    p.fillRect(rect(), g);
    // A shield with a keyhole: the station's mark.
    const qreal s = height() * 0.42, cx = width() / 2.0, top = height() * 0.12;
    QPainterPath shield;
    shield.moveTo(cx, top);
    shield.lineTo(cx + s * 0.45, top + s * 0.15);
    shield.quadTo(cx + s * 0.45, top + s * 0.8, cx, top + s);
    shield.quadTo(cx - s * 0.45, top + s * 0.8, cx - s * 0.45, top + s * 0.15);
    shield.closeSubpath();
    p.setPen(QPen(QColor(230, 190, 60), 3));
    p.setBrush(QColor(40, 110, 180));
    p.drawPath(shield);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(230, 190, 60));
    p.drawEllipse(QPointF(cx, top + s * 0.42), s * 0.09, s * 0.09);
    p.drawRect(QRectF(cx - s * 0.04, top + s * 0.45, s * 0.08, s * 0.22));
    QFont f = font();
    f.setPointSize(20);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, height() * 0.62, width(), height() * 0.18), Qt::AlignCenter, QStringLiteral("Quendal Sorvent"));
    f.setPointSize(9);
    f.setBold(false);
    p.setFont(f);
    p.setPen(QColor(190, 205, 225));
    p.drawText(QRectF(0, height() * 0.8, width(), height() * 0.12), Qt::AlignCenter,
               QStringLiteral("Programación y monitoreo de paneles de alarma"));
}
