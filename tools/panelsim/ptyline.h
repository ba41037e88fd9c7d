#pragma once
// The simulator's end of a pseudo-terminal: the station opens the other end
// (through a "COMn" link) as its serial port. Shared by the modem and the
// keypad interface.

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;
class QTimer;

namespace panelsim {

class PtyLine : public QObject {
    Q_OBJECT
public:
    explicit PtyLine(QObject* parent = nullptr);
    ~PtyLine() override;

    bool open(QString* error = nullptr);
    QString slavePath() const { return m_slavePath; }
    // Makes `dir`/COMn point at the station's end.
    bool linkAs(const QString& dir, int n, QString* error = nullptr) const;
    bool isOpen() const { return m_lineOpen; } // the station holds its end open
    // Writes to the station; nothing reaches a line nobody holds open.
    void write(const QByteArray& bytes);

signals:
    void received(const QByteArray& bytes);
    void closed(); // the station closed its end

private:
    void checkLine();
    void onReadable();

    int m_master = -1;
    QString m_slavePath;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_linePoll;
    bool m_lineOpen = false;
};

} // namespace panelsim
