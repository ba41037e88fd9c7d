#include "records/w_abonados.h"

#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "data/catalogue_store.h"
#include "data/db.h"
#include "data/permissions.h"
#include "data/messages.h"
#include "data/subscriber_store.h"
#include "link/dial_string.h"
#include "records/collation.h"
#include "records/search_context.h"
#include "records/w_historial.h"
#include "reports/ui_reportes.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QSqlRecord>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QtDebug>

namespace {

constexpr int kObservaciones = 8;

// Column and longest text of each sle_campo index. The lengths are generous
// for real addresses and names and keep a pasted page out of the record.
struct Field {
    const char* column;
    int maxLength;
};
const Field kFields[18] = {
    {"apellido", 50},      {"codigo", 20},        {"nombre", 50},        {"calle", 60},
    {"numero", 10},        {"piso", 10},          {"depto", 10},         {"localidad", 50},
    {"observaciones", 2000}, {"cp", 10},          {"tel_1", 30},         {"tel_2", 30},
    {"ref_contacto1", 50}, {"ref_contacto2", 50}, {"ref_contacto3", 50}, {"tel_contacto1", 30},
    {"tel_contacto2", 30}, {"tel_contacto3", 30},
};

// Stored key of each cbx_campo index.
const char* const kCombos[7] = {"id_provincia", "id_contacto1", "id_contacto2",    "id_contacto3",
                                "id_panel",     "id_configuracion", "id_grupo"};
constexpr int kGrupo = 6;

QVariant nullInt()
{
    return QVariant(QMetaType(QMetaType::Int));
}

// Selects the first entry of `box` whose key is `key` (the blank entry for an
// invalid key); none when no entry has it.
void selectKey(QComboBox* box, const QVariant& key)
{
    for (int k = 0; k < box->count(); ++k) {
        const QVariant d = box->itemData(k);
        if (d.isValid() == key.isValid() && (!d.isValid() || d.toInt() == key.toInt())) {
            box->setCurrentIndex(k);
            return;
        }
    }
    box->setCurrentIndex(-1);
}

// Fills `box` with (key, text) rows in Spanish order of the text, keeping the
// entry that was selected when it is still there.
void fillCombo(const QSqlDatabase& c, QComboBox* box, catalogue::PickList list, bool withBlank)
{
    const bool selected = box->currentIndex() >= 0;
    const QVariant key = box->currentData();
    const QList<catalogue::Entry> entries = catalogue::pickList(c, list);
    box->clear();
    // An optional choice needs a way back to "none".
    if (withBlank)
        box->addItem(QString(), QVariant());
    for (int i : spanishOrder(int(entries.size()), 1, [&](int r, int) { return entries.at(r).text; }))
        box->addItem(entries.at(i).text, entries.at(i).key);
    if (selected)
        selectKey(box, key);
    else
        box->setCurrentIndex(-1);
}

} // namespace

w_abonados::w_abonados(StationContext& ctx, QWidget* parent) : RecordForm(ctx, SearchMode::abonado, parent)
{
    setObjectName(QStringLiteral("w_abonados"));
    setWindowTitle(QStringLiteral("Abonados"));
    setFixedSize(ui::twipsSize(8000, 5400));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 4);
    layout->setSpacing(2);
    cb_imprimir = boton(QStringLiteral("cb_imprimir"), QStringLiteral("Imprimir"),
                        QStringLiteral("Imprimir Reporte de Abonados"));
    cb_imprimir->setEnabled(m_ctx.main.may(permissions::Right::Imprimir));
    cb_historial = boton(QStringLiteral("cb_historial"), QStringLiteral("Historial"),
                         QStringLiteral("Historial de valores del abonado"));
    layout->addWidget(tb_abm);

    SSTab_abm = new QTabWidget(this);
    SSTab_abm->setObjectName(QStringLiteral("SSTab_abm"));
    layout->addWidget(SSTab_abm, 1);
    buildTabs();

    m_ctx.search.registerDisplay(SearchMode::abonado, this, [this](int id) { showData(id); });

    try {
        fillCombos();
    } catch (const db::Error& e) {
        qWarning("w_abonados: %s", qPrintable(e.text()));
        m_ctx.main.showMessage(101);
    }
    showData(m_subscriber);
}

QLabel* w_abonados::etiqueta(const QString& text, QWidget* parent, QWidget* buddy)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QStringLiteral("st_etiqueta_%1").arg(st_etiqueta.size()));
    l->setBuddy(buddy);
    st_etiqueta << l;
    return l;
}

