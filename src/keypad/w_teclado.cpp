#include "keypad/w_teclado.h"

#include "ui/ui_geometry.h"
#include "link/panel_link.h"
#include "link/serialport.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTimer>


namespace {

const QColor Red(255, 0, 0);
const QColor Green(0, 255, 0);
const QColor Yellow(255, 255, 0);

constexpr int LedSize = 255;
constexpr int ClientHeight = 4940; // twips: the keypad, then the line state
constexpr int KeySize = 615;

// Keys of the number pad in button order: 1-9, *, 0, #.
constexpr char NumKeys[12] = {'1', '2', '3', '4', '5', '6', '7', '8', '9', '*', '0', '#'};
// The function keys "P", "F", "A" go out as X, Y, Z.
constexpr char FunCaptions[3] = {'P', 'F', 'A'};
constexpr char FunKeys[3] = {'X', 'Y', 'Z'};

QRect twipsRect(int x, int y, int w, int h)
{
    return {ui::twips(x), ui::twips(y), ui::twips(w), ui::twips(h)};
}

QFrame* frame(QWidget* parent, const char* name, int x, int y, int w, int h)
{
    auto* f = new QFrame(parent);
    f->setObjectName(QLatin1String(name));
    f->setFrameShape(QFrame::Box);
    f->setFrameShadow(QFrame::Sunken);
    f->setGeometry(twipsRect(x, y, w, h));
    return f;
}

QPushButton* keyButton(QWidget* parent, const QString& name, const QString& caption, const QRect& r)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    // The window takes the PC keyboard; the buttons only take the mouse.
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRepeat(false);
    QFont f = b->font();
    f.setBold(true);
    if (f.pointSizeF() > 0)
        f.setPointSizeF(f.pointSizeF() * 1.4);
    b->setFont(f);
    b->setGeometry(r);
    return b;
}

} // namespace

KeypadLed::KeypadLed(const QColor& colour, QWidget* parent) : QWidget(parent), m_colour(colour)
{
}

void KeypadLed::setLit(bool lit)
{
    if (lit == m_lit)
        return;
    m_lit = lit;
    update();
}

void KeypadLed::setUnknown(bool unknown)
{
    if (unknown == m_unknown)
        return;
    m_unknown = unknown;
    setAccessibleDescription(unknown ? QStringLiteral("desconocido") : QString());
    update();
}

void KeypadLed::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
    p.setPen(QPen(palette().color(QPalette::WindowText), 1));
    p.setBrush(m_unknown ? QBrush(Qt::lightGray) : m_lit ? QBrush(m_colour) : Qt::NoBrush);
    p.drawEllipse(r);
}

