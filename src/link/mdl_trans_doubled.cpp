// Doubled answers. The protocol has no secret beyond the access code and no
// sequence numbers, so an answer forged from the panel's address (or a
// crossed line) can arrive before the panel's own and be taken. That cannot
// be prevented, but it can be noticed: on an honest line one request never
// gets two different answers. When it does, the memory run in doubt is read
// again, so what is stored, verified or compared comes from a read that had
// no rival.

#include "link/mdl_trans.h"

#include "link/mdl_trans_log.h"

#include <utility>

void mdl_trans::rememberTaken(const codec::Bytes& bytes, int count)
{
    // An answer taken after a turn went unanswered may be that turn's late
    // answer; the next one is then no rival of it.
    if (m_retryCounter > 0) {
        m_taken = {};
        return;
    }
    m_taken.code = bytes[0];
    m_taken.bytes.clear();
    for (int i = 0; i <= count && i < MaxFrameBytes; ++i)
        m_taken.bytes << bytes[size_t(i)];
    m_taken.runStart = m_runStart;
    m_taken.runEnd = m_runEnd;
    m_taken.readBack = int(m_readBack);
    m_taken.framesSent = m_framesSent;
}

bool mdl_trans::isDoubled(const codec::Bytes& bytes, int count) const
{
    // Only before the next request goes out: after it, an old answer is
    // just late.
    if (m_taken.code < 0 || bytes[0] != m_taken.code || count + 1 != m_taken.bytes.size() ||
        m_taken.framesSent != m_framesSent)
        return false;
    for (int i = 0; i <= count; ++i)
        if (bytes[size_t(i)] != m_taken.bytes.at(i))
            return true;
    return false; // the same answer twice proves nothing
}

void mdl_trans::doubledAnswer()
{
    ++m_doubledAnswers;
    const TakenAnswer taken = std::exchange(m_taken, {});
    qCWarning(lcLink, "respuesta %d distinta a otra ya tomada para el mismo pedido: posible interferencia (%d en esta conexión)",
              taken.code, m_doubledAnswers);
    m_doubledToReport = true;
    // Only memory can be asked for again; a status is polled anew anyway.
    if (taken.code != 0 || !readRunAgain(taken.runStart, taken.runEnd, taken.readBack))
        reportDoubledAnswers();
}

bool mdl_trans::readRunAgain(int start, int end, int readBack)
{
    if (!connected() || end <= start || start < 0 || end >= MemorySize)
        return false;
    const auto kind = ReadBack(readBack);
    QList<int> sections;
    for (int a = start; a < end; ++a) {
        const int s = m_addressSection[size_t(a)];
        if (s != NoSection && !sections.contains(s))
            sections << s;
    }
    if (kind == ReadBack::None) {
        // A download run: marked to be read again; the sections it touches
        // are stored anew from that read.
        if (m_writePending || m_eventsPending || (m_readPending && m_readBack != ReadBack::None))
            return false;
        for (int a = start; a < end; ++a)
            m_transferMarks[size_t(a)] = -1;
        m_readPending = true;
    } else {
        const bool running = m_readBack == kind;
        if (!running && (m_writePending || m_readPending || m_eventsPending))
            return false;
        if (kind == ReadBack::Verify && !running) {
            // The upload was taken as proven on a doubtful answer: this run
            // is verified again (and sent again where it differs).
            for (int a = 0; a < MemorySize; ++a)
                m_toVerify[size_t(a)] = m_toVerify[size_t(a)] && a >= start && a < end;
            m_uploadSections = int(sectionsOf(m_toVerify).size());
            m_verifyPass = qMax(m_verifyPass, 1);
        }
        for (int a = start; a < end; ++a) {
            const size_t i = size_t(a);
            m_comparison.wanted[i] = kind == ReadBack::Verify ? m_toVerify[i] : m_addressSection[i] != NoSection;
            m_comparison.known[i] = false;
        }
        if (!running) {
            m_readBack = kind;
            (kind == ReadBack::Verify ? m_writePending : m_readPending) = true;
        }
    }
    for (int s : std::as_const(sections))
        m_rereadSections.insert(s);
    return true;
}

void mdl_trans::reportDoubledAnswers()
{
    if (!m_doubledToReport)
        return;
    m_doubledToReport = false;
    if (m_doubledReported)
        return;
    m_doubledReported = true;
    const int n = int(m_rereadSections.size());
    const QString text =
        QStringLiteral("Se recibieron respuestas distintas a un mismo pedido: posible interferencia en la línea o en la "
                       "red. %1")
            .arg(n == 1 ? QStringLiteral("Se volvió a leer 1 sección.")
                        : QStringLiteral("Se volvieron a leer %1 secciones.").arg(n));
    qCWarning(lcLink, "%s", qPrintable(text));
    m_messages.append({QStringLiteral("Atención"), text, MessageService::Icon::Warning});
    emit messageQueued();
}