void w_abonados::buildFields()
{
    for (int i = 0; i < 18; ++i) {
        QWidget* box;
        if (i == kObservaciones) {
            auto* memo = new QPlainTextEdit(this);
            // No maximum of its own: cut what is typed beyond the limit.
            memo->setProperty("maxLength", kFields[kObservaciones].maxLength);
            connect(memo, &QPlainTextEdit::textChanged, memo, [memo] {
                const QString t = memo->toPlainText();
                const int max = memo->property("maxLength").toInt();
                if (t.size() > max) {
                    memo->setPlainText(t.left(max));
                    memo->moveCursor(QTextCursor::End);
                }
            });
            box = memo;
        } else {
            auto* line = new QLineEdit(this);
            line->setMaxLength(kFields[i].maxLength);
            box = line;
        }
        box->setObjectName(QStringLiteral("sle_campo_%1").arg(i));
        box->installEventFilter(this);
        sle_campo[i] = box;
    }
    for (int i = 0; i < 7; ++i) {
        cbx_campo[i] = new QComboBox(this);
        cbx_campo[i]->setObjectName(QStringLiteral("cbx_campo_%1").arg(i));
        cbx_campo[i]->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        cbx_campo[i]->setMinimumContentsLength(8);
    }
}

void w_abonados::buildTabs()
{
    buildFields();

    // Tab 0: the subscriber, two fields to a row where they are short.
    frm_1 = new QFrame;
    frm_1->setObjectName(QStringLiteral("frm_1"));
    auto* g = new QGridLayout(frm_1);
    g->setContentsMargins(8, 6, 8, 6);
    g->setHorizontalSpacing(6);
    g->setVerticalSpacing(3);
    auto pair = [&](int row, int col, const QString& text, QWidget* box, int span = 1) {
        g->addWidget(etiqueta(text, frm_1, box), row, col);
        g->addWidget(box, row, col + 1, 1, span);
    };
    pair(0, 0, QStringLiteral("Id Abonado:"), sle_campo[1]);
    pair(0, 2, QStringLiteral("Panel:"), cbx_campo[4]);
    pair(1, 0, QStringLiteral("Configuración:"), cbx_campo[5], 3);
    pair(2, 0, QStringLiteral("Apellido:"), sle_campo[0]);
    pair(2, 2, QStringLiteral("Nombre:"), sle_campo[2]);
    pair(3, 0, QStringLiteral("Calle:"), sle_campo[3]);
    pair(3, 2, QStringLiteral("Número:"), sle_campo[4]);
    pair(4, 0, QStringLiteral("Piso:"), sle_campo[5]);
    pair(4, 2, QStringLiteral("Depto:"), sle_campo[6]);
    pair(5, 0, QStringLiteral("Localidad:"), sle_campo[7]);
    pair(5, 2, QStringLiteral("CP:"), sle_campo[9]);
    pair(6, 0, QStringLiteral("Provincia:"), cbx_campo[0]);
    pair(6, 2, QStringLiteral("Grupo:"), cbx_campo[kGrupo]);
    pair(7, 0, QStringLiteral("Teléfono 1 (sin guiones):"), sle_campo[10]);
    pair(8, 0, QStringLiteral("Teléfono 2 (sin guiones):"), sle_campo[11]);
    g->setColumnStretch(1, 1);
    g->setColumnStretch(3, 1);
    g->setRowStretch(9, 1);
    SSTab_abm->addTab(frm_1, QStringLiteral("Abonado"));

    // Tab 1: remarks, the whole frame.
    frm_2 = new QFrame;
    frm_2->setObjectName(QStringLiteral("frm_2"));
    auto* v = new QVBoxLayout(frm_2);
    v->setContentsMargins(8, 6, 8, 6);
    v->addWidget(sle_campo[kObservaciones]);
    SSTab_abm->addTab(frm_2, QStringLiteral("Datos Adicionales"));

    // Tab 2: three contacts, each a name over its kind and telephone.
    frm_3 = new QFrame;
    frm_3->setObjectName(QStringLiteral("frm_3"));
    g = new QGridLayout(frm_3);
    g->setContentsMargins(8, 6, 8, 6);
    g->setHorizontalSpacing(6);
    g->setVerticalSpacing(3);
    for (int k = 0; k < 3; ++k) {
        const int row = k * 3;
        pair(row, 0, QStringLiteral("Contacto %1:").arg(k + 1), sle_campo[12 + k], 3);
        pair(row + 1, 0, QStringLiteral("Tipo:"), cbx_campo[1 + k]);
        pair(row + 1, 2, QStringLiteral("Teléfono:"), sle_campo[15 + k]);
        if (k < 2)
            g->setRowMinimumHeight(row + 2, 8);
    }
    g->setColumnStretch(1, 1);
    g->setColumnStretch(3, 1);
    g->setRowStretch(9, 1);
    SSTab_abm->addTab(frm_3, QStringLiteral("Contactos"));

    // Tab order follows the rows as the eye reads them.
    QWidget* order[] = {sle_campo[1], cbx_campo[4], cbx_campo[5], sle_campo[0], sle_campo[2], sle_campo[3],
                        sle_campo[4], sle_campo[5], sle_campo[6], sle_campo[7], sle_campo[9], cbx_campo[0],
                        cbx_campo[kGrupo], sle_campo[10], sle_campo[11]};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    for (int k = 0; k < 3; ++k) {
        setTabOrder(sle_campo[12 + k], cbx_campo[1 + k]);
        setTabOrder(cbx_campo[1 + k], sle_campo[15 + k]);
    }
}

