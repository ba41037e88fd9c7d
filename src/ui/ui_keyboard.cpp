#include "ui/ui_keyboard.h"

#include "ui/ui_text_input.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QMainWindow>
#include <QTimer>
#include <QAbstractScrollArea>
#include <QBoxLayout>
#include <QAction>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMenu>
#include <QSet>
#include <QTabWidget>
#include <QToolBar>

#include <algorithm>

namespace ui {

namespace {

const QHash<QString, QKeySequence>& table()
{
    static const QHash<QString, QKeySequence> t = {
        // Main toolbar: by position, as its enabling rules count the buttons.
        {"cb_parametros", QKeySequence(Qt::ALT | Qt::Key_1)}, {"cb_abonados", QKeySequence(Qt::ALT | Qt::Key_2)},
        {"cb_panel", QKeySequence(Qt::ALT | Qt::Key_3)},      {"cb_configuracion", QKeySequence(Qt::ALT | Qt::Key_4)},
        {"cb_usuarios", QKeySequence(Qt::ALT | Qt::Key_5)},   {"cb_log", QKeySequence(Qt::ALT | Qt::Key_6)},
        {"cb_teclado", QKeySequence(Qt::ALT | Qt::Key_7)},    {"cb_salir", QKeySequence(Qt::CTRL | Qt::Key_Q)},
        {"cb_tareas", QKeySequence(Qt::ALT | Qt::Key_8)},
        // Records, in every window that has them.
        {"cb_alta", QKeySequence(Qt::Key_Insert)},    {"cb_editar", QKeySequence(Qt::Key_F2)},
        {"cb_modificar", QKeySequence(Qt::Key_F2)},   {"cb_baja", QKeySequence(Qt::Key_Delete)},
        {"cb_guardar", QKeySequence(Qt::Key_F9)},     {"cb_aceptar", QKeySequence(Qt::Key_F9)},
        {"cb_cancelar", QKeySequence(Qt::Key_Escape)}, {"cb_buscar", QKeySequence(Qt::Key_F3)},
        {"cb_copiar", QKeySequence(Qt::Key_F7)},      {"cb_imprimir", QKeySequence(Qt::Key_F8)},
        {"cb_exportar", QKeySequence(Qt::Key_F10)},   {"cb_usuario", QKeySequence(Qt::ALT | Qt::Key_U)},
        // Report pages.
        {"cb_primera", QKeySequence(Qt::CTRL | Qt::Key_Home)}, {"cb_anterior", QKeySequence(Qt::Key_PageUp)},
        {"cb_siguiente", QKeySequence(Qt::Key_PageDown)},      {"cb_ultima", QKeySequence(Qt::CTRL | Qt::Key_End)},
        {"cb_acercar", QKeySequence(Qt::CTRL | Qt::Key_Plus)}, {"cb_alejar", QKeySequence(Qt::CTRL | Qt::Key_Minus)},
        {"cb_ancho", QKeySequence(Qt::ALT | Qt::Key_A)},       {"cb_pagina", QKeySequence(Qt::ALT | Qt::Key_P)},
        // Console: transfer marks and transfers.
        {"cb_restaurar", QKeySequence(Qt::ALT | Qt::Key_R)}, {"cb_premarcar", QKeySequence(Qt::ALT | Qt::Key_P)},
        {"cb_invertir", QKeySequence(Qt::ALT | Qt::Key_I)},  {"cb_desmarcar", QKeySequence(Qt::ALT | Qt::Key_D)},
        {"cb_subir", QKeySequence(Qt::ALT | Qt::Key_T)},     {"cb_bajar", QKeySequence(Qt::ALT | Qt::Key_J)},
        {"cb_subirch", QKeySequence(Qt::ALT | Qt::Key_S)},   {"cb_bajarsel", QKeySequence(Qt::ALT | Qt::Key_B)},
        {"cb_eventos", QKeySequence(Qt::ALT | Qt::Key_E)},
        {"cb_comparar", QKeySequence(Qt::ALT | Qt::Key_M)},  {"cb_subircambios", QKeySequence(Qt::ALT | Qt::Key_N)},
        // The value history, wherever a window offers it.
        {"cb_historial", QKeySequence(Qt::ALT | Qt::Key_H)},
        // Users: the profiles and the groups of subscribers.
        {"cb_perfiles", QKeySequence(Qt::ALT | Qt::Key_F)}, {"cb_grupos", QKeySequence(Qt::ALT | Qt::Key_G)},
        // Console: the link and the panel, on function keys only.
        {"img_connect", QKeySequence(Qt::Key_F5)},      {"img_connect_AMO", QKeySequence(Qt::SHIFT | Qt::Key_F5)},
        {"Img_wait_call", QKeySequence(Qt::Key_F6)},    {"Command1", QKeySequence(Qt::SHIFT | Qt::Key_F6)},
        {"img_end", QKeySequence(Qt::Key_F12)},
        {"img_arm", QKeySequence(Qt::CTRL | Qt::Key_F5)}, {"img_disarm", QKeySequence(Qt::CTRL | Qt::Key_F6)},
        {"img_panico", QKeySequence(Qt::CTRL | Qt::Key_F7)}, {"img_falla", QKeySequence(Qt::CTRL | Qt::Key_F8)},
        {"img_stime", QKeySequence(Qt::CTRL | Qt::Key_F9)},
    };
    return t;
}

// Keys that differ in one window: the templates window's own "Panel" and
// "Config." buttons would take the main toolbar's Alt+3 and Alt+4, and the
// log's date fields keep Supr for themselves.
const QHash<QString, QKeySequence>& windowTable()
{
    static const QHash<QString, QKeySequence> t = {
        {"w_configuracion/cb_panel", QKeySequence(Qt::ALT | Qt::Key_P)},
        {"w_configuracion/cb_configuracion", QKeySequence(Qt::ALT | Qt::Key_C)},
        {"w_log/cb_baja", QKeySequence(Qt::ALT | Qt::Key_B)},
    };
    return t;
}

QKeySequence keysIn(const QWidget* window, const QString& key)
{
    if (window) {
        const QKeySequence own = windowTable().value(window->objectName() + QLatin1Char('/') + key);
        if (!own.isEmpty())
            return own;
    }
    return table().value(key);
}

QString withShortcut(const QString& tip, const QKeySequence& keys)
{
    const QString k = keys.toString(QKeySequence::NativeText);
    return tip.endsWith(QLatin1Char(')')) && tip.contains(k) ? tip : QStringLiteral("%1 (%2)").arg(tip, k);
}

// Dialogs, the frame and the frame's child windows; not pop-ups or tool-tips.
bool isTopWindow(const QWidget* w)
{
    if (w->isWindow())
        return w->windowType() == Qt::Window || w->windowType() == Qt::Dialog;
    return qobject_cast<const QMdiSubWindow*>(w->parentWidget());
}

// Whether `w` is part of `window` itself, not of a window inside it (the
// frame holds the child windows and dialogs).
bool belongs(const QWidget* w, const QWidget* window)
{
    for (const QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget())
        if (isTopWindow(p))
            return false;
    return true;
}

template <typename T>
QList<T*> own(QWidget* window)
{
    QList<T*> all = window->findChildren<T*>();
    all.removeIf([window](T* w) { return !belongs(w, window); });
    return all;
}

// A caption, not a value or a picture shown beside the input.
QLabel* caption(QLayoutItem* item)
{
    auto* label = item ? qobject_cast<QLabel*>(item->widget()) : nullptr;
    return label && !label->text().trimmed().isEmpty() && !label->buddy() ? label : nullptr;
}

// The label laid out just before `w`: to its left in a grid or form row, or
// the item before it in a row or column of widgets.
QLabel* labelBeside(QWidget* w)
{
    QWidget* parent = w->parentWidget();
    if (!parent || !parent->layout())
        return nullptr;
    const QList<QLayout*> layouts = parent->layout()->findChildren<QLayout*>() << parent->layout();
    for (QLayout* l : layouts) {
        if (auto* form = qobject_cast<QFormLayout*>(l))
            if (auto* label = qobject_cast<QLabel*>(form->labelForField(w)))
                return label;
        int at = l->indexOf(w);
        if (at < 0)
            continue;
        if (qobject_cast<QBoxLayout*>(l)) {
            QLayout* cell = l;
            if (at > 0)
                return caption(l->itemAt(at - 1));
            // First of a row of inputs in a grid cell: the grid's caption.
            l = qobject_cast<QGridLayout*>(l->parent());
            at = l ? l->indexOf(cell) : -1;
            if (at < 0)
                return nullptr;
        }
        auto* grid = qobject_cast<QGridLayout*>(l);
        if (!grid)
            continue;
        int row, col, rs, cs;
        grid->getItemPosition(at, &row, &col, &rs, &cs);
        for (int c = col - 1; c >= 0; --c) {
            QLayoutItem* item = grid->itemAtPosition(row, c);
            if (item && item->widget())
                return caption(item);
        }
    }
    return nullptr;
}

// The title of the tab page that holds `w`, for a list or grid without a
// caption of its own.
QString tabTitle(QWidget* w)
{
    for (QWidget* p = w; p && p->parentWidget(); p = p->parentWidget())
        if (auto* tabs = qobject_cast<QTabWidget*>(p->parentWidget() ? p->parentWidget()->parentWidget() : nullptr)) {
            const int i = tabs->indexOf(p);
            if (i >= 0)
                return withoutMnemonic(tabs->tabText(i));
        }
    return QString();
}

// The tab page that holds `w`, or the window: a mnemonic acts only while its
// label shows, so pages of one tab control may reuse each other's letters.
QWidget* scopeOf(QWidget* w, QWidget* window)
{
    for (QWidget* p = w; p && p != window; p = p->parentWidget())
        if (p->parentWidget() && qobject_cast<QTabWidget*>(p->parentWidget()->parentWidget()) &&
            qobject_cast<QTabWidget*>(p->parentWidget()->parentWidget())->indexOf(p) >= 0)
            return p;
    return window;
}

QChar mnemonicOf(const QString& text)
{
    const int amp = text.indexOf(QLatin1Char('&'));
    return amp >= 0 && amp + 1 < text.size() ? text.at(amp + 1).toLower() : QChar();
}

// Marks the first free letter of the caption as its Alt-mnemonic.
void addMnemonic(QLabel* label, QSet<QChar>& taken)
{
    QString text = label->text();
    if (text.contains(QLatin1Char('&')) || label->textFormat() == Qt::RichText)
        return;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i).toLower();
        if (c.isLetter() && c.unicode() < 128 && !taken.contains(c)) {
            taken.insert(c);
            text.insert(i, QLatin1Char('&'));
            label->setText(text);
            return;
        }
    }
}

