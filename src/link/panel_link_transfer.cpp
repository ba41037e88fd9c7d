// Memory map transfer and event log download: the scheduler and the decoder
// of PanelLink call these. The subscriber's values become a memory image with
// one transfer mark per address; runs of up to 16 marked addresses go to or
// come from the panel, and each answer is stored in one transaction while
// the ticks are held (no turn may start in the middle of it).

#include "link/panel_link.h"

#include "data/link_store.h"
#include "data/messages.h"
#include "link/frame_codec.h"
#include "link/linkhost.h"
#include "link/linkconsole.h"
#include "link/section_values.h"

#include <QDate>
#include <QTime>
#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const QString& unexpectedError()
{
    static const QString t = QStringLiteral("Se produjo un error inesperado");
    return t;
}

} // namespace

// ---------------------------------------------------------------------------
// Loading

void PanelLink::requestTransfer(Transfer kind)
{
    switch (kind) {
    case Transfer::Write: m_transfer.writePending = true; break;
    case Transfer::Read: m_transfer.readPending = true; break;
    case Transfer::Events: m_transfer.eventsPending = true; break;
    }
}

bool PanelLink::loadTransfer(const LinkSubscriber& subscriber)
{
    m_subscriber = subscriber;
    m_transfer.clearImage();
    m_view.pb_progreso = 0;
    const std::optional<QList<LinkValueRow>> rows =
        m_host ? m_host->linkStore()->transferValues(subscriber.number) : std::nullopt;
    if (!rows || !m_transfer.buildImage(*rows))
        return loadFailed();
    if (m_transfer.writePending)
        m_transfer.verifyUploads = !m_host || m_host->linkStore()->verifyUploads();
    return true;
}

bool PanelLink::loadFailed()
{
    // A half-built image must not be moved: the marks and the pending flags
    // go, and the operator sees why nothing happens.
    m_transfer.transferMarks.fill(0);
    m_transfer.writePending = false;
    m_transfer.readPending = false;
    m_transfer.progressTotal = 0;
    if (m_host)
        m_host->showMessage(QStringLiteral("error"), unexpectedError());
    else
        qWarning("%s", qPrintable(unexpectedError()));
    return false;
}

// ---------------------------------------------------------------------------
// Runs

void PanelLink::nextRun(int mark)
{
    m_scheduler.waitCountdown = 500;
    if (!m_transfer.findRun(mark)) {
        if (mark == 1 && beginVerification())
            return;
        if (mark == -1)
            rememberDownload();
        (mark == 1 ? m_transfer.writePending : m_transfer.readPending) = false;
        m_scheduler.waitCountdown = 1;
        // The bar clears itself at the end; the status line keeps the summary.
        finishProgress();
        setOutcome(QStringLiteral("%1: %2").arg(mark == 1 ? QStringLiteral("Subida terminada")
                                                          : QStringLiteral("Bajada terminada"),
                                                counted(m_transfer.sectionsDone, "sección", "secciones")));
        if (mark == -1 && m_console)
            m_console->downloadStored();
        reportDoubledAnswers();
        return;
    }
    if (mark == 1) {
        QList<int> bytes;
        bytes.reserve(m_transfer.runEnd - m_transfer.runStart);
        for (int i = m_transfer.runStart; i < m_transfer.runEnd; ++i)
            bytes << m_transfer.memoryImage[size_t(i)];
        writeMemory(m_transfer.runStart, bytes);
    } else {
        requestMemory(m_transfer.runStart, m_transfer.runEnd - m_transfer.runStart);
    }
}

void PanelLink::nextWriteRun()
{
    if (m_transfer.readBack == ReadBack::Verify)
        nextReadBackRun();
    else
        nextRun(1);
}

void PanelLink::nextReadRun()
{
    if (m_transfer.readBack == ReadBack::Compare)
        nextReadBackRun();
    else
        nextRun(-1);
}

// ---------------------------------------------------------------------------
// Answers

