// Read-back: an upload is proven by reading back every address it wrote,
// and the operator can compare the stored programming with the panel. The
// frame protocol has no sequence numbers, so a late acknowledgement of an
// earlier copy of a run can be taken for the next run's: only the panel's
// own bytes prove what it holds. Read-back runs go into the comparison
// image; the subscriber's values never change here.

#include "link/mdl_trans.h"

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

bool mdl_trans::beginVerification()
{
    if (!m_verifyUploads || m_verifyPass >= 2)
        return false;
    m_comparison.clear();
    bool any = false;
    for (int a = 0; a < MemorySize - 1; ++a) {
        m_comparison.wanted[size_t(a)] = m_toVerify[size_t(a)];
        any = any || m_toVerify[size_t(a)];
    }
    if (!any)
        return false;
    ++m_verifyPass;
    m_readBack = ReadBack::Verify;
    // The first read run goes out in this very turn: no idle turn between.
    nextReadBackRun();
    return true;
}

bool mdl_trans::f_comparar(qint32 id_abonado)
{
    if (!connected() || m_writePending || m_readPending || m_eventsPending)
        return false;
    // The image only for the layout: no mark of it is moved.
    if (!f_cargatransferencia(id_abonado))
        return false;
    m_transferMarks.fill(0);
    m_comparison.clear();
    for (int a = 0; a < MemorySize - 1; ++a)
        m_comparison.wanted[size_t(a)] = m_addressSection[size_t(a)] != NoSection;
    m_readBack = ReadBack::Compare;
    m_readPending = true;
    setOutcome(QString());
    return true;
}

mdl_trans::ChangesUpload mdl_trans::f_subircambios(qint32 id_abonado)
{
    if (!connected() || m_writePending || m_readPending || m_eventsPending || !m_host)
        return ChangesUpload::NotStarted;
    if (!m_host->linkStore()->verifyUploads())
        return ChangesUpload::NeedsVerification;
    const auto known = m_host->linkStore()->knownPanelImage(id_abonado);
    if (!known)
        return ChangesUpload::NoKnownImage;
    m_writePending = true;
    if (!f_cargatransferencia(id_abonado))
        return ChangesUpload::NotStarted;
    const auto& [bytes, flags] = *known;
    std::array<bool, MemorySize> differ{};
    for (int a = 0; a < MemorySize - 1; ++a) {
        const size_t i = size_t(a);
        differ[i] = m_addressSection[i] != NoSection &&
                    (a >= flags.size() || !flags.at(a) || quint8(bytes.at(a)) != m_memoryImage[i]);
        m_transferMarks[i] = differ[i] ? 1 : 0;
    }
    m_toVerify = differ;
    const QList<int> sections = sectionsOf(differ);
    if (sections.isEmpty()) {
        m_writePending = false;
        setOutcome(QStringLiteral("Sin cambios: el panel ya tiene lo guardado"));
        return ChangesUpload::NothingToSend;
    }
    m_progressTotal = double(sections.size());
    m_uploadSections = int(sections.size());
    // The list shows what goes out; each section's mark clears as usual.
    if (!m_host->linkStore()->remarkForUpload(id_abonado, sections))
        unexpectedErrorInAnswer();
    return ChangesUpload::Started;
}

void mdl_trans::rememberReadBack()
{
    QByteArray bytes(MemorySize, '\0'), known(MemorySize, '\0');
    for (int a = 0; a < MemorySize; ++a) {
        bytes[a] = char(m_comparison.bytes[size_t(a)]);
        known[a] = m_comparison.known[size_t(a)] ? 1 : 0;
    }
    rememberPanelBytes(bytes, known);
}

void mdl_trans::rememberDownload()
{
    if (!m_downloadKnown.contains(char(1)))
        return;
    rememberPanelBytes(m_downloadBytes, m_downloadKnown);
    m_downloadKnown.fill('\0');
}

void mdl_trans::rememberPanelBytes(const QByteArray& bytes, const QByteArray& known)
{
    if (!m_host || !m_host->linkStore()->rememberPanelBytes(currentSubscriber, bytes, known))
        unexpectedErrorInAnswer();
}

void mdl_trans::nextReadBackRun()
{
    m_waitCountdown = 500;
    const int a = m_comparison.nextWanted();
    if (a >= MemorySize) {
        m_waitCountdown = 1;
        if (m_readBack == ReadBack::Verify)
            finishVerification();
        else
            finishComparison();
        return;
    }
    int end = a + 1;
    while (end < MemorySize - 1 && end - a < 16 && m_comparison.wanted[size_t(end)])
        ++end;
    m_runStart = a;
    m_runEnd = end;
    f_pidememoria(a, end - a);
}

void mdl_trans::readBackReceived()
{
    for (int k = 0; k < m_runEnd - m_runStart; ++k) {
        const size_t a = size_t(m_runStart + k);
        m_comparison.bytes[a] = qint16(m_rxFrame[size_t(1 + k)]);
        m_comparison.wanted[a] = false;
        m_comparison.known[a] = true;
    }
    m_runEnd = m_runStart;
}