// Mnemonics for every captioned buddy: letters of Alt-shortcuts and button
// mnemonics are taken in the whole window, those of labels within their page
// (a label outside the tab pages counts in every page).
void addMnemonics(QWidget* window)
{
    QSet<QChar> global;
    for (QAbstractButton* b : own<QAbstractButton>(window))
        if (const QChar c = mnemonicOf(b->text()); !c.isNull())
            global.insert(c);
    for (QAction* a : window->actions() + window->findChildren<QAction*>()) {
        const QKeySequence k = a->shortcut();
        if (!k.isEmpty() && k[0].keyboardModifiers() == Qt::AltModifier)
            global.insert(QChar(k[0].key()).toLower());
    }
    QHash<QWidget*, QSet<QChar>> used;
    QList<QLabel*> todo;
    for (QLabel* l : own<QLabel>(window)) {
        if (!l->buddy())
            continue;
        if (const QChar c = mnemonicOf(l->text()); !c.isNull())
            used[scopeOf(l, window)].insert(c);
        else
            todo << l;
    }
    // Labels outside the pages first: they compete with every page.
    std::stable_partition(todo.begin(), todo.end(), [window](QLabel* l) { return scopeOf(l, window) == window; });
    for (QLabel* l : todo) {
        QWidget* scope = scopeOf(l, window);
        QSet<QChar> taken = global + used.value(window);
        if (scope == window)
            for (const QSet<QChar>& page : std::as_const(used))
                taken += page;
        else
            taken += used.value(scope);
        addMnemonic(l, taken);
        if (const QChar c = mnemonicOf(l->text()); !c.isNull())
            used[scope].insert(c);
    }
}

