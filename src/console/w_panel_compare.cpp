// The console's read-back keys: "Comparar" reads the panel into the link's
// comparison image and opens w_comparar; the outcome of a verified upload is
// logged here.

#include "console/w_panel.h"

#include "console/w_comparar.h"
#include "data/db.h"
#include "data/messages.h"
#include "data/subscriber_store.h"
#include "link/section_values.h"
#include "session/mdl_main.h"
#include "ui/ui_geometry.h"

#include <QAction>
#include <QtDebug>

namespace {

constexpr int OpUploadChecked = 18;
constexpr int OpCompared = 19;
constexpr int OpChangesUploaded = 20;
constexpr int OpAccessCodeChanged = 23;

const QString ComparisonKey = QStringLiteral("w_comparar");

} // namespace

void w_panel::uploadChecked(const QString& outcome, bool stopped)
{
    Q_UNUSED(stopped);
    logOperation(OpUploadChecked, subscriberText() + QStringLiteral(" ") + outcome);
}

void w_panel::compare()
{
    PanelLink& link = m_link;
    if (m_subscriber.number < 1 || !lineIsMine() || !link.compare(m_subscriber))
        return;
    logOperation(OpCompared, subscriberText());
    updateTransferKeys();
}

void w_panel::comparisonDone()
{
    const PanelLink& link = m_link;
    QList<values::SectionMark> sections;
    try {
        sections = values::sectionMarks(m_ctx.main.db(), marksOwner());
    } catch (const db::Error& e) {
        qWarning("w_panel::comparisonDone: %s", qPrintable(e.text()));
        return;
    }
    const QList<int> differing = link.differingSections();
    QList<ComparisonRow> rows;
    for (const values::SectionMark& s : sections) {
        const SectionValues panel = link.panelValues(s.seccion);
        if (panel.isEmpty())
            continue; // no place in the panel's memory
        rows.append({s.seccion, s.descripcion, joinedValues(link.imageValues(s.seccion)), joinedValues(panel), panel,
                     differing.contains(s.seccion)});
    }
    const values::Owner owner = marksOwner();
    const QString subscriber = subscriberText();
    auto make = [=, this]() -> QWidget* {
        auto* w = new w_comparar(m_ctx, owner, subscriber, rows);
        connect(w, &w_comparar::valuesChanged, this, [this] {
            showSections();
            checkAccessCode();
        });
        return w;
    };
    // A new comparison replaces the window of the last one.
    if (MainFrame* frame = m_ctx.frame) {
        if (QWidget* old = frame->child(ComparisonKey))
            delete old;
        frame->registerWindow(ComparisonKey, make);
        frame->showChild(ComparisonKey);
        return;
    }
    QWidget* w = make();
    w->setParent(this, Qt::Window);
    w->setAttribute(Qt::WA_DeleteOnClose);
    ui::centreOnScreen(w);
    w->show();
}

void w_panel::uploadChanges()
{
    PanelLink& link = m_link;
    if (m_subscriber.number < 1 || !lineIsMine())
        return;
    switch (link.uploadChanges(m_subscriber)) {
    case PanelLink::ChangesUpload::Started:
        logOperation(OpChangesUploaded, subscriberText());
        break;
    case PanelLink::ChangesUpload::NoKnownImage:
        // Nothing proven about this panel yet: the whole marked upload is
        // the safe way, and the operator chooses it.
        if (m_ctx.messages.askYesNo(QStringLiteral("No hay una imagen verificada del panel de este abonado: no se sabe qué "
                                    "difiere.\n¿Sube todas las secciones marcadas?")))
            startTransfer(PanelLink::Transfer::Write, 5, true);
        break;
    case PanelLink::ChangesUpload::NeedsVerification:
        m_ctx.messages.show(QStringLiteral("Atención"),
                            QStringLiteral("Subir cambios necesita la verificación de las subidas (Parámetros)"),
                            MessageService::Icon::Information);
        break;
    case PanelLink::ChangesUpload::NothingToSend:
    case PanelLink::ChangesUpload::NotStarted:
        break;
    }
    showSections();
}

void w_panel::downloadStored()
{
    checkAccessCode();
}

void w_panel::checkAccessCode()
{
    if (m_subscriber.number < 1)
        return;
    std::optional<subscribers::ConsoleHeader> h;
    try {
        h = subscribers::consoleHeader(m_ctx.main.db(), m_subscriber.number);
    } catch (const db::Error& e) {
        qWarning("w_panel::checkAccessCode: %s", qPrintable(e.text()));
        return;
    }
    if (!h || h->password == m_subscriber.accessCode)
        return;
    // The panel's own code was stored: the next call uses it. Neither code
    // is written anywhere.
    m_subscriber.accessCode = h->password;
    m_link.setSubscriber(m_subscriber);
    // The panel's code is the truth, even for who may not see codes: it is
    // stored, and said without a word of it.
    const QString text = m_ctx.main.hides(true)
                             ? QStringLiteral("El panel tiene otro código de acceso; se guardó")
                             : QStringLiteral("El código de acceso del panel cambió; se guardó el del panel");
    logOperation(OpAccessCodeChanged, subscriberText() + QStringLiteral(". ") + text);
    m_link.appendOutcome(text);
}