QList<int> mdl_trans::sectionsOf(const std::array<bool, MemorySize>& addresses) const
{
    QList<int> sections;
    QSet<int> seen;
    for (int a = 0; a < MemorySize; ++a) {
        const int s = m_addressSection[size_t(a)];
        if (addresses[size_t(a)] && s != NoSection && !seen.contains(s)) {
            seen.insert(s);
            sections << s;
        }
    }
    return sections;
}

QList<int> mdl_trans::differingSections() const
{
    std::array<bool, MemorySize> differ{};
    for (int a = 0; a < MemorySize; ++a)
        differ[size_t(a)] = m_comparison.known[size_t(a)] && m_comparison.bytes[size_t(a)] != m_memoryImage[size_t(a)];
    return sectionsOf(differ);
}

void mdl_trans::finishVerification()
{
    m_readBack = ReadBack::None;
    finishProgress();
    reportDoubledAnswers();
    rememberReadBack();
    std::array<bool, MemorySize> differ{};
    bool any = false;
    for (int a = 0; a < MemorySize - 1; ++a) {
        const size_t i = size_t(a);
        differ[i] = m_toVerify[i] && m_comparison.bytes[i] != m_memoryImage[i];
        any = any || differ[i];
    }
    if (!any) {
        m_writePending = false;
        // Proven: a section sent only in part keeps no mark either.
        if (!m_host || !m_host->linkStore()->sectionsVerified(currentSubscriber, sectionsOf(m_toVerify)))
            unexpectedErrorInAnswer();
        const QString text = QStringLiteral("Verificado: %1").arg(counted(m_uploadSections, "sección", "secciones"));
        setOutcome(text);
        if (m_console) {
            m_console->uploadChecked(text, false);
            m_console->wf_muestrasecciones();
        }
        return;
    }
    const QList<int> sections = sectionsOf(differ);
    if (m_verifyPass >= 2) {
        verificationFailed(sections);
        return;
    }
    // Only what differs goes out again, and only that is read back next.
    m_toVerify = differ;
    for (int a = 0; a < MemorySize - 1; ++a)
        if (differ[size_t(a)])
            m_transferMarks[size_t(a)] = 1;
    if (!m_host || !m_host->linkStore()->remarkForUpload(currentSubscriber, sections))
        unexpectedErrorInAnswer();
    const QString text = notMatching(int(sections.size())) +
                         (sections.size() == 1 ? QStringLiteral(", vuelve a marcarse") : QStringLiteral(", vuelven a marcarse"));
    setOutcome(text);
    if (m_console) {
        m_console->uploadChecked(text, false);
        m_console->wf_muestrasecciones();
    }
    nextRun(1);
}

void mdl_trans::verificationFailed(const QList<int>& sections)
{
    // A second pass that still differs stops: the sections keep their
    // upload mark, so the operator sees what the panel did not take.
    m_writePending = false;
    m_transferMarks.fill(0);
    if (!m_host || !m_host->linkStore()->remarkForUpload(currentSubscriber, sections))
        unexpectedErrorInAnswer();
    const QString text = QStringLiteral("La verificación volvió a fallar: %1; la subida se detiene")
                             .arg(notMatching(int(sections.size())));
    setOutcome(text);
    m_messages.append({QStringLiteral("Error"), text + QLatin1Char('.'), MessageService::Icon::Critical});
    emit messageQueued();
    if (m_console) {
        m_console->uploadChecked(text, true);
        m_console->wf_muestrasecciones();
    }
}

void mdl_trans::finishComparison()
{
    m_readBack = ReadBack::None;
    m_readPending = false;
    finishProgress();
    reportDoubledAnswers();
    rememberReadBack();
    const qsizetype n = differingSections().size();
    setOutcome(n == 0 ? QStringLiteral("Comparación: el panel coincide con lo guardado")
                      : QStringLiteral("Comparación: %1").arg(notMatching(int(n))));
    if (m_console)
        m_console->comparisonDone();
}

QList<QPair<int, QString>> mdl_trans::panelValues(int section) const
{
    return sectionValues(m_comparison.bytes.data(), m_addressSection.data(), addressType.data(), MemorySize, section);
}

QList<QPair<int, QString>> mdl_trans::imageValues(int section) const
{
    return sectionValues(m_memoryImage.data(), m_addressSection.data(), addressType.data(), MemorySize, section);
}

QString mdl_trans::readBackStatus() const
{
    // A read-back cut off with its connection says nothing on the next one.
    if (m_readBack == ReadBack::Verify && m_writePending)
        return QStringLiteral("Verificando la subida…");
    if (m_readBack == ReadBack::Compare && m_readPending)
        return QStringLiteral("Comparando con el panel…");
    // Sending again what the read-back found different: the status says why.
    if (m_writePending && m_verifyPass > 0)
        return m_outcome;
    return {};
}
