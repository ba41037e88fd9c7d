#include "link/serialport.h"

QByteArray SerialPort::input()
{
    if (m_in.isEmpty())
        return {};
    QByteArray c = m_in.left(1);
    m_in.remove(0, 1);
    return c;
}

void SerialPort::deliver(const QByteArray& chunk)
{
    for (char ch : chunk) {
        if (m_in.size() >= InBufferSize) {
            emit commEvent(ErRxOver);
            continue;
        }
        m_in.append(ch);
        emit commEvent(EvReceive);
    }
}

QString serialSettingsFor(int speed)
{
    return QStringLiteral("%1,N,8,2").arg(speed);
}