void bindLabels(QWidget* window)
{
    for (QWidget* w : own<QWidget>(window)) {
        if (!(w->focusPolicy() & Qt::TabFocus) || qobject_cast<QLabel*>(w))
            continue;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            // A button says its caption; one with only a picture, its tool-tip.
            if (b->text().isEmpty() && b->accessibleName().isEmpty() && !b->toolTip().isEmpty())
                b->setAccessibleName(b->toolTip());
            if (!b->text().isEmpty() || !b->accessibleName().isEmpty())
                continue;
        }
        if (QLabel* label = labelBeside(w))
            label->setBuddy(w);
        else if (qobject_cast<QAbstractScrollArea*>(w) && w->accessibleName().isEmpty())
            w->setAccessibleName(tabTitle(w));
    }
    addMnemonics(window);
    // Pictures that stand for a state or a command are named by their tool-tip.
    for (QLabel* l : own<QLabel>(window))
        if (l->text().isEmpty() && l->accessibleName().isEmpty() && !l->toolTip().isEmpty())
            l->setAccessibleName(l->toolTip());
}

// The editor inside a date, number or list box, or a list's cell editor.
bool partOfControl(const QWidget* w, const QWidget* window)
{
    for (const QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget())
        if (qobject_cast<const QComboBox*>(p) || qobject_cast<const QAbstractSpinBox*>(p) ||
            qobject_cast<const QAbstractItemView*>(p))
            return true;
    return false;
}

