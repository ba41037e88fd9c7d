// Every window, polished as the station polishes it when it shows, walked
// control by control: each focusable control must have an accessible name (a
// screen reader says something for it) and the tab order must follow the
// visual order (left to right, top to bottom, within each frame); the
// console's lamps must say their state in words.

#include "testsupport.h"

#include "session/mdl_main.h"
#include "ui/ui_keyboard.h"
#include "app/ui_shell.h"
#include "app/w_login.h"
#include "app/w_main.h"
#include "console/lamp_text.h"
#include "migration/w_migracion.h"
#include "records/editor_context.h"
#include "records/search_context.h"
#include "records/w_buscar.h"
#include "records/w_configuracion.h"
#include "records/w_configuracion_abm.h"
#include "records/w_historial.h"
#include "records/w_seccion.h"
#include "reports/ui_reportes.h"
#include "reports/w_reporte.h"

#include <QAbstractItemView>
#include <QDateEdit>
#include <QKeyEvent>
#include <QPointer>
#include <QShortcut>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QHash>
#include <QGridLayout>
#include <QLineEdit>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMenu>
#include <QTabWidget>
#include <QToolBar>
#include <QWidgetAction>
#include <QtTest>

namespace {

// Parts of a composite control (a combo box's line edit, a date picker's)
// are named and ordered by the control itself.
bool isPartOfControl(const QWidget* w, const QWidget* window)
{
    for (const QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget())
        if (qobject_cast<const QComboBox*>(p) || qobject_cast<const QAbstractSpinBox*>(p) ||
            qobject_cast<const QAbstractItemView*>(p))
            return true;
    return false;
}

bool takesTab(const QWidget* w, const QWidget* window)
{
    return (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy() && w->isVisibleTo(window) &&
           !isPartOfControl(w, window);
}

QString describe(const QWidget* w)
{
    return QStringLiteral("%1 (%2)").arg(w->objectName(), QLatin1String(w->metaObject()->className()));
}

QRect where(const QWidget* w, const QWidget* window)
{
    return QRect(w->mapTo(window, QPoint(0, 0)), w->size());
}

// What is wrong with the page of the window now shown.
QStringList faultsOfPage(QWidget* window)
{
    QStringList faults;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!takesTab(w, window))
            continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        if (!a || a->text(QAccessible::Name).trimmed().isEmpty())
            faults << describe(w) + QStringLiteral(": sin nombre accesible");
    }
    // Captions of inputs: each with its own Alt-letter among those showing,
    // unless every letter of the caption is taken already.
    QHash<QChar, QLabel*> letters;
    QList<QLabel*> without;
    for (QAction* a : window->findChildren<QAction*>())
        if (!a->shortcut().isEmpty() && a->shortcut()[0].keyboardModifiers() == Qt::AltModifier)
            letters.insert(QChar(a->shortcut()[0].key()).toLower(), nullptr);
    for (QLabel* l : window->findChildren<QLabel*>()) {
        if (!l->buddy() || !l->isVisibleTo(window))
            continue;
        const int amp = l->text().indexOf('&');
        if (amp < 0 || amp + 1 >= l->text().size()) {
            without << l;
            continue;
        }
        const QChar c = l->text().at(amp + 1).toLower();
        if (letters.contains(c))
            faults << QStringLiteral("Alt+%1 repetida: %2").arg(c).arg(describe(l));
        letters.insert(c, l);
    }
    for (QLabel* l : without)
        for (QChar c : l->text().toLower())
            if (c.isLetter() && c.unicode() < 128 && !letters.contains(c)) {
                faults << describe(l) + QStringLiteral(": sin tecla Alt");
                break;
            }
    QList<QWidget*> chain;
    for (QWidget* w = window->nextInFocusChain(); w && w != window; w = w->nextInFocusChain())
        if (takesTab(w, window) && w->isEnabled() && window->isAncestorOf(w))
            chain << w;
    for (int i = 1; i < chain.size(); ++i) {
        QWidget *a = chain[i - 1], *b = chain[i];
        if (a->parentWidget() != b->parentWidget())
            continue;
        const QRect ra = where(a, window), rb = where(b, window);
        const bool sameRow = rb.top() < ra.bottom() && ra.top() < rb.bottom();
        if (rb.bottom() <= ra.top() || (sameRow && rb.right() <= ra.left()))
            faults << QStringLiteral("orden de tabulación: %1 después de %2").arg(describe(b), describe(a));
    }
    return faults;
}

