// The start-up check and the migration window: the question, declining,
// the merge with its progress, success and failure.

#include "ui/ui_messagebox.h"
#include "app/ui_shell.h"
#include "app/ui_startup_hooks.h"
#include "catalogue_fixture.h"
#include "migration/novedades.h"
#include "migration/w_migracion.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QtTest>

namespace {

class FakeShell : public ShellUi {
public:
    SerialPort* comMain() override { return nullptr; }
    void setKeypadButtonVisible(bool) override {}
    void showMainWindow() override {}
    void closeSplash() override {}
    void runCatalogueCheck() override {}
    void runLogin() override {}
    void endProgram(int code) override { endedWith = code; }
    int endedWith = -1;
};

// What the window showed when its run was over.
struct Seen {
    bool shown = false, visibleAfter = true;
    QString caption, percent;
    QList<int> bar;
};

} // namespace

class tst_w_migracion : public QObject {
    Q_OBJECT

    // Runs the start-up check; the window's timer is fired by hand.
    static Seen runCheck(TestStation& st, FakeShell& shell)
    {
        Seen seen;
        QTimer::singleShot(0, [&seen] {
            auto* w = qobject_cast<w_migracion*>(QApplication::activeModalWidget());
            if (!(seen.shown = w != nullptr))
                return;
            connect(w->pb_migracion, &QProgressBar::valueChanged, [&seen](int v) { seen.bar << v; });
            w->tmr_migracion_Timer();
            seen.caption = w->st_migracion->text();
            seen.percent = w->st_progreso->text();
            seen.visibleAfter = w->isVisible();
        });
        w_migracion::mergeUpdate(st.ctx, shell, nullptr);
        return seen;
    }
    static int count(const QString& sql) { return db::scalar(stationDb(), sql).toInt(); }

private slots:
    // A file that is no update file is said, and set aside on Yes; the
    // start goes on either way.
    void unusableFileIsSetAside()
    {
        TestStation st;
        const QString file = st.path(mdl_main::UpdateFile);
        const auto write = [&](const QByteArray& bytes) {
            QFile f(file);
            return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
        };
        FakeShell shell;
        QVERIFY(write("basura que no es una base de datos"));
        QCOMPARE(migration::mergeUpdate(st.main, shell), migration::UpdateCheck::Unusable);
        QCOMPARE(st.messages.asked.value(0), QStringLiteral("El archivo de novedades novedades20.mdb no se puede usar: no es una "
                                                            "base de datos.\n¿Lo aparta, renombrado con la fecha de hoy, para "
                                                            "que no se vuelva a ofrecer?"));
        QVERIFY(QFile::exists(file)); // No: left where it is

        QVERIFY(write(QByteArray()));
        st.messages.answers << true;
        QCOMPARE(migration::mergeUpdate(st.main, shell), migration::UpdateCheck::Unusable);
        QVERIFY(st.messages.asked.value(1).contains(QStringLiteral("no tiene la tabla paneles con sus columnas")));
        QVERIFY(!QFile::exists(file));
        QCOMPARE(QDir(st.dir()).entryList({"novedades20-apartado-*.mdb"}).size(), 1);
        QCOMPARE(shell.endedWith, -1);
        QVERIFY(!QSqlDatabase::contains(mdl_main::UpdateConnection));
        QVERIFY(st.messages.shown.isEmpty());
    }

