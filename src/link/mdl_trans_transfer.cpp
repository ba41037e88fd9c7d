// Memory map transfer and event log download: the scheduler and the decoder
// of mdl_trans call these. The subscriber's values become a memory image with
// one transfer mark per address; runs of up to 16 marked addresses go to or
// come from the panel, and each answer is stored in one transaction while
// the ticks are held (no turn may start in the middle of it).

#include "link/mdl_trans.h"

#include "data/link_store.h"
#include "data/messages.h"
#include "data/panel_bytes.h"
#include "link/frame_codec.h"
#include "link/linkhost.h"
#include "link/linkconsole.h"
#include "link/section_values.h"

#include <QDate>
#include <QTime>
#include <algorithm>
#include <cmath>

namespace {

const QString& unexpectedError()
{
    static const QString t = QStringLiteral("Se produjo un error inesperado");
    return t;
}

struct BadValue {};

} // namespace

// ---------------------------------------------------------------------------
// Loading

void mdl_trans::requestTransfer(Transfer kind)
{
    switch (kind) {
    case Transfer::Write: m_writePending = true; break;
    case Transfer::Read: m_readPending = true; break;
    case Transfer::Events: m_eventsPending = true; break;
    }
}

bool mdl_trans::f_cargatransferencia(qint32 id_abonado)
{
    currentSubscriber = id_abonado;
    m_readBack = ReadBack::None;
    m_verifyPass = 0;
    m_toVerify.fill(false);
    m_downloadBytes.fill('\0', MemorySize);
    m_downloadKnown.fill('\0', MemorySize);
    m_progressTotal = 0;
    progressPercent = 0;
    sectionsDone = 0;
    m_storedSections.clear();
    m_view.pb_progreso = 0;
    m_memoryImage.fill(0);
    m_transferMarks.fill(0);
    addressType.fill(0);
    m_addressSection.fill(NoSection);

    int lastCounted = NoSection;
    const auto count = [&](int section, int estado) {
        if (section != lastCounted && ((estado == 1 && m_writePending) || (estado == -1 && m_readPending))) {
            m_progressTotal += 1;
            lastCounted = section;
        }
    };
    const auto place = [&](int a, int value, int estado, int section, int type) {
        if (a < 0 || a >= MemorySize || value < 0)
            throw BadValue{};
        m_memoryImage[size_t(a)] = qint16(value);
        m_transferMarks[size_t(a)] = qint16(estado);
        m_addressSection[size_t(a)] = qint16(section);
        addressType[size_t(a)] = qint16(type);
    };

    const std::optional<QList<LinkValueRow>> rows = m_host ? m_host->linkStore()->transferValues(id_abonado) : std::nullopt;
    if (!rows)
        return loadFailed();
    try {
        int groupPos = -1;
        for (const LinkValueRow& r : *rows) {
            const int pos = r.posicion;
            const bool first = pos != groupPos;
            groupPos = pos;
            switch (r.tipo) {
            case 1:
                if (pos < 0 || pos >= MemorySize || r.item < 1 || r.item > 8)
                    throw BadValue{};
                if (first) {
                    place(pos, 0, r.estado, r.seccion, 1);
                    count(r.seccion, r.estado);
                }
                if (r.valor == QLatin1String("1"))
                    m_memoryImage[size_t(pos)] = qint16(m_memoryImage[size_t(pos)] | (1 << (r.item - 1)));
                break;
            case 2:
            case 3:
                place(pos + r.item - 1, panelbytes::sectionByte(r.tipo, r.valor), r.estado,
                      r.seccion, r.tipo);
                count(r.seccion, r.estado);
                break;
            case 4:
            case 5:
                for (int k = 1; k <= r.len; k += 2) {
                    const QStringView digits = QStringView(r.valor).mid(k - 1).left(2);
                    // Digits missing at the end of a short text count as zero.
                    place(pos + (k - 1) / 2, digits.isEmpty() ? 0 : codec::hexByte(digits), r.estado, r.seccion, 4);
                }
                count(r.seccion, r.estado);
                break;
            default:
                throw BadValue{};
            }
        }
    } catch (const BadValue&) {
        return loadFailed();
    }
    if (m_writePending) {
        // What this upload writes is what its read-back proves.
        for (int a = 0; a < MemorySize - 1; ++a)
            m_toVerify[size_t(a)] = m_transferMarks[size_t(a)] == 1;
        m_uploadSections = int(m_progressTotal);
        m_verifyUploads = !m_host || m_host->linkStore()->verifyUploads();
    }
    return true;
}

bool mdl_trans::loadFailed()
{
    // A half-built image must not be moved: the marks and the pending flags
    // go, and the operator sees why nothing happens.
    m_transferMarks.fill(0);
    m_writePending = false;
    m_readPending = false;
    m_progressTotal = 0;
    if (m_host)
        m_host->showMessage(QStringLiteral("error"), unexpectedError());
    else
        qWarning("%s", qPrintable(unexpectedError()));
    return false;
}