// Ctrl+Tab and Ctrl+Shift+Tab turn the pages of a window's tab control; in
// the main window Ctrl+Tab would otherwise move between the child windows.
void addTabKeys(QWidget* window)
{
    for (QTabWidget* tabs : own<QTabWidget>(window)) {
        if (tabs->property("sorventTabKeys").toBool())
            continue;
        tabs->setProperty("sorventTabKeys", true);
        const auto turn = [tabs](int step) {
            const int n = tabs->count();
            for (int k = 1; k < n; ++k) {
                const int i = ((tabs->currentIndex() + step * k) % n + n) % n;
                if (tabs->isTabEnabled(i) && tabs->isTabVisible(i)) {
                    tabs->setCurrentIndex(i);
                    return;
                }
            }
        };
        const std::pair<QList<QKeySequence>, int> keys[] = {
            {{QKeySequence(Qt::CTRL | Qt::Key_Tab)}, 1},
            {{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab)}, -1}};
        for (const auto& [sequences, step] : keys) {
            auto* a = new QAction(window);
            a->setObjectName(step > 0 ? QStringLiteral("key_pestana_siguiente") : QStringLiteral("key_pestana_anterior"));
            a->setShortcuts(sequences);
            a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
            window->addAction(a);
            QObject::connect(a, &QAction::triggered, tabs, [turn, step = step] { turn(step); });
        }
    }
}

// A child window of the frame, or a report on its own: closed by Ctrl+F4,
// and by Esc when nothing in it is to be cancelled.
bool closable(const QWidget* window)
{
    if (qobject_cast<const QMdiSubWindow*>(window->parentWidget()))
        return true;
    return window->isWindow() && window->windowType() == Qt::Window && !qobject_cast<const QMainWindow*>(window) &&
           !qobject_cast<const QDialog*>(window) && window->findChild<QToolBar*>();
}

void addCloseKeys(QWidget* window)
{
    if (!closable(window) || window->findChild<QAction*>(QStringLiteral("key_cerrar"), Qt::FindDirectChildrenOnly))
        return;
    // The frame's own close key acts in every child window at once (each
    // one's menu holds it for its window), which makes it ambiguous as soon
    // as two are open: this window's key replaces it.
    if (auto* sub = qobject_cast<QMdiSubWindow*>(window->parentWidget()))
        if (QMenu* menu = sub->systemMenu())
            for (QAction* a : menu->actions())
                a->setShortcuts({});
    auto* close = new QAction(window);
    close->setObjectName(QStringLiteral("key_cerrar"));
    close->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    window->addAction(close);
    QObject::connect(close, &QAction::triggered, window, [window] {
        // As the frame's close button: unsaved changes are asked about.
        if (auto* sub = qobject_cast<QMdiSubWindow*>(window->parentWidget()))
            sub->close();
        else
            window->close();
    });
    const QKeySequence esc(Qt::Key_Escape);
    QList<QAction*> cancels;
    for (QToolBar* bar : own<QToolBar>(window))
        for (QAction* a : bar->actions())
            if (a->shortcut() == esc)
                cancels << a;
    const auto update = [close, cancels, esc] {
        bool cancelling = false;
        for (QAction* a : cancels)
            cancelling = cancelling || (a->isEnabled() && a->isVisible());
        QList<QKeySequence> keys{QKeySequence(Qt::CTRL | Qt::Key_F4), QKeySequence(Qt::CTRL | Qt::Key_W)};
        if (!cancelling)
            keys << esc;
        close->setShortcuts(keys);
    };
    update();
    for (QAction* a : cancels)
        QObject::connect(a, &QAction::changed, close, update);
}

} // namespace