void PanelLink::takeWriteAnswer(int count)
{
    Q_UNUSED(count);
    if (m_transfer.runEnd <= m_transfer.runStart)
        return;
    m_scheduler.ticksSuspended = true;
    // The sections before each change of section in the run (and at its
    // end) have been written completely.
    QList<int> written;
    int prev = m_transfer.addressSection[size_t(m_transfer.runStart)];
    for (int a = m_transfer.runStart; a <= m_transfer.runEnd; ++a) {
        const int s = a < MemorySize ? m_transfer.addressSection[size_t(a)] : NoSection;
        if (s != prev) {
            if (prev != NoSection)
                written << prev;
            prev = s;
        }
    }
    if (m_host && m_host->linkStore()->sectionsWritten(m_subscriber.number, written)) {
        for (qsizetype i = 0; i < written.size(); ++i)
            progressStep();
        for (int a = m_transfer.runStart; a < m_transfer.runEnd; ++a)
            m_transfer.transferMarks[size_t(a)] = 0;
        // The run is done: a second acknowledgement of it changes nothing.
        m_transfer.runEnd = m_transfer.runStart;
    } else {
        unexpectedErrorInAnswer();
    }
    m_scheduler.ticksSuspended = false;
}

void PanelLink::takeMemoryAnswer(int count)
{
    Q_UNUSED(count);
    // decodeFrame has checked that the answer holds the whole run.
    if (m_transfer.runEnd <= m_transfer.runStart)
        return;
    if (m_transfer.readBack != ReadBack::None) {
        readBackReceived();
        return;
    }
    m_scheduler.ticksSuspended = true;
    for (int k = 0; k < m_transfer.runEnd - m_transfer.runStart; ++k) {
        const int a = m_transfer.runStart + k;
        m_transfer.memoryImage[size_t(a)] = qint16(m_rxFrame[size_t(1 + k)]);
        m_transfer.transferMarks[size_t(a)] = 0;
        // What the panel answered is what it holds: kept for the known
        // image, written once when the download ends.
        m_transfer.downloadBytes[a] = char(m_rxFrame[size_t(1 + k)]);
        m_transfer.downloadKnown[a] = 1;
    }
    // Every section of the run that has no address left to read is stored:
    // in address order that is each one ending here, and after a run read
    // again also the ones it corrected. The sections of one answer are
    // stored together, all or none: those that cannot be stored keep their
    // marks in the database, and the transfer stops with one message.
    QList<int> touched, complete;
    for (int a = m_transfer.runStart; a < m_transfer.runEnd; ++a) {
        const int s = m_transfer.addressSection[size_t(a)];
        if (s != NoSection && !touched.contains(s))
            touched << s;
    }
    for (int s : std::as_const(touched)) {
        bool done = true;
        for (int a = 0; a < MemorySize && done; ++a)
            done = !(m_transfer.addressSection[size_t(a)] == s && m_transfer.transferMarks[size_t(a)] == -1);
        if (done)
            complete << s;
    }
    const bool failed = !storeSections(complete);
    m_transfer.runEnd = m_transfer.runStart;
    if (failed)
        unexpectedErrorInAnswer();
    m_scheduler.ticksSuspended = false;
}

void PanelLink::unexpectedErrorInAnswer()
{
    // A store that failed once (a full disk, a lost server) fails on the
    // next answer too: the transfer stops here and the call ends with its
    // end frames. What was not stored keeps its marks in the database, and
    // the line counts only what was stored.
    const bool events = m_transfer.eventsPending;
    const int stored = m_transfer.sectionsDone;
    const int marked = qMax(0, int(std::lround(m_transfer.progressTotal)) - m_transfer.sectionsDone);
    const QString why = m_host ? m_host->takeStoreError() : QString();
    m_transfer.transferMarks.fill(0);
    m_transfer.writePending = m_transfer.readPending = m_transfer.eventsPending = false;
    m_transfer.readBack = ReadBack::None;
    m_transfer.progressTotal = 0;
    m_transfer.progressPercent = 0;
    showProgress();
    if (connected() && m_scheduler.pendingCommand != CmdEnd)
        setPendingCommand(CmdEnd);
    if (m_transfer.storeFailureSaid)
        return;
    m_transfer.storeFailureSaid = true;
    setOutcome(events ? QStringLiteral("Descarga de eventos detenida. Eventos guardados: %1").arg(m_transfer.eventsStored)
                      : QStringLiteral("Transferencia detenida. Secciones guardadas: %1; siguen marcadas: %2")
                            .arg(stored)
                            .arg(marked));
    QString text = QStringLiteral("No se pudo guardar lo recibido del panel: la transferencia se detuvo y la "
                                  "comunicación termina.\n%1.")
                       .arg(m_outcome);
    text += QLatin1Char('\n') + (why.isEmpty() ? unexpectedError() : why);
    queueMessage(QStringLiteral("Error"), text, MessageService::Icon::Critical);
}