// Every page of every tab control.
QStringList faultsOf(QWidget* window)
{
    ui::polishWindow(window);
    QStringList faults = faultsOfPage(window);
    for (QTabWidget* tabs : window->findChildren<QTabWidget*>()) {
        const int was = tabs->currentIndex();
        for (int i = 0; i < tabs->count(); ++i) {
            if (!tabs->isTabEnabled(i) || i == was)
                continue;
            tabs->setCurrentIndex(i);
            faults << faultsOfPage(window);
        }
        tabs->setCurrentIndex(was);
    }
    faults.removeDuplicates();
    return faults;
}

// What breaks the keyboard rule in `window` as it stands: the focus must be
// inside it; every enabled key of the window must reach its command from
// the focused control (a text field that takes the key for itself makes the
// tool-tip a lie); no key may stand for two commands at once, the frame's
// toolbar included.
QStringList keyboardFaults(QWidget* window, const QWidget* frame)
{
    QStringList faults;
    QWidget* focus = QApplication::focusWidget();
    if (!focus || !(focus == window || window->isAncestorOf(focus)))
        return {QStringLiteral("sin foco: %1").arg(focus ? describe(focus) : QStringLiteral("ninguno"))};

    QList<QAction*> actions = window->actions();
    for (QToolBar* bar : window->findChildren<QToolBar*>())
        for (QAction* a : bar->actions()) {
            actions << a;
            // Toolbar buttons take no focus: a key is the only way to them.
            if (!a->isSeparator() && !qobject_cast<QWidgetAction*>(a) && a->isVisible() && a->shortcuts().isEmpty())
                faults << QStringLiteral("%1 sin tecla").arg(a->objectName());
        }
    if (frame && frame != window) {
        for (QToolBar* bar : frame->findChildren<QToolBar*>(Qt::FindDirectChildrenOnly))
            actions << bar->actions();
        // The menus of the frame's child windows act in all of them.
        for (QMdiSubWindow* sub : frame->findChildren<QMdiSubWindow*>())
            if (sub->systemMenu())
                actions << sub->systemMenu()->actions();
    }
    QHash<QString, QAction*> taken;
    QSet<QAction*> seen;
    for (QAction* a : actions) {
        if (seen.contains(a) || !a->isEnabled())
            continue;
        seen.insert(a);
        auto* owner = qobject_cast<QWidget*>(a->parent());
        const bool own = !frame || frame == window || owner == window || (owner && window->isAncestorOf(owner));
        for (const QKeySequence& k : a->shortcuts()) {
            const QString key = k.toString();
            if (taken.contains(key) && taken.value(key) != a)
                faults << QStringLiteral("%1: %2 y %3").arg(key, taken.value(key)->objectName(), a->objectName());
            taken.insert(key, a);
            if (!own)
                continue;
            QKeyEvent override(QEvent::ShortcutOverride, k[0].key(), k[0].keyboardModifiers());
            override.ignore();
            QCoreApplication::sendEvent(focus, &override);
            if (override.isAccepted())
                faults << QStringLiteral("%1 no llega a %2 desde %3").arg(key, a->objectName(), describe(focus));
        }
    }
    for (QShortcut* sc : window->findChildren<QShortcut*>())
        if (sc->isEnabled() && sc->context() != Qt::WidgetShortcut && taken.contains(sc->key().toString()))
            faults << QStringLiteral("%1: %2 y un atajo").arg(sc->key().toString(), taken.value(sc->key().toString())->objectName());
    return faults;
}

// Types `key` into whatever has the focus, as a user would.
void press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QWidget* focus = QApplication::focusWidget();
    QVERIFY(focus);
    QTest::keyClick(focus, Qt::Key(key), mods);
    QApplication::processEvents();
}

} // namespace

class tst_accessibility : public QObject {
    Q_OBJECT