QString withoutMnemonic(const QString& caption)
{
    QString out;
    out.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption.at(i) == QLatin1Char('&') && i + 1 < caption.size())
            ++i;
        out += caption.at(i);
    }
    return out;
}

QKeySequence shortcutFor(const QString& key)
{
    return table().value(key);
}

void applyShortcut(QAction* action, QWidget* window)
{
    const QKeySequence keys = keysIn(window, action->objectName());
    if (keys.isEmpty() || action->shortcut() == keys)
        return;
    action->setShortcut(keys);
    action->setToolTip(withShortcut(action->toolTip(), keys));
    if (window && !window->isWindow()) {
        // Several child windows share one frame: each window's keys act
        // only inside it.
        window->addAction(action);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    }
}

QAction* keyCommand(QWidget* window, QWidget* control, const QString& key, std::function<void()> run)
{
    auto* a = new QAction(window);
    a->setObjectName(QStringLiteral("key_") + key);
    a->setShortcut(shortcutFor(key));
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    window->addAction(a);
    QObject::connect(a, &QAction::triggered, window, [control, run = std::move(run)] {
        // Hidden by the operator's level or the link's state: not available.
        // On another tab page of the window it still is.
        if (!control->isHidden() && control->isEnabled())
            run();
    });
    if (!control->toolTip().isEmpty())
        control->setToolTip(withShortcut(control->toolTip(), a->shortcut()));
    return a;
}

void polishWindow(QWidget* window)
{
    for (QToolBar* bar : own<QToolBar>(window))
        for (QAction* a : bar->actions())
            applyShortcut(a, window);
    bindLabels(window);
    guardTextInput(window);
    addTabKeys(window);
    addCloseKeys(window);
}

void focusFirstControl(QWidget* window)
{
    const QWidget* now = QApplication::focusWidget();
    if (now && (now == window || window->isAncestorOf(now)) && now->isEnabled())
        return;
    // A control the window chose itself (the search box of the pick list)
    // gets the focus once the window is active: it is kept.
    if (QWidget* chosen = window->focusWidget();
        chosen && chosen != window && window->isAncestorOf(chosen) && chosen->isEnabled() && chosen->isVisible()) {
        chosen->setFocus(Qt::OtherFocusReason);
        return;
    }
    // The list when there is one, else the first input in tab order, else
    // the window itself, so that its keys work at once.
    QWidget* first = nullptr;
    for (QWidget* w = window->nextInFocusChain(); w && w != window; w = w->nextInFocusChain()) {
        if (!window->isAncestorOf(w) || !belongs(w, window) || !w->isVisible() || !w->isEnabled() ||
            !(w->focusPolicy() & Qt::TabFocus) || w->focusProxy() || partOfControl(w, window))
            continue;
        if (qobject_cast<QAbstractItemView*>(w)) {
            first = w;
            break;
        }
        if (!first)
            first = w;
    }
    if (window->focusPolicy() == Qt::NoFocus)
        window->setFocusPolicy(Qt::ClickFocus);
    (first ? first : window)->setFocus(Qt::OtherFocusReason);
}

KeyboardPolish::KeyboardPolish(QObject* parent) : QObject(parent)
{
    // A control disabled under the focus (a saved record's fields) leaves
    // it to its window, not to nowhere or another window: the window's keys
    // go on working.
    connect(qApp, &QApplication::focusChanged, this, [](QWidget* old, QWidget* now) {
        if (!old || old->isEnabled())
            return;
        QWidget* window = old;
        while (window && !isTopWindow(window))
            window = window->parentWidget();
        if (!window || !window->isVisible() || (now && (now == window || window->isAncestorOf(now))))
            return;
        focusFirstControl(window);
    });
}

bool KeyboardPolish::eventFilter(QObject* o, QEvent* e)
{
    if (e->type() == QEvent::Show && o->isWidgetType()) {
        auto* w = static_cast<QWidget*>(o);
        if (isTopWindow(w) && !qobject_cast<QMdiSubWindow*>(w)) {
            polishWindow(w);
            // Once it is shown and active: the focus on its first control.
            QTimer::singleShot(0, w, [w] { focusFirstControl(w); });
        }
    }
    return QObject::eventFilter(o, e);
}

} // namespace ui
