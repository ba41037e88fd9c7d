#include "records/w_seccion.h"

#include "session/mdl_main.h"
#include "data/permissions.h"
#include "ui/ui_geometry.h"
#include "ui/ui_keyboard.h"
#include "ui/ui_pictures.h"
#include "data/catalogue_store.h"
#include "data/db.h"
#include "data/history_store.h"
#include "data/lock_store.h"
#include "data/messages.h"
#include "data/shared_ops.h"
#include "data/value_store.h"

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QtDebug>

w_seccion* w_seccion::abrir(StationContext& ctx, QWidget* parent)
{
    auto* w = new w_seccion(ctx, parent);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setWindowModality(Qt::ApplicationModal);
    w->show();
    return w;
}

w_seccion::w_seccion(StationContext& station, QWidget* parent) : QDialog(parent), m_ctx(station)
{
    setObjectName(QStringLiteral("w_seccion"));
    const EditorContext& ctx = m_ctx.editor;
    m_mode = ctx.mode;
    m_subscriber = ctx.abonado;
    m_panel = ctx.panel;
    m_section = ctx.seccion;
    m_template = ctx.configuracion;

    tb_seccion = new QToolBar(this);
    tb_seccion->setObjectName(QStringLiteral("tb_seccion"));
    tb_seccion->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    tb_seccion->setIconSize(QSize(16, 16));
    cb_restaurar = boton(QStringLiteral("cb_restaurar"), QStringLiteral("Restaurar"),
                         QStringLiteral("Restaurar valores predeterminados de la seccion"));
    cb_subir = boton(QStringLiteral("cb_subir"), QStringLiteral("Subir sección"), QStringLiteral("Subir sección"));
    cb_bajar = boton(QStringLiteral("cb_bajar"), QStringLiteral("Bajar sección"), QStringLiteral("Bajar seccion"));
    tb_seccion->addSeparator();
    cb_aceptar = boton(QStringLiteral("cb_aceptar"), QStringLiteral("Aceptar"), QStringLiteral("Aceptar"));
    cb_cancelar = boton(QStringLiteral("cb_cancelar"), QStringLiteral("Cancelar"), QStringLiteral("Cancelar"));
    cb_aceptar->setEnabled(false);

    frm_seccion = new QFrame;
    frm_seccion->setObjectName(QStringLiteral("frm_seccion"));
    frm_seccion->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    // A section of many items is taller than the screen: the rows scroll.
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    // The rows take the focus; the area follows it (ensureWidgetVisible).
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setWidget(frm_seccion);

    auto* layout = new QVBoxLayout(this);
    const int m = ui::twips(60);
    layout->setContentsMargins(m, m / 2, m, m);
    layout->setSpacing(m);
    layout->addWidget(tb_seccion);
    layout->addWidget(m_scroll, 1);

    st_titulo << nullptr;
    sle_valor << nullptr;
    cbx_valor << nullptr;
    st_defecto << nullptr;
    m_items << 0;

    // Loading the rows is no change of theirs.
    m_changed = true;
    buildScreen();
    m_changed = false;
    if (m_mode == EditorMode::configuracion) {
        cb_restaurar->setEnabled(false);
        cb_bajar->setEnabled(false);
    }
    if (m_hidden) {
        // Reading it from the panel stays: the panel's code is the truth.
        for (QAction* a : {cb_aceptar, cb_subir, cb_restaurar})
            a->setEnabled(false);
    }
    ui::centreOnScreen(this);
}

QAction* w_seccion::boton(const QString& key, const QString& caption, const QString& tip)
{
    QAction* a = tb_seccion->addAction(ui::icon(key), caption);
    a->setObjectName(key);
    a->setToolTip(tip);
    connect(a, &QAction::triggered, this, [this, key] { dispatch(key); });
    return a;
}

