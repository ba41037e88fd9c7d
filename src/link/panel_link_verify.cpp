// Read-back: an upload is proven by reading back every address it wrote,
// and the operator can compare the stored programming with the panel. The
// frame protocol has no sequence numbers, so a late acknowledgement of an
// earlier copy of a run can be taken for the next run's: only the panel's
// own bytes prove what it holds. Read-back runs go into the comparison
// image; the subscriber's values never change here.

#include "link/panel_link.h"

#include "data/link_store.h"
#include "link/linkconsole.h"
#include "link/linkhost.h"
#include "link/section_values.h"

#include <QSet>

namespace {

// "1 sección no coincide", "3 secciones no coinciden".
QString notMatching(int n)
{
    return n == 1 ? QStringLiteral("1 sección no coincide") : QStringLiteral("%1 secciones no coinciden").arg(n);
}

} // namespace

bool PanelLink::beginVerification()
{
    if (!m_transfer.verifyUploads || m_transfer.verifyPass >= 2)
        return false;
    m_transfer.comparison.clear();
    bool any = false;
    for (int a = 0; a < MemorySize - 1; ++a) {
        m_transfer.comparison.wanted[size_t(a)] = m_transfer.toVerify[size_t(a)];
        any = any || m_transfer.toVerify[size_t(a)];
    }
    if (!any)
        return false;
    ++m_transfer.verifyPass;
    m_transfer.readBack = ReadBack::Verify;
    // The first read run goes out in this very turn: no idle turn between.
    nextReadBackRun();
    return true;
}

bool PanelLink::compare(const LinkSubscriber& subscriber)
{
    if (!connected() || m_transfer.writePending || m_transfer.readPending || m_transfer.eventsPending)
        return false;
    // The image only for the layout: no mark of it is moved.
    if (!loadTransfer(subscriber))
        return false;
    m_transfer.transferMarks.fill(0);
    m_transfer.comparison.clear();
    for (int a = 0; a < MemorySize - 1; ++a)
        m_transfer.comparison.wanted[size_t(a)] = m_transfer.addressSection[size_t(a)] != NoSection;
    m_transfer.readBack = ReadBack::Compare;
    m_transfer.readPending = true;
    setOutcome(QString());
    return true;
}

PanelLink::ChangesUpload PanelLink::uploadChanges(const LinkSubscriber& subscriber)
{
    if (!connected() || m_transfer.writePending || m_transfer.readPending || m_transfer.eventsPending || !m_host)
        return ChangesUpload::NotStarted;
    if (!m_host->linkStore()->verifyUploads())
        return ChangesUpload::NeedsVerification;
    const auto known = m_host->linkStore()->knownPanelImage(subscriber.number);
    if (!known)
        return ChangesUpload::NoKnownImage;
    m_transfer.writePending = true;
    if (!loadTransfer(subscriber))
        return ChangesUpload::NotStarted;
    const auto& [bytes, flags] = *known;
    std::array<bool, MemorySize> differ{};
    for (int a = 0; a < MemorySize - 1; ++a) {
        const size_t i = size_t(a);
        differ[i] = m_transfer.addressSection[i] != NoSection &&
                    (a >= flags.size() || !flags.at(a) || quint8(bytes.at(a)) != m_transfer.memoryImage[i]);
        m_transfer.transferMarks[i] = differ[i] ? 1 : 0;
    }
    m_transfer.toVerify = differ;
    const QList<int> sections = m_transfer.sectionsOf(differ);
    if (sections.isEmpty()) {
        m_transfer.writePending = false;
        setOutcome(QStringLiteral("Sin cambios: el panel ya tiene lo guardado"));
        return ChangesUpload::NothingToSend;
    }
    m_transfer.progressTotal = double(sections.size());
    m_transfer.uploadSections = int(sections.size());
    // The list shows what goes out; each section's mark clears as usual.
    if (!m_host->linkStore()->remarkForUpload(subscriber.number, sections))
        unexpectedErrorInAnswer();
    return ChangesUpload::Started;
}

void PanelLink::rememberReadBack()
{
    QByteArray bytes(MemorySize, '\0'), known(MemorySize, '\0');
    for (int a = 0; a < MemorySize; ++a) {
        bytes[a] = char(m_transfer.comparison.bytes[size_t(a)]);
        known[a] = m_transfer.comparison.known[size_t(a)] ? 1 : 0;
    }
    rememberPanelBytes(bytes, known);
}

void PanelLink::rememberDownload()
{
    if (!m_transfer.downloadKnown.contains(char(1)))
        return;
    rememberPanelBytes(m_transfer.downloadBytes, m_transfer.downloadKnown);
    m_transfer.downloadKnown.fill('\0');
}

void PanelLink::rememberPanelBytes(const QByteArray& bytes, const QByteArray& known)
{
    if (!m_host || !m_host->linkStore()->rememberPanelBytes(m_subscriber.number, bytes, known))
        unexpectedErrorInAnswer();
}