w_teclado::w_teclado(StationContext& ctx, PanelLink& link, QWidget* parent) : QWidget(parent), m_ctx(ctx), m_link(link)
{
    setObjectName(QStringLiteral("w_teclado"));
    setWindowTitle(QStringLiteral("QUENDAL                VXA-410"));
    setFocusPolicy(Qt::StrongFocus);

    Frame1 = frame(this, "Frame1", 60, 0, 2055, 4575);
    Frame2 = frame(this, "Frame2", 2160, 0, 2535, 3255);
    Frame3 = frame(this, "Frame3", 2160, 3240, 2535, 1335);

    // LED k, its colour and place; captions by their own index.
    auto makeLed = [this](int k, const QColor& c, int x, int y) {
        led[k] = new KeypadLed(c, Frame1);
        led[k]->setObjectName(QStringLiteral("led_%1").arg(k));
        led[k]->setGeometry(twipsRect(x, y, LedSize, LedSize));
    };
    auto makeLabel = [this](int i, const QString& text, int x, int y, int w, Qt::Alignment a) {
        led_label[i] = new QLabel(text, Frame1);
        led_label[i]->setObjectName(QStringLiteral("led_label_%1").arg(i));
        led_label[i]->setAlignment(a | Qt::AlignVCenter);
        led_label[i]->setGeometry(twipsRect(x, y - 30, w, LedSize + 60));
    };
    for (int z = 0; z < 8; ++z) {
        const int y = 1440 + z * 360;
        makeLed(z, Red, 240, y);
        makeLed(z + 8, Red, 1560, y);
        makeLabel(z, QStringLiteral("Z%1").arg(z + 1), 600, y, 480, Qt::AlignLeft);
        makeLabel(z + 8, QStringLiteral("Z%1").arg(z + 9), 1080, y, 420, Qt::AlignRight);
    }
    makeLed(16, Green, 240, 360);
    makeLed(17, Red, 240, 720);
    makeLed(18, Yellow, 240, 1080);
    makeLed(19, Yellow, 1560, 360);
    makeLabel(18, QStringLiteral("LISTO"), 600, 360, 900, Qt::AlignLeft);
    makeLabel(17, QStringLiteral("ARMADO"), 600, 720, 1200, Qt::AlignLeft);
    makeLabel(16, QStringLiteral("SISTEMA"), 600, 1080, 1200, Qt::AlignLeft);

    for (int i = 0; i < 12; ++i) {
        const QRect r = twipsRect(240 + (i % 3) * 720, 240 + (i / 3) * 720, KeySize, KeySize);
        keynum[i] = keyButton(Frame2, QStringLiteral("keynum_%1").arg(i), QString(QLatin1Char(NumKeys[i])), r);
        const char key = NumKeys[i];
        connect(keynum[i], &QPushButton::pressed, this, [this, key] { keyDown(key); });
        connect(keynum[i], &QPushButton::released, this, &w_teclado::keyUp);
    }
    for (int i = 0; i < 3; ++i) {
        const QRect r = twipsRect(240 + i * 720, 240, KeySize, 975);
        keyfun[i] = keyButton(Frame3, QStringLiteral("keyfun_%1").arg(i), QString(QLatin1Char(FunCaptions[i])), r);
        const char key = FunKeys[i];
        connect(keyfun[i], &QPushButton::pressed, this, [this, key] { keyDown(key); });
        connect(keyfun[i], &QPushButton::released, this, &w_teclado::keyUp);
    }

    buildLineControls();

    ui::sizeWindow(this, 4760, ClientHeight);

    // Opening: the keypad takes the port over from the link and asks the
    // interface for the LED state.
    SerialPort* com = port();
    if (com && com->isOpen())
        com->close();
    link.setKeypad([this](int event) { teclado_Comm(event); });
    m_buffer.clear();
    m_phase = false;
    m_steady = m_blink = 0;
    setLine(com && com->open());
    if (m_lineUp)
        send("AT@L");
    m_keyHeld = false;
    Timer1->start();
    Timer2->start();
    tmr_linea->start();
}