void w_seccion::buildScreen()
{
    const QSqlDatabase c = m_ctx.main.db();
    QStringList titles, defaults;
    try {
        QString descripcion;
        if (const std::optional<catalogue::Section> head = catalogue::section(c, m_panel, m_section)) {
            m_format.tipo = head->tipo;
            m_format.caracteres = head->caracteres;
            m_format.filler = head->filler;
            descripcion = head->descripcion;
        }
        setWindowTitle(QStringLiteral("[%1] %2").arg(m_section, 3, 10, QLatin1Char('0')).arg(descripcion));
        m_hidden = m_ctx.main.hides(permissions::secretSections(c, m_panel).contains(m_section));

        // Only the items that the template has a value for.
        for (const catalogue::Item& item : catalogue::templateItems(c, m_template, m_panel, m_section, MaxRows)) {
            m_items << item.item;
            titles << item.descripcion + QLatin1Char(':');
            defaults << (m_hidden ? permissions::hiddenText() : m_format.defaultShown(item.valor));
        }
    } catch (const db::Error& e) {
        qWarning("w_seccion::buildScreen: %s", qPrintable(e.text()));
        m_ctx.main.showMessage(101);
        m_items.resize(1);
        titles.clear();
        frm_seccion->setEnabled(false);
    }
    m_rows = int(titles.size());

    const SectionFormat::Input input = m_format.input();
    for (int k = 1; k <= m_rows; ++k) {
        auto* title = new QLabel(titles.at(k - 1), frm_seccion);
        title->setObjectName(QStringLiteral("st_titulo_%1").arg(k));
        st_titulo << title;
        auto* def = new QLabel(defaults.at(k - 1), frm_seccion);
        def->setObjectName(QStringLiteral("st_defecto_%1").arg(k));
        st_defecto << def;
        QLineEdit* text = nullptr;
        QComboBox* list = nullptr;
        if (input == SectionFormat::Input::text) {
            text = new QLineEdit(frm_seccion);
            text->setObjectName(QStringLiteral("sle_valor_%1").arg(k));
            if (m_format.caracteres > 0)
                text->setMaxLength(m_format.caracteres);
            text->installEventFilter(this);
            connect(text, &QLineEdit::textChanged, this, &w_seccion::onEdited);
            title->setBuddy(text);
        } else if (input == SectionFormat::Input::list) {
            list = new QComboBox(frm_seccion);
            list->setObjectName(QStringLiteral("cbx_valor_%1").arg(k));
            title->setBuddy(list);
        }
        sle_valor << text;
        cbx_valor << list;
    }

    if (input == SectionFormat::Input::list) {
        fillLists();
        for (int k = 1; k <= m_rows; ++k)
            connect(cbx_valor.at(k), &QComboBox::currentIndexChanged, this, &w_seccion::onEdited);
    }
    for (int k = 1; k <= m_rows; ++k)
        showData(m_subscriber, m_section, m_items.at(k), k);
    if (m_hidden) {
        // Nothing of the code reaches the boxes, so nothing can be copied,
        // and nothing may be typed over it.
        for (int k = 1; k <= m_rows; ++k) {
            if (QLineEdit* e = sle_valor.at(k))
                e->setReadOnly(true);
            if (QComboBox* b = cbx_valor.at(k))
                b->setEnabled(false);
        }
    }
    placeRows(titles, defaults);
    if (!frm_seccion->isEnabled())
        m_ctx.main.showMessage(501);
}

void w_seccion::placeRows(const QStringList& titles, const QStringList& defaults)
{
    // The columns sit where the form has always had them (labels at 100,
    // inputs at 4000, defaults at 7300 twips); longer texts push them right.
    const QFontMetrics fm(font());
    const int gap = ui::twips(100);
    int labelW = 0;
    for (const QString& t : titles)
        labelW = qMax(labelW, fm.horizontalAdvance(t) + 4);
    const int inputX = qMax(ui::twips(4000), gap + labelW + gap);
    int inputW = ui::twips(3200);
    int rowH = QLineEdit().sizeHint().height();
    for (int k = 1; k <= m_rows; ++k) {
        if (QComboBox* b = cbx_valor.at(k)) {
            inputW = qMax(inputW, b->sizeHint().width());
            rowH = qMax(rowH, b->sizeHint().height());
        }
        if (QLineEdit* e = sle_valor.at(k))
            inputW = qMax(inputW, fm.horizontalAdvance(QString(qMax(m_format.caracteres, int(e->text().size())),
                                                               QLatin1Char('D'))) + 14);
    }
    const int defX = qMax(ui::twips(7300), inputX + inputW + gap);
    st_defecto_t = new QLabel(QStringLiteral("Defecto"), frm_seccion);
    st_defecto_t->setObjectName(QStringLiteral("st_defecto_t"));
    int defW = qMax(ui::twips(1500), fm.horizontalAdvance(st_defecto_t->text()) + 4);
    for (const QString& d : defaults)
        defW = qMax(defW, fm.horizontalAdvance(d) + 4);
    // Rows 350 twips apart, or as far as the inputs need.
    const int pitch = qMax(ui::twips(350), rowH + 3);
    const int top = ui::twips(200);

    st_defecto_t->setGeometry(defX, top, defW, rowH);
    for (int k = 1; k <= m_rows; ++k) {
        const int y = top + pitch * k;
        st_titulo.at(k)->setGeometry(gap, y, labelW, rowH);
        st_defecto.at(k)->setGeometry(defX, y, defW, rowH);
        if (QLineEdit* e = sle_valor.at(k))
            e->setGeometry(inputX, y, inputW, rowH);
        if (QComboBox* b = cbx_valor.at(k))
            b->setGeometry(inputX, y, inputW, rowH);
    }
    const int frameH = qMax(ui::twips(350 * m_rows + 700), top + pitch * (m_rows + 1) + ui::twips(150));
    frm_seccion->setFixedSize(defX + defW + gap, frameH);

    // The window fits its rows (350 twips a row and 1700 around them), but
    // never beyond the screen.
    const QMargins mg = layout()->contentsMargins();
    const int chrome = mg.top() + mg.bottom() + layout()->spacing() + tb_seccion->sizeHint().height();
    int w = qMax(ui::twips(9000), frm_seccion->width() + mg.left() + mg.right());
    int h = qMax(ui::twips(350 * m_rows + 1700), frameH + chrome + 2);
    if (const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen())
        h = qMin(h, s->availableGeometry().height() - ui::twips(600));
    if (h < frameH + chrome)
        w += m_scroll->verticalScrollBar()->sizeHint().width();
    resize(w, h);
}

