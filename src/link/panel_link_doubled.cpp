// Doubled answers. The protocol has no secret beyond the access code and no
// sequence numbers, so an answer forged from the panel's address (or a
// crossed line) can arrive before the panel's own and be taken. That cannot
// be prevented, but it can be noticed: on an honest line one request never
// gets two different answers. When it does, the memory run in doubt is read
// again, so what is stored, verified or compared comes from a read that had
// no rival.

#include "link/panel_link.h"

#include "link/link_log.h"

#include <utility>

void PanelLink::rememberTaken(const codec::Bytes& bytes, int count)
{
    // An answer taken after a turn went unanswered may be that turn's late
    // answer; the next one is then no rival of it.
    if (m_scheduler.retryCounter > 0) {
        m_scheduler.taken = {};
        return;
    }
    m_scheduler.taken.code = bytes[0];
    m_scheduler.taken.bytes.clear();
    for (int i = 0; i <= count && i < MaxFrameBytes; ++i)
        m_scheduler.taken.bytes << bytes[size_t(i)];
    m_scheduler.taken.runStart = m_transfer.runStart;
    m_scheduler.taken.runEnd = m_transfer.runEnd;
    m_scheduler.taken.readBack = int(m_transfer.readBack);
    m_scheduler.taken.framesSent = m_scheduler.framesSent;
}

bool PanelLink::isDoubled(const codec::Bytes& bytes, int count) const
{
    // Only before the next request goes out: after it, an old answer is
    // just late.
    if (m_scheduler.taken.code < 0 || bytes[0] != m_scheduler.taken.code || count + 1 != m_scheduler.taken.bytes.size() ||
        m_scheduler.taken.framesSent != m_scheduler.framesSent)
        return false;
    for (int i = 0; i <= count; ++i)
        if (bytes[size_t(i)] != m_scheduler.taken.bytes.at(i))
            return true;
    return false; // the same answer twice proves nothing
}

void PanelLink::doubledAnswer()
{
    ++m_scheduler.doubledAnswers;
    const RequestScheduler::TakenAnswer taken = std::exchange(m_scheduler.taken, {});
    qCWarning(lcLink, "respuesta %d distinta a otra ya tomada para el mismo pedido: posible interferencia (%d en esta conexión)",
              taken.code, m_scheduler.doubledAnswers);
    m_scheduler.doubledToReport = true;
    // Only memory can be asked for again; a status is polled anew anyway.
    if (taken.code != 0 || !readRunAgain(taken.runStart, taken.runEnd, taken.readBack))
        reportDoubledAnswers();
}

bool PanelLink::readRunAgain(int start, int end, int readBack)
{
    if (!connected() || end <= start || start < 0 || end >= MemorySize)
        return false;
    const auto kind = ReadBack(readBack);
    QList<int> sections;
    for (int a = start; a < end; ++a) {
        const int s = m_transfer.addressSection[size_t(a)];
        if (s != NoSection && !sections.contains(s))
            sections << s;
    }
    if (kind == ReadBack::None) {
        // A download run: marked to be read again; the sections it touches
        // are stored anew from that read.
        if (m_transfer.writePending || m_transfer.eventsPending || (m_transfer.readPending && m_transfer.readBack != ReadBack::None))
            return false;
        for (int a = start; a < end; ++a)
            m_transfer.transferMarks[size_t(a)] = -1;
        m_transfer.readPending = true;
    } else {
        const bool running = m_transfer.readBack == kind;
        if (!running && (m_transfer.writePending || m_transfer.readPending || m_transfer.eventsPending))
            return false;
        if (kind == ReadBack::Verify && !running) {
            // The upload was taken as proven on a doubtful answer: this run
            // is verified again (and sent again where it differs).
            for (int a = 0; a < MemorySize; ++a)
                m_transfer.toVerify[size_t(a)] = m_transfer.toVerify[size_t(a)] && a >= start && a < end;
            m_transfer.uploadSections = int(m_transfer.sectionsOf(m_transfer.toVerify).size());
            m_transfer.verifyPass = qMax(m_transfer.verifyPass, 1);
        }
        for (int a = start; a < end; ++a) {
            const size_t i = size_t(a);
            m_transfer.comparison.wanted[i] = kind == ReadBack::Verify ? m_transfer.toVerify[i] : m_transfer.addressSection[i] != NoSection;
            m_transfer.comparison.known[i] = false;
        }
        if (!running) {
            m_transfer.readBack = kind;
            (kind == ReadBack::Verify ? m_transfer.writePending : m_transfer.readPending) = true;
        }
    }
    for (int s : std::as_const(sections))
        m_transfer.rereadSections.insert(s);
    return true;
}

void PanelLink::reportDoubledAnswers()
{
    if (!m_scheduler.doubledToReport)
        return;
    m_scheduler.doubledToReport = false;
    if (m_scheduler.doubledReported)
        return;
    m_scheduler.doubledReported = true;
    const int n = int(m_transfer.rereadSections.size());
    const QString text =
        QStringLiteral("Se recibieron respuestas distintas a un mismo pedido: posible interferencia en la línea o en la "
                       "red. %1")
            .arg(n == 1 ? QStringLiteral("Se volvió a leer 1 sección.")
                        : QStringLiteral("Se volvieron a leer %1 secciones.").arg(n));
    qCWarning(lcLink, "%s", qPrintable(text));
    queueMessage(QStringLiteral("Atención"), text, MessageService::Icon::Warning);
}
