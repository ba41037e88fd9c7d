#pragma once
// The virtual keypad: an on-screen copy of the panel keypad that drives a
// keypad interface on the station's serial port. Key presses go out as
// "AT@T"/"AT@F" commands; the interface's "LEDS" lines light the 20 LEDs
// and its beep requests sound the system beep. While it is open the link
// hands it every serial event (teclado_Comm).

#include "keypad/rx_decode.h"
#include "session/station_context.h"

#include <QColor>
#include <QSet>
#include <QWidget>
#include <array>
#include <functional>

class PanelLink;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class SerialPort;

// A round LED: filled with its colour when lit, only its outline when not.
class KeypadLed : public QWidget {
    Q_OBJECT
public:
    KeypadLed(const QColor& colour, QWidget* parent);
    void setLit(bool lit);
    bool isLit() const { return m_lit; }
    // Grey: the LED's state is not known (the interface's line is down).
    void setUnknown(bool unknown);
    bool isUnknown() const { return m_unknown; }
    QColor colour() const { return m_colour; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor m_colour;
    bool m_lit = false;
    bool m_unknown = true;
};

class w_teclado : public QWidget {
    Q_OBJECT
    StationContext& m_ctx;
    PanelLink& m_link;

public:
    w_teclado(StationContext& ctx, PanelLink& link, QWidget* parent = nullptr);
    ~w_teclado() override;


    QSize sizeHint() const override;

    // Serial event of com_main while the keypad is open.
    void teclado_Comm(int event);
    void rx_decode();
    void show_leds();
    void Timer1_Timer();
    void Timer2_Timer();
    // tmr_linea, every few seconds: while the line is down, opens the port
    // again and, once it opens, asks for the LED state.
    void tmr_linea_Timer();
    bool lineUp() const { return m_lineUp; }
    // A key goes down (mouse or PC keyboard, after the key map) and any key
    // comes up. `key` is the character after "AT@T".
    void keyDown(char key);
    void keyUp();

    // The key a PC-keyboard key stands for ('#' for every unlisted key).
    static char mappedKey(int qtKey, Qt::KeyboardModifiers modifiers);

    QFrame* Frame1;
    QFrame* Frame2;
    QFrame* Frame3;
    std::array<KeypadLed*, 20> led{};
    std::array<QLabel*, 19> led_label{};
    std::array<QPushButton*, 12> keynum{};
    std::array<QPushButton*, 3> keyfun{};
    QLineEdit* Text1;
    QPushButton* Command1;
    QTimer* Timer1;
    QTimer* Timer2;
    // The line state under the keys, and the timer that retries a line that
    // is down.
    QLabel* st_linea;
    QTimer* tmr_linea;

    // Window state.
    keypad::LineBuffer m_buffer;
    qint32 m_steady = 0;
    qint32 m_blink = 0;
    bool m_phase = false;
    qint16 ii_hold = 0;
    QByteArray m_hold;
    bool m_keyHeld = false;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void buildLineControls();
    SerialPort* port() const;
    void send(const QByteArray& command);
    void release();
    void setLine(bool up);
    QByteArray m_line;
    bool m_released = false;
    bool m_lineUp = false;
    bool m_ledsKnown = false; // a LEDS line has come since the line came up
    // PC-keyboard keys down now, and the one whose hold is counting (0: the
    // mouse's, or none).
    QSet<quint32> m_held;
    quint32 m_holdKey = 0;
};