QString w_abonados::campo(int i) const
{
    if (auto* line = qobject_cast<QLineEdit*>(sle_campo[i]))
        return line->text();
    return static_cast<QPlainTextEdit*>(sle_campo[i])->toPlainText();
}

void w_abonados::setCampo(int i, const QString& text)
{
    // A stored text longer than the box allows (written by an older station)
    // is shown whole, so that saving the record never cuts it.
    const int max = qMax(kFields[i].maxLength, int(text.size()));
    if (auto* line = qobject_cast<QLineEdit*>(sle_campo[i])) {
        line->setMaxLength(max);
        line->setText(text);
        // A text longer than its box shows its start, not its end.
        line->setCursorPosition(0);
    } else {
        sle_campo[i]->setProperty("maxLength", max);
        static_cast<QPlainTextEdit*>(sle_campo[i])->setPlainText(text);
    }
}

void w_abonados::fillCombos()
{
    const QSqlDatabase c = m_ctx.main.db();
    fillCombo(c, cbx_campo[0], catalogue::PickList::Provinces, false);
    fillCombo(c, cbx_campo[5], catalogue::PickList::Templates, false);
    for (int i = 1; i <= 3; ++i)
        fillCombo(c, cbx_campo[i], catalogue::PickList::ContactKinds, true);
    fillCombo(c, cbx_campo[4], catalogue::PickList::PanelModels, false);
    // Groups: none is a choice (every operator without groups sees it).
    QComboBox* g = cbx_campo[kGrupo];
    const QVariant kept = g->currentIndex() >= 0 ? g->currentData() : QVariant(-1);
    g->clear();
    g->addItem(QString(), QVariant());
    for (const permissions::Group& group : permissions::groups(c))
        g->addItem(group.codigo, group.id_grupo);
    selectKey(g, kept);
}

void w_abonados::showData(int id)
{
    std::optional<QSqlRecord> r;
    if (id >= 1 && !m_ctx.main.maySeeSubscriber(id)) {
        m_ctx.messages.showError(permissions::outsideGroupsText(id));
        id = 0;
    }
    if (id >= 1) {
        try {
            r = subscribers::record(m_ctx.main.db(), id);
        } catch (const db::Error& e) {
            qWarning("w_abonados: %s", qPrintable(e.text()));
            m_ctx.main.showMessage(101);
        }
    }
    const bool found = r.has_value();
    m_asRead = r;
    for (int i = 0; i < 18; ++i)
        setCampo(i, found ? r->value(QLatin1String(kFields[i].column)).toString() : QString());
    // A stored key that matches no entry (a null contact kind) leaves the
    // box without selection.
    for (int i = 0; i < 7; ++i) {
        const QVariant stored = found ? r->value(QLatin1String(kCombos[i])) : QVariant();
        // No group is the blank entry; nothing shown is no entry at all.
        selectKey(cbx_campo[i], found ? (i == kGrupo && stored.isNull() ? QVariant() : QVariant(stored.toInt()))
                                      : QVariant(-1));
    }
    // A number that no longer names a subscriber leaves none current, so
    // "Baja" and "Editar" never act on a row that is not there.
    if (id > 0)
        m_subscriber = found ? id : 0;
    enableControls(QStringLiteral("inicio"));
}