void w_seccion::fillLists()
{
    QStringList texts;
    QList<QVariant> keys;
    m_valores.clear();
    try {
        for (const catalogue::ListValue& v : catalogue::valueList(m_ctx.main.db(), m_panel, m_section)) {
            m_valores << v.valor;
            texts << v.valor + QStringLiteral(" - ") + v.descripcion;
            const std::optional<qint64> key = listKey(v.valor);
            keys << (key ? QVariant(*key) : QVariant());
        }
    } catch (const db::Error& e) {
        qWarning("w_seccion::fillLists: %s", qPrintable(e.text()));
        m_ctx.main.showMessage(101);
        m_valores.clear();
        texts.clear();
        keys.clear();
    }
    for (int k = 1; k <= m_rows; ++k) {
        QComboBox* b = cbx_valor.at(k);
        if (!b)
            continue;
        b->clear();
        for (int i = 0; i < texts.size(); ++i)
            b->addItem(texts.at(i), keys.at(i));
        b->setCurrentIndex(-1);
    }
}

values::Owner w_seccion::valuesOwner(int abonado) const
{
    return m_mode == EditorMode::abonado ? values::Owner::subscriber(abonado, m_panel)
                                         : values::Owner::templ(m_template, m_panel);
}

void w_seccion::showData(int abonado, int seccion, int item, int fila)
{
    std::optional<QString> stored;
    try {
        stored = values::itemValue(m_ctx.main.db(), valuesOwner(abonado), seccion, item);
    } catch (const db::Error& e) {
        qWarning("w_seccion::showData: %s", qPrintable(e.text()));
    }
    if (!stored) {
        // A value that is not stored cannot be saved: the section is read-only.
        frm_seccion->setEnabled(false);
        cb_aceptar->setEnabled(false);
        return;
    }
    const QString valor = *stored;
    if (m_hidden) {
        if (QLineEdit* e = sle_valor.at(fila))
            e->setText(permissions::hiddenText());
        if (QComboBox* b = cbx_valor.at(fila)) {
            b->clear();
            b->addItem(permissions::hiddenText());
        }
        return;
    }
    if (QLineEdit* e = sle_valor.at(fila)) {
        const QString shown = m_format.shown(valor);
        // A stored text longer than the section allows is shown whole, so it
        // is refused on saving rather than cut without a word.
        if (m_format.caracteres > 0)
            e->setMaxLength(qMax(m_format.caracteres, int(shown.size())));
        e->setText(shown);
        e->setCursorPosition(0);
    } else if (QComboBox* b = cbx_valor.at(fila)) {
        int index = -1;
        const std::optional<qint64> key = listKey(valor);
        for (int i = 0; i < b->count() && index < 0; ++i) {
            const QVariant d = b->itemData(i);
            if (key ? (d.isValid() && d.toLongLong() == *key) : m_valores.value(i) == valor)
                index = i;
        }
        b->setCurrentIndex(index);
    }
}

void w_seccion::onEdited()
{
    if (m_changed)
        return;
    m_changed = true;
    if (frm_seccion->isEnabled())
        cb_aceptar->setEnabled(true);
}

void w_seccion::fail(int row, const QString& problem)
{
    if (row < 1 || row > m_rows) {
        m_ctx.main.showMessage(502);
        return;
    }
    QWidget* input = sle_valor.at(row) ? static_cast<QWidget*>(sle_valor.at(row)) : cbx_valor.at(row);
    m_scroll->ensureWidgetVisible(input);
    input->setFocus();
    QRect keep;
    for (QWidget* w : {static_cast<QWidget*>(st_titulo.at(row)), input, static_cast<QWidget*>(st_defecto.at(row))})
        keep |= QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
    m_ctx.main.showMessage(502, ui::withoutMnemonic(st_titulo.at(row)->text()) + QLatin1Char(' ') + problem, keep);
}