// ---------------------------------------------------------------------------
// Runs

void mdl_trans::nextRun(int mark)
{
    m_waitCountdown = 500;
    int a = 0;
    while (a < MemorySize && m_transferMarks[size_t(a)] != mark)
        ++a;
    // Address 5000 is never sent.
    if (a >= MemorySize - 1) {
        if (mark == 1 && beginVerification())
            return;
        if (mark == -1)
            rememberDownload();
        (mark == 1 ? m_writePending : m_readPending) = false;
        m_waitCountdown = 1;
        // The bar clears itself at the end; the status line keeps the summary.
        finishProgress();
        setOutcome(QStringLiteral("%1: %2").arg(mark == 1 ? QStringLiteral("Subida terminada")
                                                          : QStringLiteral("Bajada terminada"),
                                                counted(sectionsDone, "sección", "secciones")));
        if (mark == -1 && m_console)
            m_console->downloadStored();
        reportDoubledAnswers();
        return;
    }
    m_runStart = a;
    int end = a + 1;
    while (end < MemorySize - 1 && end - a < 16 && m_transferMarks[size_t(end)] == mark)
        ++end;
    m_runEnd = end;
    if (mark == 1) {
        QList<int> bytes;
        bytes.reserve(end - a);
        for (int i = a; i < end; ++i)
            bytes << m_memoryImage[size_t(i)];
        f_escribememoria(m_runStart, bytes);
    } else {
        f_pidememoria(m_runStart, m_runEnd - m_runStart);
    }
}

void mdl_trans::f_siguienteescritura()
{
    if (m_readBack == ReadBack::Verify)
        nextReadBackRun();
    else
        nextRun(1);
}

void mdl_trans::f_siguientelectura()
{
    if (m_readBack == ReadBack::Compare)
        nextReadBackRun();
    else
        nextRun(-1);
}

// ---------------------------------------------------------------------------
// Answers

void mdl_trans::f_confirmaescritura(int count)
{
    Q_UNUSED(count);
    if (m_runEnd <= m_runStart)
        return;
    m_ticksSuspended = true;
    // The sections before each change of section in the run (and at its
    // end) have been written completely.
    QList<int> written;
    int prev = m_addressSection[size_t(m_runStart)];
    for (int a = m_runStart; a <= m_runEnd; ++a) {
        const int s = a < MemorySize ? m_addressSection[size_t(a)] : NoSection;
        if (s != prev) {
            if (prev != NoSection)
                written << prev;
            prev = s;
        }
    }
    if (m_host && m_host->linkStore()->sectionsWritten(currentSubscriber, written)) {
        for (qsizetype i = 0; i < written.size(); ++i)
            progressStep();
        for (int a = m_runStart; a < m_runEnd; ++a)
            m_transferMarks[size_t(a)] = 0;
        // The run is done: a second acknowledgement of it changes nothing.
        m_runEnd = m_runStart;
    } else {
        unexpectedErrorInAnswer();
    }
    m_ticksSuspended = false;
}

void mdl_trans::f_recibememoria(int count)
{
    Q_UNUSED(count);
    // f_decodifica has checked that the answer holds the whole run.
    if (m_runEnd <= m_runStart)
        return;
    if (m_readBack != ReadBack::None) {
        readBackReceived();
        return;
    }
    m_ticksSuspended = true;
    for (int k = 0; k < m_runEnd - m_runStart; ++k) {
        const int a = m_runStart + k;
        m_memoryImage[size_t(a)] = qint16(m_rxFrame[size_t(1 + k)]);
        m_transferMarks[size_t(a)] = 0;
        // What the panel answered is what it holds: kept for the known
        // image, written once when the download ends.
        m_downloadBytes[a] = char(m_rxFrame[size_t(1 + k)]);
        m_downloadKnown[a] = 1;
    }
    // Every section of the run that has no address left to read is stored:
    // in address order that is each one ending here, and after a run read
    // again also the ones it corrected. A section that cannot be stored
    // keeps its marks in the database; the others go on. One message for
    // the answer, however many sections failed.
    bool failed = false;
    QList<int> touched;
    for (int a = m_runStart; a < m_runEnd; ++a) {
        const int s = m_addressSection[size_t(a)];
        if (s != NoSection && !touched.contains(s))
            touched << s;
    }
    for (int s : std::as_const(touched)) {
        bool complete = true;
        for (int a = 0; a < MemorySize && complete; ++a)
            complete = !(m_addressSection[size_t(a)] == s && m_transferMarks[size_t(a)] == -1);
        if (complete && !f_guardaseccion(s))
            failed = true;
    }
    m_runEnd = m_runStart;
    if (failed)
        unexpectedErrorInAnswer();
    m_ticksSuspended = false;
}