void w_abonados::enableControls(const QString& modo)
{
    const bool editing = modo == QLatin1String("alta") || modo == QLatin1String("modificar");
    if (!editing && modo != QLatin1String("inicio")) {
        if (modo != QLatin1String("aceptar") && modo != QLatin1String("cancelar"))
            qWarning("w_abonados::enableControls: modo desconocido \"%s\"", qPrintable(modo));
        return;
    }
    for (QFrame* f : {frm_1, frm_2, frm_3})
        f->setEnabled(editing);
    setEditing(editing);
    cb_aceptar->setEnabled(editing);
    cb_cancelar->setEnabled(editing);
    // Without the right (level 3 had none) subscribers are looked up, not changed.
    const bool mayChange = m_ctx.main.may(permissions::Right::EditarAbonados);
    cb_buscar->setEnabled(!editing);
    cb_alta->setEnabled(!editing && mayChange);
    cb_baja->setEnabled(!editing && mayChange && m_subscriber > 0);
    cb_modificar->setEnabled(!editing && mayChange && m_subscriber > 0);
    cb_historial->setEnabled(!editing && m_subscriber > 0 && w_historial::permitido(m_ctx.main));
    if (!editing && m_subscriber <= 0)
        SSTab_abm->setCurrentIndex(0);
}

void w_abonados::editingStarted()
{
    if (m_isNew) {
        SSTab_abm->setCurrentIndex(0);
        cbx_campo[4]->setEnabled(true);
        cbx_campo[5]->setEnabled(true);
        sle_campo[1]->setFocus();
        return;
    }
    // The model and template of a subscriber are fixed at creation.
    cbx_campo[4]->setEnabled(false);
    cbx_campo[5]->setEnabled(false);
    static const int first[] = {0, kObservaciones, 12};
    sle_campo[first[qBound(0, SSTab_abm->currentIndex(), 2)]]->setFocus();
}

void w_abonados::dispatch(const QString& key)
{
    if (key == QLatin1String("cb_aceptar")) {
        if (save() && m_isNew)
            SSTab_abm->setCurrentIndex(0);
    } else if (key == QLatin1String("cb_imprimir")) {
        // The list of every subscriber, read afresh, in its own window.
        reports::showSubscriberReport(m_ctx);
    } else if (key == QLatin1String("cb_historial")) {
        if (m_subscriber > 0 && w_historial::permitido(m_ctx.main))
            w_historial::abrirAbonado(m_ctx, m_subscriber);
    } else {
        RecordForm::dispatch(key);
    }
}

bool w_abonados::save()
{
    mdl_main& m = m_ctx.main;

    // The 24 values in column order; the first failed check wins.
    QWidget* faulty = nullptr;
    int message = 0;
    auto text = [&](int i, int required) -> QVariant {
        // Upper-cased as typed, without trimming.
        const QString t = campo(i).toUpper();
        if (required && t.isEmpty() && !faulty) {
            faulty = sle_campo[i];
            message = required;
        }
        return required ? QVariant(t) : db::nullIfEmpty(t);
    };
    auto key = [&](int i, int required) -> QVariant {
        const QVariant d = cbx_campo[i]->currentIndex() >= 0 ? cbx_campo[i]->currentData() : QVariant();
        if (required && !d.isValid() && !faulty) {
            faulty = cbx_campo[i];
            message = required;
        }
        return d.isValid() ? QVariant(d.toInt()) : nullInt();
    };
    QVariantList v;
    v << text(1, 309) << key(4, 301) << key(5, 312) << text(0, 304) << text(2, 305) << text(3, 306)
      << text(4, 307) << text(5, 0) << text(6, 0) << text(7, 308) << key(0, 302) << text(9, 0) << text(10, 310)
      << text(11, 0);
    for (int k = 0; k < 3; ++k)
        v << text(12 + k, 0) << key(1 + k, 0) << text(15 + k, 0);
    v << text(kObservaciones, 0) << key(kGrupo, 0);
    if (!faulty && v.last().isNull()) {
        // An operator limited to groups would lose sight of a subscriber of none.
        bool limited = false;
        try {
            limited = !permissions::operatorGroups(m.db(), m.currentUser()).isEmpty();
        } catch (const db::Error& e) {
            qWarning("w_abonados: %s", qPrintable(e.text()));
        }
        if (limited) {
            SSTab_abm->setCurrentIndex(0);
            cbx_campo[kGrupo]->setFocus();
            m_ctx.messages.showError(QStringLiteral("Elija el grupo del abonado: sin grupo, usted no podría verlo."));
            return false;
        }
    }

    if (faulty) {
        SSTab_abm->setCurrentIndex(0);
        faulty->setFocus();
        m.showMessage(message);
        return false;
    }
    // The panel's numbers go to the modem as they are: a character that is
    // no dial character is refused here, named, rather than sent.
    for (const int i : {10, 11}) {
        const QChar bad = dial::forbiddenCharacter(campo(i).toUpper());
        if (bad.isNull())
            continue;
        SSTab_abm->setCurrentIndex(0);
        sle_campo[i]->setFocus();
        m_ctx.messages.showError(
            QStringLiteral("El teléfono tiene un carácter que no se puede marcar: %1. Use solo dígitos, espacios y - ( ) * # , W P T ! @ ;")
                .arg(dial::describe(bad)));
        return false;
    }
    subscribers::CodeCheck code;
    if (!codeMaySave(v.at(0).toString(), &code.accepted)) {
        SSTab_abm->setCurrentIndex(0);
        sle_campo[1]->setFocus();
        return false;
    }

    return saveShown(
        [&]() -> std::optional<int> {
            try {
                for (;;) {
                    try {
                        if (m_isNew)
                            return subscribers::insert(m.db(), v, m.currentUser(), code);
                        subscribers::update(m.db(), m_subscriber, v, m_asRead, code);
                        break;
                    } catch (const subscribers::CodeTaken& e) {
                        // Another station saved the code a moment ago: the
                        // same question, and the save again when it is Yes.
                        if (!m_ctx.messages.askYesNo(codeTakenQuestion(e.other())))
                            return std::nullopt;
                        code.accepted = e.other().abonado;
                    }
                }
            } catch (const subscribers::Changed& e) {
                // What another station did meanwhile: a removed record keeps
                // what was typed on screen, a changed one shows what is
                // stored now.
                m_ctx.messages.showError(e.text());
                if (!e.removed())
                    showData(m_subscriber);
                return std::nullopt;
            }
            return m_subscriber;
        },
        [&](const QString& why) { m.showMessage(399, why); });
}