void w_seccion::reject()
{
    if (ui::mayClose(m_ctx.messages, *this))
        QDialog::reject();
}

bool w_seccion::save(int marca)
{
    if (m_hidden)
        return false;
    // A section with a value missing in the store cannot be saved.
    if (!frm_seccion->isEnabled()) {
        fail();
        return false;
    }
    // Every value is built and checked before anything is written.
    QStringList entered;
    entered << QString();
    for (int k = 1; k <= m_rows; ++k) {
        QString v;
        if (QLineEdit* e = sle_valor.at(k)) {
            QString problem;
            const std::optional<QString> s = m_format.saved(e->text(), &problem);
            if (!s) {
                fail(k, problem);
                return false;
            }
            v = *s;
            if (e->text() != v)
                e->setText(v);
        } else if (QComboBox* b = cbx_valor.at(k)) {
            const int i = b->currentIndex();
            if (i < 0 || i >= m_valores.size()) {
                fail(k, QStringLiteral("debe elegir un valor de la lista"));
                return false;
            }
            v = m_valores.at(i);
        }
        entered << v;
    }

    try {
        QList<std::pair<int, QString>> values;
        for (int k = 1; k <= m_rows; ++k)
            if (sle_valor.at(k) || cbx_valor.at(k))
                values.append({m_items.at(k), entered.at(k)});
        const history::Stamp stamp{history::origin::editor(), m_ctx.main.currentUser()};
        // The panel of the subscriber is connected at another station: its
        // values are not changed under that connection. The store sees it in
        // the save's own transaction, so a hold taken since the editor opened
        // counts too.
        if (const std::optional<locks::Holder> h
            = values::saveSection(m_ctx.main.db(), valuesOwner(m_subscriber), m_section, values, marca, stamp)) {
            m_ctx.messages.showError(QStringLiteral("No se guardaron los valores.\n%1").arg(h->text()));
            return false;
        }
    } catch (const db::Error& e) {
        qWarning("w_seccion::save: %s", qPrintable(e.text()));
        fail();
        return false;
    }
    if (marca > 0)
        m_ctx.editor.marca = marca;
    accept();
    return true;
}

void w_seccion::markForDownload()
{
    if (m_mode != EditorMode::abonado)
        return;
    if (!m_ctx.messages.askYesNo(QStringLiteral("¿Realmente desea marcar la sección para bajar?")))
        return;
    try {
        values::setMarks(m_ctx.main.db(), valuesOwner(m_subscriber), -1, m_section);
    } catch (const db::Error& e) {
        qWarning("w_seccion::markForDownload: %s", qPrintable(e.text()));
        m_ctx.main.showMessage(203);
        return;
    }
    m_ctx.editor.marca = -1;
    accept();
}

void w_seccion::restoreTemplateValues()
{
    if (m_mode != EditorMode::abonado || m_hidden)
        return;
    if (!m_ctx.messages.askYesNo(QStringLiteral("¿Reemplaza los valores actuales?")))
        return;
    try {
        const QSqlDatabase c = m_ctx.main.db();
        db::Transaction t(c);
        copyValues(c, m_subscriber, m_panel, m_section, m_template, m_ctx.main.currentUser());
        t.commit();
    } catch (const db::Error& e) {
        qWarning("w_seccion::restoreTemplateValues: %s", qPrintable(e.text()));
        m_ctx.messages.show(QStringLiteral("Atención"), QStringLiteral("Error"),
                            MessageService::Icon::Critical);
        return;
    }
    m_ctx.editor.marca = 1;
    accept();
}

void w_seccion::dispatch(const QString& key)
{
    if (key == QLatin1String("cb_aceptar")) {
        if (cb_aceptar->isEnabled())
            save(0);
    } else if (key == QLatin1String("cb_subir")) {
        save(1);
    } else if (key == QLatin1String("cb_bajar")) {
        markForDownload();
    } else if (key == QLatin1String("cb_restaurar")) {
        restoreTemplateValues();
    } else if (key == QLatin1String("cb_cancelar")) {
        QDialog::reject();
    }
}

bool w_seccion::eventFilter(QObject* o, QEvent* e)
{
    // Entering a box selects its whole text, after the click that entered it
    // has placed the cursor.
    if (e->type() == QEvent::FocusIn)
        if (auto* line = qobject_cast<QLineEdit*>(o); line && !line->text().isEmpty())
            QTimer::singleShot(0, line, &QLineEdit::selectAll);
    return QDialog::eventFilter(o, e);
}