void mdl_trans::unexpectedErrorInAnswer()
{
    // A store that failed once (a full disk, a lost server) fails on the
    // next answer too: the transfer stops here and the call ends with its
    // end frames. What was not stored keeps its marks in the database, and
    // the line counts only what was stored.
    const bool events = m_eventsPending;
    const int stored = sectionsDone;
    const int marked = qMax(0, int(std::lround(m_progressTotal)) - sectionsDone);
    const QString why = m_host ? m_host->takeStoreError() : QString();
    m_transferMarks.fill(0);
    m_writePending = m_readPending = m_eventsPending = false;
    m_readBack = ReadBack::None;
    m_progressTotal = 0;
    progressPercent = 0;
    showProgress();
    if (connected() && m_pendingCommand != CmdEnd)
        setPendingCommand(CmdEnd);
    if (m_storeFailureSaid)
        return;
    m_storeFailureSaid = true;
    setOutcome(events ? QStringLiteral("Descarga de eventos detenida. Eventos guardados: %1").arg(eventsStored)
                      : QStringLiteral("Transferencia detenida. Secciones guardadas: %1; siguen marcadas: %2")
                            .arg(stored)
                            .arg(marked));
    QString text = QStringLiteral("No se pudo guardar lo recibido del panel: la transferencia se detuvo y la "
                                  "comunicación termina.\n%1.")
                       .arg(m_outcome);
    text += QLatin1Char('\n') + (why.isEmpty() ? unexpectedError() : why);
    m_messages.append({QStringLiteral("Error"), text, MessageService::Icon::Critical});
    emit messageQueued();
}

bool mdl_trans::f_guardaseccion(int id_seccion)
{
    const SectionValues items =
        sectionValues(m_memoryImage.data(), m_addressSection.data(), addressType.data(), MemorySize, id_seccion);
    if (std::find(m_addressSection.begin(), m_addressSection.end(), qint16(id_seccion)) == m_addressSection.end())
        return true;
    if (!m_host || !m_host->linkStore()->storeSection(currentSubscriber, id_seccion, items))
        return false;
    // A section stored again (read again after a doubled answer) is no
    // further progress.
    if (!m_storedSections.contains(id_seccion)) {
        m_storedSections.insert(id_seccion);
        progressStep();
    }
    return true;
}

// ---------------------------------------------------------------------------
// Progress

void mdl_trans::progressStep()
{
    ++sectionsDone;
    if (m_progressTotal <= 0)
        return;
    progressPercent += 100.0 / m_progressTotal;
    // A finished transfer clears the bar.
    if (progressPercent >= 99.99)
        progressPercent = 0;
    showProgress();
}

void mdl_trans::finishProgress()
{
    progressPercent = 0;
    showProgress();
}

void mdl_trans::showProgress()
{
    const int rounded = int(std::lround(progressPercent));
    m_view.pb_progreso = rounded;
    m_view.items[QStringLiteral("st_progreso")].caption =
        progressPercent <= 0 ? QString() : QStringLiteral("%1%").arg(rounded, 2, 10, QLatin1Char('0'));
    changed();
}

// ---------------------------------------------------------------------------
// Event log

LinkEventRow mdl_trans::eventRow(int eventByte, int parametro, const QString& fecha) const
{
    return {m_console ? m_console->il_abonado : 0, m_console ? m_console->il_panel : 0, eventByte & 127, parametro, fecha,
            eventByte >= 128 ? 1 : 0};
}

void mdl_trans::storeEvents(const QList<LinkEventRow>& rows)
{
    // One transaction per answer: when it fails nothing of the answer is
    // stored, and the failure is said once.
    if (m_host && m_host->linkStore()->storeEvents(rows))
        eventsStored += int(rows.size());
    else if (m_host && (m_eventsPending || !m_storeFailureSaid))
        unexpectedErrorInAnswer();
}

void mdl_trans::eventsDone()
{
    m_eventsPending = false;
    finishProgress();
    reportDoubledAnswers();
    setOutcome(QStringLiteral("Descarga de eventos terminada: %1").arg(counted(eventsStored, "evento", "eventos")));
    eventsStored = 0;
}

void mdl_trans::f_guardaeventos(int count)
{
    if (count < 3) {
        eventsDone();
        return;
    }
    QList<LinkEventRow> rows;
    for (int k = 0; k < (count - 1) / 2; ++k)
        rows << eventRow(m_rxFrame[size_t(2 * k + 1)], m_rxFrame[size_t(2 * k + 2)], QString());
    storeEvents(rows);
}

void mdl_trans::f_guardaeventosfecha(int count)
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
    storeEvents(rows);
}