bool w_abonados::codeMaySave(const QString& codigo, int* accepted)
{
    // Two records for one site must be a decision, not an accident.
    std::optional<subscribers::CodeHolder> other;
    try {
        other = subscribers::otherWithCode(m_ctx.main.db(), codigo, m_isNew ? 0 : m_subscriber);
    } catch (const db::Error& e) {
        // The save itself reports a store that cannot be read.
        qWarning("w_abonados::codeMaySave: %s", qPrintable(e.text()));
        return true;
    }
    if (!other)
        return true;
    *accepted = other->abonado;
    return m_ctx.messages.askYesNo(codeTakenQuestion(*other));
}

QString w_abonados::codeTakenQuestion(const subscribers::CodeHolder& other) const
{
    // A subscriber outside the operator's groups is not named.
    if (!m_ctx.main.maySeeSubscriber(other.abonado))
        return QStringLiteral("El código ya existe en un abonado de otro grupo. ¿Guarda de todos modos?");
    // Named as the operator knows it, not by its internal number.
    return QStringLiteral("El código ya existe en el abonado %1 - %2. ¿Guarda de todos modos?").arg(other.codigo, other.apellido);
}

QStringList w_abonados::formState() const
{
    QStringList state;
    for (int i = 0; i < 18; ++i)
        state << campo(i);
    for (QComboBox* b : cbx_campo)
        state << (b->currentIndex() < 0 ? QStringLiteral("-") : b->currentData().toString());
    return state;
}

void w_abonados::refreshCombos()
{
    try {
        fillCombos();
    } catch (const db::Error& e) {
        // Activation is no moment for a message box: the lists stay as they were.
        qWarning("w_abonados::refreshCombos: %s", qPrintable(e.text()));
    }
}

bool w_abonados::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate)
        refreshCombos();
    return QWidget::event(e);
}

void w_abonados::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    // Inside the main window the record is activated through its frame.
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
        connect(sub, &QMdiSubWindow::aboutToActivate, this, &w_abonados::refreshCombos, Qt::UniqueConnection);
}

void w_abonados::closeEvent(QCloseEvent* e)
{
    e->setAccepted(ui::mayClose(m_ctx.messages, *this));
}

void w_abonados::deleteRecord()
{
    // The store's cascade removes the subscriber's values and events.
    removeShown([this](int id) { subscribers::remove(m_ctx.main.db(), id); });
}

bool w_abonados::eventFilter(QObject* o, QEvent* e)
{
    // Entering a box selects its whole text, after the click that entered it
    // has placed the cursor.
    if (e->type() == QEvent::FocusIn) {
        if (auto* line = qobject_cast<QLineEdit*>(o)) {
            if (!line->text().isEmpty())
                QTimer::singleShot(0, line, &QLineEdit::selectAll);
        } else if (auto* memo = qobject_cast<QPlainTextEdit*>(o)) {
            if (!memo->toPlainText().isEmpty())
                QTimer::singleShot(0, memo, &QPlainTextEdit::selectAll);
        }
    }
    return QWidget::eventFilter(o, e);
}