void PanelLink::nextReadBackRun()
{
    m_scheduler.waitCountdown = 500;
    const int a = m_transfer.comparison.nextWanted();
    if (a >= MemorySize) {
        m_scheduler.waitCountdown = 1;
        if (m_transfer.readBack == ReadBack::Verify)
            finishVerification();
        else
            finishComparison();
        return;
    }
    int end = a + 1;
    while (end < MemorySize - 1 && end - a < 16 && m_transfer.comparison.wanted[size_t(end)])
        ++end;
    m_transfer.runStart = a;
    m_transfer.runEnd = end;
    requestMemory(a, end - a);
}

void PanelLink::readBackReceived()
{
    for (int k = 0; k < m_transfer.runEnd - m_transfer.runStart; ++k) {
        const size_t a = size_t(m_transfer.runStart + k);
        m_transfer.comparison.bytes[a] = qint16(m_rxFrame[size_t(1 + k)]);
        m_transfer.comparison.wanted[a] = false;
        m_transfer.comparison.known[a] = true;
    }
    m_transfer.runEnd = m_transfer.runStart;
}

void PanelLink::finishVerification()
{
    m_transfer.readBack = ReadBack::None;
    finishProgress();
    reportDoubledAnswers();
    rememberReadBack();
    std::array<bool, MemorySize> differ{};
    bool any = false;
    for (int a = 0; a < MemorySize - 1; ++a) {
        const size_t i = size_t(a);
        differ[i] = m_transfer.toVerify[i] && m_transfer.comparison.bytes[i] != m_transfer.memoryImage[i];
        any = any || differ[i];
    }
    if (!any) {
        m_transfer.writePending = false;
        // Proven: a section sent only in part keeps no mark either.
        if (!m_host || !m_host->linkStore()->sectionsVerified(m_subscriber.number, m_transfer.sectionsOf(m_transfer.toVerify)))
            unexpectedErrorInAnswer();
        const QString text = QStringLiteral("Verificado: %1").arg(counted(m_transfer.uploadSections, "sección", "secciones"));
        setOutcome(text);
        if (m_console) {
            m_console->uploadChecked(text, false);
            m_console->showSections();
        }
        return;
    }
    const QList<int> sections = m_transfer.sectionsOf(differ);
    if (m_transfer.verifyPass >= 2) {
        verificationFailed(sections);
        return;
    }
    // Only what differs goes out again, and only that is read back next.
    m_transfer.toVerify = differ;
    for (int a = 0; a < MemorySize - 1; ++a)
        if (differ[size_t(a)])
            m_transfer.transferMarks[size_t(a)] = 1;
    if (!m_host || !m_host->linkStore()->remarkForUpload(m_subscriber.number, sections))
        unexpectedErrorInAnswer();
    const QString text = notMatching(int(sections.size())) +
                         (sections.size() == 1 ? QStringLiteral(", vuelve a marcarse") : QStringLiteral(", vuelven a marcarse"));
    setOutcome(text);
    if (m_console) {
        m_console->uploadChecked(text, false);
        m_console->showSections();
    }
    nextRun(1);
}

void PanelLink::verificationFailed(const QList<int>& sections)
{
    // A second pass that still differs stops: the sections keep their
    // upload mark, so the operator sees what the panel did not take.
    m_transfer.writePending = false;
    m_transfer.transferMarks.fill(0);
    if (!m_host || !m_host->linkStore()->remarkForUpload(m_subscriber.number, sections))
        unexpectedErrorInAnswer();
    const QString text = QStringLiteral("La verificación volvió a fallar: %1; la subida se detiene")
                             .arg(notMatching(int(sections.size())));
    setOutcome(text);
    queueMessage(QStringLiteral("Error"), text + QLatin1Char('.'), MessageService::Icon::Critical);
    if (m_console) {
        m_console->uploadChecked(text, true);
        m_console->showSections();
    }
}

void PanelLink::finishComparison()
{
    m_transfer.readBack = ReadBack::None;
    m_transfer.readPending = false;
    finishProgress();
    reportDoubledAnswers();
    rememberReadBack();
    const qsizetype n = m_transfer.differingSections().size();
    setOutcome(n == 0 ? QStringLiteral("Comparación: el panel coincide con lo guardado")
                      : QStringLiteral("Comparación: %1").arg(notMatching(int(n))));
    if (m_console)
        m_console->comparisonDone();
}

QString PanelLink::readBackStatus() const
{
    // A read-back cut off with its connection says nothing on the next one.
    if (m_transfer.readBack == ReadBack::Verify && m_transfer.writePending)
        return QStringLiteral("Verificando la subida…");
    if (m_transfer.readBack == ReadBack::Compare && m_transfer.readPending)
        return QStringLiteral("Comparando con el panel…");
    // Sending again what the read-back found different: the status says why.
    if (m_transfer.writePending && m_transfer.verifyPass > 0)
        return m_outcome;
    return {};
}