    void walk(QWidget* w, const char* what)
    {
        QVERIFY2(w, what);
        w->show();
        QApplication::processEvents();
        const QStringList faults = faultsOf(w);
        QVERIFY2(faults.isEmpty(), qPrintable(QStringLiteral("%1:\n  %2").arg(what, faults.join("\n  "))));
    }

private slots:
    void everyWindow()
    {
        TestStation st(true, true);
        st.main.logIn(st.main.currentUser(), 1);
        AppShell shell{st};
        shell.comMain();
        w_main* m = shell.mainWindow();
        m->show();
        walk(m, "w_main");
        for (const char* key : {"cb_parametros", "cb_abonados", "cb_panel", "cb_configuracion", "cb_usuarios", "cb_log",
                                "cb_teclado"}) {
            walk(m->showChild(key), key);
            m->closeChild(key);
            QApplication::processEvents();
        }

        auto* cfg = qobject_cast<w_configuracion*>(m->showChild("cb_configuracion"));
        walk(w_configuracion_abm::abrir(st.ctx, cfg), "w_configuracion_abm");
        QPointer<w_buscar> buscar = w_buscar::abrir(st.ctx, SearchMode::abonado);
        walk(buscar, "w_buscar");
        delete buscar;
        st.editor = EditorContext::forTemplate(1, 1, 1, 0);
        w_seccion seccion(st.ctx);
        walk(&seccion, "w_seccion");
        walk(reports::showSubscriberReport(st.ctx), "w_reporte");
        w_login login(st.ctx);
        walk(&login, "w_login");
        w_migracion migracion(st.ctx);
        walk(&migracion, "w_migracion");
    }