bool PanelLink::storeSections(const QList<int>& sections)
{
    QList<LinkSectionRead> read;
    for (const int s : sections)
        read.append({s, sectionValues(m_transfer.memoryImage.data(), m_transfer.addressSection.data(),
                                      m_transfer.addressType.data(), MemorySize, s)});
    if (read.isEmpty())
        return true;
    if (!m_host || !m_host->linkStore()->storeSections(m_subscriber.number, read))
        return false;
    // A section stored again (read again after a doubled answer) is no
    // further progress.
    for (const int s : sections) {
        if (!m_transfer.storedSections.contains(s)) {
            m_transfer.storedSections.insert(s);
            progressStep();
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Progress

void PanelLink::progressStep()
{
    ++m_transfer.sectionsDone;
    if (m_transfer.progressTotal <= 0)
        return;
    m_transfer.progressPercent += 100.0 / m_transfer.progressTotal;
    // A finished transfer clears the bar.
    if (m_transfer.progressPercent >= 99.99)
        m_transfer.progressPercent = 0;
    showProgress();
}

void PanelLink::finishProgress()
{
    m_transfer.progressPercent = 0;
    showProgress();
}

void PanelLink::showProgress()
{
    const int rounded = int(std::lround(m_transfer.progressPercent));
    m_view.pb_progreso = rounded;
    m_view.items[QStringLiteral("st_progreso")].caption =
        m_transfer.progressPercent <= 0 ? QString() : QStringLiteral("%1%").arg(rounded, 2, 10, QLatin1Char('0'));
    changed();
}

// ---------------------------------------------------------------------------
// Event log

LinkEventRow PanelLink::eventRow(int eventByte, int parametro, const QString& fecha) const
{
    return {m_subscriber.number, m_subscriber.model, eventByte & 127, parametro, fecha, eventByte >= 128 ? 1 : 0};
}

void PanelLink::holdEvents(const QList<LinkEventRow>& rows)
{
    if (m_transfer.heldEvents.isEmpty())
        m_transfer.heldTicks = 0;
    m_transfer.heldEvents += rows;
    if (m_transfer.heldEvents.size() >= TransferSession::heldEventsMax)
        storeHeldEvents();
    else
        changed(); // the status line counts them
}

bool PanelLink::storeHeldEvents()
{
    if (!m_host)
        m_transfer.heldEvents.clear(); // nowhere to store them
    if (m_transfer.heldEvents.isEmpty())
        return true;
    // One transaction for the answers held: when it fails nothing of them is
    // stored (an answer is never stored in part), and the failure is said
    // once.
    const QList<LinkEventRow> rows = std::exchange(m_transfer.heldEvents, {});
    if (m_host->linkStore()->storeEvents(rows)) {
        m_transfer.eventsStored += int(rows.size());
        if (m_console)
            m_console->showEvents();
        changed();
        return true;
    }
    if (m_transfer.eventsPending || !m_transfer.storeFailureSaid)
        unexpectedErrorInAnswer();
    return false;
}

void PanelLink::eventsDone()
{
    if (!storeHeldEvents())
        return; // stopped, and said so
    m_transfer.eventsPending = false;
    finishProgress();
    reportDoubledAnswers();
    setOutcome(QStringLiteral("Descarga de eventos terminada: %1").arg(counted(m_transfer.eventsStored, "evento", "eventos")));
    m_transfer.eventsStored = 0;
}

void PanelLink::storeShortEvents(int count)
{
    if (count < 3) {
        eventsDone();
        return;
    }
    QList<LinkEventRow> rows;
    for (int k = 0; k < (count - 1) / 2; ++k)
        rows << eventRow(m_rxFrame[size_t(2 * k + 1)], m_rxFrame[size_t(2 * k + 2)], QString());
    holdEvents(rows);
}

void PanelLink::storeDatedEvents(int count)
{
    if (count < 7) {
        eventsDone();
        return;
    }
    QList<LinkEventRow> rows;
    for (int k = 0; k < (count - 1) / 6; ++k) {
        const size_t b = size_t(6 * k + 1);
        const int e = m_rxFrame[b];
        const int p = m_rxFrame[b + 1];
        const quint32 t = quint32(m_rxFrame[b + 2]) | quint32(m_rxFrame[b + 3]) << 8 | quint32(m_rxFrame[b + 4]) << 16 |
                          quint32(m_rxFrame[b + 5]) << 24;
        const int parametro = int((t & 12) >> 2) * 1000 + int(t & 3) * 256 + p;
        rows << eventRow(e, parametro, codec::eventDate(t));
    }
    holdEvents(rows);
}