    // Through the station's own start-up hook.
    void decliningDeletesTheFile()
    {
        TestStation st;

        Maintainer m(st);
        m.exec(QStringLiteral("UPDATE paneles SET version = '9.9'"));
        m.exportUpdate();
        installStartupHooks(st);
        AppShell app(st);
        int ended = -1;
        app.onEnd = [&ended](int code) { ended = code; };
        st.messages.answers << false;
        app.runCatalogueCheck();
        QCOMPARE(st.messages.asked,
                 QStringList{QStringLiteral("Se ha detectado un archivo de novedades.\n¿Ejecuta el proceso de migración?")});
        // Enter merges (safe, and it can be repeated); only "No" deletes.
        QCOMPARE(st.messages.defaults, QList<MessageService::Default>{MessageService::Default::Yes});
        WidgetMessages boxes;
        QTimer::singleShot(0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return); });
        QVERIFY(boxes.ask(QStringLiteral("Atención"), QStringLiteral("¿Sí?"), MessageService::Default::Yes));
        QVERIFY(!QFile::exists(st.path(mdl_main::UpdateFile)));
        QVERIFY(!QSqlDatabase::contains(mdl_main::UpdateConnection));
        QCOMPARE(ended, -1);
        QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM paneles WHERE version = '9.9'")), 0);
    }

    void decliningAReadOnlyFileEndsTheProgram()
    {
        TestStation st;
        Maintainer(st).exportUpdate();
        QFile::setPermissions(st.path(mdl_main::UpdateFile), QFileDevice::ReadOwner);
        FakeShell shell;
        st.messages.answers << false;
        QCOMPARE(migration::mergeUpdate(st.main, shell), migration::UpdateCheck::Ended);
        QCOMPARE(st.messages.lastText(), QStringLiteral("No se pudo acceder en modo exclusivo al archivo."));
        QCOMPARE(st.messages.lastTitle(), QStringLiteral("Error"));
        QCOMPARE(shell.endedWith, 1);
        QVERIFY(QFile::exists(st.path(mdl_main::UpdateFile)));
    }

    void acceptingMergesShowsProgressAndDeletesTheFile()
    {
        TestStation st;
        Maintainer m(st);
        m.exec(QStringLiteral("UPDATE secciones_items SET descripcion = 'Ítem ''nuevo'''"));
        m.exportUpdate();
        FakeShell shell;
        st.messages.answers << true;
        const Seen seen = runCheck(st, shell);

        QVERIFY(seen.shown && !seen.visibleAfter);
        QCOMPARE(seen.caption, QStringLiteral("Configuraciones..."));
        QCOMPARE(seen.percent, QStringLiteral("100 %"));
        // The bar moved through the run, never backwards, up to 100.
        QVERIFY(seen.bar.size() > 20 && std::is_sorted(seen.bar.begin(), seen.bar.end()) && seen.bar.last() == 100);
        QCOMPARE(st.messages.lastText(), QStringLiteral("La migración finalizó exitosamente"));
        QCOMPARE(st.messages.lastTitle(), QStringLiteral("Atención"));
        QCOMPARE(st.messages.shown.last().icon, MessageService::Icon::Information);
        QVERIFY(!QFile::exists(st.path(mdl_main::UpdateFile)));
        QCOMPARE(shell.endedWith, -1);
        QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM secciones_items WHERE descripcion <> 'Ítem ''nuevo'''")), 0);
    }

    void failureEndsTheProgramAndKeepsTheFile()
    {
        TestStation st;
        Maintainer m(st);
        m.exec(QStringLiteral("UPDATE paneles SET version = 'nueva'"));
        m.exportUpdate();
        tamper(st.path(mdl_main::UpdateFile), QStringLiteral("UPDATE secciones SET tipo = NULL WHERE id_panel = 2 AND id_seccion = 5"));
        FakeShell shell;
        st.messages.answers << true;
        const Seen seen = runCheck(st, shell);

        QVERIFY(seen.shown && !seen.visibleAfter);
        QCOMPARE(shell.endedWith, 1);
        QCOMPARE(st.messages.lastTitle(), QStringLiteral("Error"));
        QVERIFY2(st.messages.lastText().contains(QStringLiteral("columna tipo de la tabla secciones (id_panel = 2, id_seccion = 5)")),
                 qPrintable(st.messages.lastText()));
        QVERIFY(!st.messages.sawText(QStringLiteral("La migración finalizó exitosamente")));
        QVERIFY(QFile::exists(st.path(mdl_main::UpdateFile)));
        QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM paneles WHERE version = 'nueva'")), 2);
    }

    void cannotBeClosedWhileMerging()
    {
        TestStation st;
        Maintainer(st).exportUpdate();
        db::open(mdl_main::UpdateConnection, st.path(mdl_main::UpdateFile));
        w_migracion w(st.ctx);
        QVERIFY(w.tmr_migracion->isSingleShot() && w.tmr_migracion->isActive() && w.tmr_migracion->interval() == 1000);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!w.close());
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(w.isVisible());
        // Nor from inside the run, where window events are handled.
        bool refused = false;
        connect(w.pb_migracion, &QProgressBar::valueChanged, &w, [&](int v) {
            if (v == 50)
                refused = !w.close() && w.isVisible();
        });
        w.tmr_migracion_Timer();
        QVERIFY(refused && w.succeeded() && !w.isVisible());
    }
};

QTEST_MAIN(tst_w_migracion)
#include "tst_w_migracion.moc"