    // The keyboard rule, for every window as it opens, and the keys that
    // open, edit, save, turn pages and close, pressed as a user would.
    void everyWindowByKeyboard()
    {
        ui::KeyboardPolish polish;
        qApp->installEventFilter(&polish);
        TestStation st(true, true);
        st.main.logIn(st.main.currentUser(), 1);
        AppShell shell{st};
        shell.comMain();
        w_main* m = shell.mainWindow();
        m->show();
        QVERIFY(QTest::qWaitForWindowActive(m));
        QStringList faults;
        const auto check = [&](QWidget* w, const QString& what) {
            QVERIFY2(w, qPrintable(what));
            QApplication::processEvents();
            for (const QString& f : keyboardFaults(w, m))
                faults << what + ": " + f;
        };
        for (const char* key : {"cb_parametros", "cb_abonados", "cb_panel", "cb_configuracion", "cb_usuarios", "cb_log",
                                "cb_teclado"}) {
            check(m->showChild(key), key);
            m->closeChild(key);
            QApplication::processEvents();
        }
        check(reports::showSubscriberReport(st.ctx), "w_reporte");
        check(w_historial::abrirAbonado(st.ctx, 1), "w_historial");
        auto* cfg = qobject_cast<w_configuracion*>(m->showChild("cb_configuracion"));
        QPointer<w_configuracion_abm> abm = w_configuracion_abm::abrir(st.ctx, cfg);
        check(abm, "w_configuracion_abm");
        delete abm;
        QPointer<w_buscar> buscar = w_buscar::abrir(st.ctx, SearchMode::abonado);
        check(buscar, "w_buscar");
        delete buscar;
        st.editor = EditorContext::forTemplate(1, 1, 1, 0);
        QPointer<w_seccion> seccion = w_seccion::abrir(st.ctx, cfg);
        check(seccion, "w_seccion");
        delete seccion;
        m->closeChild("cb_configuracion");
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join("\n")));

        // Subscribers: Ctrl+Tab turns the pages; F2 edits, F9 saves, and F2
        // works again at once; Esc cancels while editing, then closes.
        QPointer<QWidget> abonados = m->showChild("cb_abonados");
        QApplication::processEvents();
        auto* tabs = abonados->findChild<QTabWidget*>();
        press(Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(tabs->currentIndex(), 1);
        press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(tabs->currentIndex(), 0);
        QVERIFY(st.search.dispatch(SearchMode::abonado, 1));
        auto* aceptar = abonados->findChild<QAction*>("cb_aceptar");
        for (int round = 0; round < 2; ++round) {
            press(Qt::Key_F2);
            QVERIFY2(aceptar->isEnabled(), qPrintable(QString::number(round)));
            press(Qt::Key_F9);
            QVERIFY(!aceptar->isEnabled());
        }
        press(Qt::Key_Insert);
        QVERIFY(aceptar->isEnabled());
        press(Qt::Key_Escape);
        QVERIFY(!aceptar->isEnabled() && abonados);
        press(Qt::Key_Escape);
        QTRY_VERIFY(!abonados);

        // Users: Ins works as it opens; Ctrl+F4 closes.
        QPointer<QWidget> usuarios = m->showChild("cb_usuarios");
        QApplication::processEvents();
        press(Qt::Key_Insert);
        QVERIFY(usuarios->findChild<QAction*>("cb_aceptar")->isEnabled());
        press(Qt::Key_Escape);
        press(Qt::Key_F4, Qt::ControlModifier);
        QTRY_VERIFY(!usuarios);

        // The log: "Borrar" on the key its tool-tip names, from a date field.
        QPointer<QWidget> log = m->showChild("cb_log");
        QApplication::processEvents();
        QVERIFY(qobject_cast<QDateEdit*>(QApplication::focusWidget()));
        auto* borrar = log->findChild<QAction*>("cb_baja");
        QVERIFY(borrar->toolTip().endsWith("(" + borrar->shortcut().toString(QKeySequence::NativeText) + ")"));
        st.messages.clear();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(borrar->shortcut()[0].key()), borrar->shortcut()[0].keyboardModifiers());
        QVERIFY(st.messages.asked.value(0).startsWith("Se borrará el Log hasta el"));
        m->closeChild("cb_log");
        qApp->removeEventFilter(&polish);
    }

    // The walk must notice what it is there for.
    void walkFindsFaults()
    {
        // Made in the wrong order: the lower input first.
        QWidget w;
        auto* lay = new QGridLayout(&w);
        auto* lower = new QLineEdit(&w);
        auto* upper = new QLineEdit(&w);
        lower->setObjectName("lower");
        upper->setObjectName("upper");
        lay->addWidget(new QLabel("Nombre:"), 0, 0);
        lay->addWidget(upper, 0, 1);
        lay->addWidget(lower, 1, 1);
        w.show();
        QCOMPARE(faultsOf(&w), QStringList({"lower (QLineEdit): sin nombre accesible",
                                      "orden de tabulación: upper (QLineEdit) después de lower (QLineEdit)"}));
        // The label beside the upper input became its buddy, with a mnemonic.
        QCOMPARE(qobject_cast<QLabel*>(lay->itemAtPosition(0, 0)->widget())->text(), QString("&Nombre:"));
        lower->setAccessibleName("Apellido");
        QCOMPARE(faultsOf(&w).size(), 1);
    }

    void shortcutsAreShownAndScoped()
    {
        QWidget frame;
        auto* child = new QWidget(&frame);
        auto* bar = new QToolBar(child);
        QAction* save = bar->addAction("Guardar");
        save->setObjectName("cb_guardar");
        save->setToolTip("Guardar cambios");
        ui::polishWindow(child);
        QCOMPARE(save->shortcut(), QKeySequence(Qt::Key_F9));
        QVERIFY(save->toolTip().startsWith("Guardar cambios (") && save->toolTip().endsWith(")"));
        QCOMPARE(save->shortcutContext(), Qt::WidgetWithChildrenShortcut);
        ui::polishWindow(child);
        QCOMPARE(save->toolTip().count('('), 1);
    }

    void keyCommandsFollowTheirControl()
    {
        QWidget window;
        auto* page = new QWidget(&window);
        auto* lamp = new QLabel(page);
        lamp->setToolTip("Terminar Comunicación");
        int runs = 0;
        QAction* a = ui::keyCommand(&window, lamp, "img_end", [&runs] { ++runs; });
        QCOMPARE(a->shortcut(), QKeySequence(Qt::Key_F12));
        QVERIFY(lamp->toolTip().startsWith("Terminar Comunicación ("));
        window.show();
        a->trigger();
        // On a page not shown (another tab) the command still works ...
        page->hide();
        a->trigger();
        QCOMPARE(runs, 2);
        // ... but not while the control itself is hidden or disabled.
        page->show();
        lamp->hide();
        a->trigger();
        lamp->show();
        lamp->setEnabled(false);
        a->trigger();
        QCOMPARE(runs, 2);
    }

    void lampsSayTheirState()
    {
        QCOMPARE(lampText("img_zona_2", "rojo").state, QString("Zona 3: abierta"));
        QCOMPARE(lampText("img_zona_2", "gris").state, QString("Zona 3: cerrada"));
        QCOMPARE(lampText("img_zona_15", "azul").state, QString("Zona 16: con falla"));
        QCOMPARE(lampText("img_exclusion_0", "amarillo").state, QString("Zona 1: excluida"));
        QCOMPARE(lampText("img_memo_4", "naranja").state, QString("Zona 5: memoria de alarma"));
        QCOMPARE(lampText("img_particion_1", "verde").state, QString("Partición 2: activa"));
        QCOMPARE(lampText("img_pgm_0", "gris").state, QString("PGM 1: apagada"));
        QCOMPARE(lampText("img_listo", "verde").state, QString("Listo: encendido"));
        QCOMPARE(lampText("img_connect", "amarillo").state, QString("Llamar: en curso"));
        QCOMPARE(lampText("img_exclusion_0", "gris").name, QString("Exclusión zona 1"));
        QVERIFY(lampText("st_enlace", "").name.isEmpty());
    }
};

QTEST_MAIN(tst_accessibility)
#include "tst_accessibility.moc"