// The diagnostics box, the line state and the three timers.
void w_teclado::buildLineControls()
{
    // Diagnostics, below the visible area.
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setReadOnly(true);
    Text1->setFocusPolicy(Qt::NoFocus);
    Text1->setGeometry(twipsRect(120, 5000, 1500, 315));
    Command1 = new QPushButton(QStringLiteral("Limpiar"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setFocusPolicy(Qt::NoFocus);
    Command1->setGeometry(twipsRect(1740, 5000, 1000, 315));
    connect(Command1, &QPushButton::clicked, Text1, &QLineEdit::clear);

    // The line state, under the keys: the error code above stays hidden.
    st_linea = new QLabel(this);
    st_linea->setObjectName(QStringLiteral("st_linea"));
    st_linea->setGeometry(twipsRect(60, 4600, 4635, 300));
    st_linea->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &w_teclado::Timer1_Timer);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(100);
    connect(Timer2, &QTimer::timeout, this, &w_teclado::Timer2_Timer);
    tmr_linea = new QTimer(this);
    tmr_linea->setObjectName(QStringLiteral("tmr_linea"));
    tmr_linea->setInterval(3000);
    connect(tmr_linea, &QTimer::timeout, this, &w_teclado::tmr_linea_Timer);
}

w_teclado::~w_teclado()
{
    release();
}

QSize w_teclado::sizeHint() const
{
    // The client area of a 4850 x 5000 window and the line state under the
    // keys; Text1 and Command1 lie below it.
    return ui::twipsSize(4760, ClientHeight);
}

void w_teclado::closeEvent(QCloseEvent* e)
{
    release();
    QWidget::closeEvent(e);
}

void w_teclado::release()
{
    // Closing sends nothing and leaves the port open: the link serves it again.
    if (m_released)
        return;
    m_released = true;
    Timer1->stop();
    Timer2->stop();
    tmr_linea->stop();
    PanelLink& link = m_link;
    link.clearKeypad();
}

SerialPort* w_teclado::port() const
{
    return m_link.comPort();
}

void w_teclado::send(const QByteArray& command)
{
    SerialPort* com = port();
    if (com && com->isOpen())
        com->write(command + '\r');
}

void w_teclado::teclado_Comm(int event)
{
    SerialPort* com = port();
    if (!com)
        return;
    if (event >= 1001) {
        Text1->setText(QString::number(event));
        com->close();
        setLine(com->open());
        return;
    }
    if (event != SerialPort::EvReceive || com->inBufferCount() < 1)
        return;
    const QByteArray c = com->input();
    if (c.isEmpty())
        return;
    if (m_buffer.feed(c.at(0), &m_line))
        rx_decode();
}

void w_teclado::setLine(bool up)
{
    m_lineUp = up;
    st_linea->setText(up ? QStringLiteral("Línea: conectada") : QStringLiteral("Línea: sin conexión, reintentando"));
    st_linea->setStyleSheet(up ? QString() : QStringLiteral("color: #b00000;"));
    // Without the line the panel's LEDs are not known, whatever they last
    // showed: grey until the interface tells them again.
    if (!up)
        m_ledsKnown = false;
    show_leds();
}

void w_teclado::tmr_linea_Timer()
{
    SerialPort* com = port();
    if (m_lineUp || !com)
        return;
    com->close();
    if (!com->open())
        return;
    setLine(true);
    // The LEDs may have changed while the line was down.
    send("AT@L");
}

void w_teclado::rx_decode()
{
    const keypad::Decoded d = keypad::rx_decode(m_line);
    m_line.clear();
    if (d.kind == keypad::Decoded::Leds) {
        m_steady = d.steady;
        m_blink = d.blink;
        m_ledsKnown = true;
        show_leds();
    } else if (d.kind == keypad::Decoded::Beep) {
        if (m_ctx.beep)
            m_ctx.beep();
        else
            QApplication::beep();
    }
}

void w_teclado::show_leds()
{
    const quint32 shown = keypad::shownLeds(m_steady, m_blink, m_phase);
    const bool known = m_lineUp && m_ledsKnown;
    for (int k = 0; k < 20; ++k) {
        led[k]->setUnknown(!known);
        led[k]->setLit(known && (shown & (1u << k)));
    }
}

void w_teclado::Timer1_Timer()
{
    m_phase = !m_phase;
    show_leds();
}

void w_teclado::Timer2_Timer()
{
    if (ii_hold > 0 && --ii_hold == 0)
        send(m_hold);
}

void w_teclado::keyDown(char key)
{
    m_holdKey = 0;
    ii_hold = 15;
    send(QByteArray("AT@T") + key);
    m_hold = QByteArray("AT@F") + key;
}

void w_teclado::keyUp()
{
    ii_hold = 0;
}

char w_teclado::mappedKey(int qtKey, Qt::KeyboardModifiers modifiers)
{
    // Digits from the main row (a laptop has no numeric pad) or the pad.
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return char('0' + (qtKey - Qt::Key_0));
    if (modifiers & Qt::KeypadModifier) {
        // The pad with NumLock off still means its digits.
        const int padKeys[10] = {Qt::Key_Insert, Qt::Key_End,   Qt::Key_Down, Qt::Key_PageDown, Qt::Key_Left,
                                 Qt::Key_Clear,  Qt::Key_Right, Qt::Key_Home, Qt::Key_Up,       Qt::Key_PageUp};
        for (int d = 0; d < 10; ++d)
            if (qtKey == padKeys[d])
                return char('0' + d);
        if (qtKey == Qt::Key_Asterisk)
            return '*';
    }
    switch (qtKey) {
    case Qt::Key_P: return 'X';
    case Qt::Key_F: return 'Y';
    case Qt::Key_A: return 'Z';
    default: return '#';
    }
}

namespace {

// One physical key, whatever its modifiers make of its key code.
quint32 keyId(const QKeyEvent* e)
{
    return e->nativeScanCode() != 0 ? e->nativeScanCode() : quint32(e->key());
}

} // namespace

void w_teclado::keyPressEvent(QKeyEvent* e)
{
    // Auto-repeat of a key already down sends nothing more; the hold
    // command comes from Timer2. Another key pressed before the first is
    // released (fast typing) sends its own tap and takes over the hold.
    const quint32 id = keyId(e);
    if (e->isAutoRepeat() || m_held.contains(id))
        return;
    m_held.insert(id);
    m_keyHeld = true;
    keyDown(mappedKey(e->key(), e->modifiers()));
    m_holdKey = id;
}

void w_teclado::keyReleaseEvent(QKeyEvent* e)
{
    // The toolkit pairs every auto-repeated press with a release: only the
    // real release counts, and only the key being held ends the hold.
    if (e->isAutoRepeat())
        return;
    const quint32 id = keyId(e);
    m_held.remove(id);
    m_keyHeld = !m_held.isEmpty();
    if (id == m_holdKey)
        keyUp();
}

void w_teclado::focusOutEvent(QFocusEvent* e)
{
    // Keys released in another window never come back here as releases:
    // none counts as held any more, and no hold command goes out for one.
    m_held.clear();
    m_keyHeld = false;
    if (m_holdKey != 0)
        keyUp();
    QWidget::focusOutEvent(e);
}
