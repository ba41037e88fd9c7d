// The frame window's rules (children, keypad and console never together, a
// size that stays put, where children and message boxes open, exit refused
// while connected) and compaction with backup into owner-only files.

#include "testsupport.h"
#include "link_test_access.h"

#include "app/compaction.h"
#include "session/mdl_main.h"
#include "ui/ui_messagebox.h"
#include "app/w_main.h"
#include "data/db.h"
#include "data/station_db.h"
#include "link/panel_link.h"
#include "link/serialport.h"

#include <QAction>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStatusBar>
#include <QtTest>

#include <sys/stat.h>

class tst_mainwindow : public QObject {
    Q_OBJECT

    // Nobody but the owner may read or write the file.
    static bool ownerOnly(const QString& file)
    {
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
        return QFile::exists(file) && (QFile::permissions(file) & others) == QFile::Permissions();
    }

    static int count(const QString& file, const QString& sql)
    {
        const QString name = "count-check";
        int n = -1;
        {
            QSqlDatabase c = db::open(name, file);
            n = db::scalar(c, sql).toInt();
        }
        db::close(name);
        return n;
    }

private slots:
    void childWindowsOpenOnceAndExclude()
    {
        TestStation st;
        w_main w(st.ctx, st.trans);
        int made = 0;
        w.registerWindow("cb_abonados", [&] { ++made; return new QWidget; });
        w.registerWindow("cb_panel", [] { return new QWidget; });
        w.registerWindow("cb_teclado", [] { return new QWidget; });
        w.show();

        w.action("cb_abonados")->trigger();
        w.action("cb_abonados")->trigger();
        QCOMPARE(made, 1);
        QCOMPARE(w.mdi->subWindowList().size(), 1);

        // The keypad only in interface mode, and never beside the console.
        w.action("cb_panel")->trigger();
        QVERIFY(w.child("cb_panel"));
        w.com_main->setSettings("110,N,8,2");
        w.action("cb_teclado")->trigger();
        QVERIFY(!w.child("cb_teclado"));
        w.com_main->setSettings("4800,N,8,2");
        LinkTestAccess::setPhase(st.trans, PanelLink::LinkPhase::Connected);
        w.action("cb_teclado")->trigger();
        QCOMPARE(st.messages.lastText(), QString("Primero debe desconectarse"));
        QVERIFY(!w.child("cb_teclado"));
        LinkTestAccess::setPhase(st.trans, PanelLink::LinkPhase::Idle);
        w.action("cb_teclado")->trigger();
        QTRY_VERIFY(!w.child("cb_panel"));
        QVERIFY(w.child("cb_teclado"));
        w.action("cb_panel")->trigger();
        QTRY_VERIFY(!w.child("cb_teclado"));
        QVERIFY(w.child("cb_panel"));
    }

    void sizeStaysPutAndChildrenCentred()
    {
        TestStation st;
        w_main w(st.ctx, st.trans);
        w.registerWindow("cb_abonados", [] {
            auto* c = new QWidget;
            c->setFixedSize(300, 200);
            c->setFocusPolicy(Qt::StrongFocus);
            return c;
        });
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        // Below the minimum it snaps back to 7000 x 6000 twips.
        w.resize(100, 100);
        QTRY_COMPARE(w.size(), QSize(ui_min(7000), ui_min(6000)));
        w.resize(ui_min(9600), ui_min(7500));
        QCoreApplication::processEvents();
        const QSize size = w.size(), minimum = w.minimumSize();
        const QRect modem = w.sb_modem->geometry(), panel2 = w.sb_panel2->geometry();
        // Panel 2 takes the width the modem panel leaves.
        QVERIFY(panel2.left() >= modem.right() && panel2.right() >= w.sb_main->width() - 12);

        // Ticks, layout requests, progress texts longer than the window,
        // port status changes: nothing moves.
        for (int i = 0; i < 300; ++i) {
            w.sb_panel2->setText(i % 2 ? QString(400, QLatin1Char('x')) : QStringLiteral("Compactando Base de Datos"));
            emit st.main.portStatusChanged();
            QCoreApplication::postEvent(&w, new QEvent(QEvent::LayoutRequest));
            st.trans.tick();
            QCoreApplication::processEvents();
        }
        QCOMPARE(w.size(), size);
        QCOMPARE(w.minimumSize(), minimum);
        QCOMPARE(w.sb_modem->geometry(), modem);
        QCOMPARE(w.sb_panel2->geometry(), panel2);
        // Why a call failed shows in the second panel.
        emit st.trans.lineMessage(QStringLiteral("Ocupado"));
        QCOMPARE(w.sb_panel2->text(), QString("Ocupado"));

        // A child: centred on the main window's client area, 700 twips above
        // its middle, on the screen.
        QWidget* child = w.showChild("cb_abonados");
        QWidget* frame = child->parentWidget();
        const QRect area = frame->parentWidget()->rect();
        QCOMPARE(frame->x(), (area.width() - frame->width()) / 2);
        QCOMPARE(frame->y(), (area.height() - frame->height()) / 2 - ui_min(700));
        QVERIFY(w.screen()->geometry().contains(QRect(frame->mapToGlobal(QPoint(0, 0)), frame->size())));

        // A message box opens over the window it belongs to.
        WidgetMessages boxes;
        child->setFocus();
        QRect box;
        QTimer::singleShot(0, [&box] {
            if (QWidget* b = QApplication::activeModalWidget()) {
                box = b->frameGeometry();
                b->close();
            }
        });
        boxes.show("Error", "Primero debe desconectarse", MessageService::Icon::Critical);
        QVERIFY((box.center() - frame->mapToGlobal(frame->rect().center())).manhattanLength() <= 2);
    }

    void exitRefusedWhileConnected()
    {
        TestStation st;
        w_main w(st.ctx, st.trans);
        int ended = -1;
        w.endProgram = [&](int c) { ended = c; };
        w.show();
        LinkTestAccess::setPhase(st.trans, PanelLink::LinkPhase::Connected);
        w.action("cb_salir")->trigger();
        QVERIFY(!w.close());
        QCOMPARE(st.messages.lastText(), QString("Primero debe desconectarse"));
        QCOMPARE(ended, -1);
        QVERIFY(st.main.db().isOpen());
        QVERIFY(!QFile::exists(st.path("sorvent20.bkp")));
        LinkTestAccess::setPhase(st.trans, PanelLink::LinkPhase::Idle);
    }

    void exitCompactsWithOneBackupGeneration()
    {
        // The usual mask, under which a new file would be readable by all.
        const mode_t mask = ::umask(022);
        const auto restoreMask = qScopeGuard([mask] { ::umask(mask); });
        TestStation st;
        st.main.logIn(1, st.main.currentLevel());
        const QString dbf = st.path("sorvent20.mdb"), bkp = st.path("sorvent20.bkp");
        if (testOnServer()) {
            // A server keeps its own files: the exit is logged, nothing is copied.
            w_main w(st.ctx, st.trans);
            int ended = -1;
            w.endProgram = [&](int c) { ended = c; };
            w.close();
            QCOMPARE(ended, 0);
            QVERIFY(st.messages.shown.isEmpty());
            QCOMPARE(QDir(st.dir()).entryList({"*.mdb", "*.bkp"}), QStringList());
            {
                const std::optional<QSqlDatabase> c = db::openFromConfig(QStringLiteral("comprobar"), st.dir());
                QVERIFY(c);
                QCOMPARE(db::scalar(*c, "SELECT count(*) FROM usuarios_operaciones WHERE id_operacion = 2").toInt(), 1);
            }
            db::close(QStringLiteral("comprobar"));
            return;
        }
        // A leftover copy of an interrupted run is replaced.
        QFile junk(st.path("sorvent20tmp.mdb"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("junk");
        junk.close();
        // Free pages that compaction must give back.
        db::exec(st.main.db(), "CREATE TABLE filler (x BLOB)");
        for (int i = 0; i < 20; ++i)
            db::exec(st.main.db(), "INSERT INTO filler VALUES (zeroblob(65536))");
        db::exec(st.main.db(), "DROP TABLE filler");
        const qint64 before = QFileInfo(dbf).size();
        {
            w_main w(st.ctx, st.trans);
            int ended = -1;
            w.endProgram = [&](int c) { ended = c; };
            w.close();
            QCOMPARE(ended, 0);
            QCOMPARE(w.sb_panel2->text(), QString("Compactando Base de Datos"));
        }
        QVERIFY(QFile::exists(bkp));
        QVERIFY(!QFile::exists(st.path("sorvent20tmp.mdb")));
        QVERIFY(QFileInfo(dbf).size() < before);
        QVERIFY(st.messages.shown.isEmpty());
        const QString exits = "SELECT count(*) FROM usuarios_operaciones WHERE id_operacion = 2";
        QCOMPARE(count(dbf, exits), 1);
        QCOMPARE(count(bkp, exits), 1);
        QVERIFY(ownerOnly(dbf) && ownerOnly(bkp));

        // Second run: the backup is this run's database, not the first one's,
        // owner-only even when the database had been made readable by all.
        QVERIFY(QFile::setPermissions(dbf, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));
        db::open(mdl_main::DbConnection, dbf);
        db::exec(st.main.db(), "INSERT INTO provincias VALUES (99, 'SEGUNDA')");
        {
            w_main w(st.ctx, st.trans);
            w.endProgram = [](int) {};
            w.action("cb_salir")->trigger();
        }
        QCOMPARE(count(bkp, exits), 2);
        QCOMPARE(count(bkp, "SELECT count(*) FROM provincias WHERE id_provincia = 99"), 1);
        QCOMPARE(count(dbf, exits), 2);
        QVERIFY(ownerOnly(dbf) && ownerOnly(bkp));
    }

    void failureAtAnyStepKeepsTheDatabase_data()
    {
        QTest::addColumn<int>("step");
        QTest::newRow("check") << int(compaction::Step::Check);
        QTest::newRow("compact") << int(compaction::Step::Compact);
        QTest::newRow("copy backup") << int(compaction::Step::CopyBackup);
        QTest::newRow("replace") << int(compaction::Step::Replace);
        QTest::newRow("renew backup") << int(compaction::Step::RenewBackup);
    }

    void failureAtAnyStepKeepsTheDatabase()
    {
        QFETCH(int, step);
        if (testOnServer())
            QSKIP("a server keeps its own files");
        TestStation st;
        const QString dbf = st.path("sorvent20.mdb");
        // An older backup exists.
        QVERIFY(QFile::copy(dbf, st.path("sorvent20.bkp")));
        db::exec(st.main.db(), "INSERT INTO provincias VALUES (77, 'COMMITTED')");
        st.main.closeConnections();

        QString reason;
        QCOMPARE(int(compaction::run(st.dir(), compaction::Step(step), &reason)), step);
        QVERIFY(!reason.isEmpty());
        QVERIFY(QFile::exists(dbf));
        QCOMPARE(count(dbf, "SELECT count(*) FROM provincias WHERE id_provincia = 77"), 1);
        QCOMPARE(count(dbf, "PRAGMA quick_check") , 0); // "ok" reads as 0: the file is sound
        // The previous backup is kept whatever failed, and nothing is left over.
        QCOMPARE(count(st.path("sorvent20.bkp"), "SELECT count(*) FROM provincias WHERE id_provincia = 77"), 0);
        QCOMPARE(QDir(st.dir()).entryList({"sorvent20tmp.mdb", "sorvent20.bkp.*"}), QStringList());

        // The next run completes normally.
        QCOMPARE(compaction::run(st.dir()), compaction::Step::None);
        QVERIFY(!QFile::exists(st.path("sorvent20tmp.mdb")));
        QCOMPARE(count(dbf, "SELECT count(*) FROM provincias WHERE id_provincia = 77"), 1);
        QCOMPARE(count(st.path("sorvent20.bkp"), "SELECT count(*) FROM provincias WHERE id_provincia = 77"), 1);
    }

    // A damaged table page: at "Salir" the operator is told, and neither the
    // database nor the previous (sound) backup changes.
    void damagedDatabaseAtExitIsSaid()
    {
        if (testOnServer())
            QSKIP("a server keeps its own files");
        TestStation st;
        const QString dbf = st.path("sorvent20.mdb"), bkp = st.path("sorvent20.bkp");
        st.main.closeConnections();
        QVERIFY(QFile::copy(dbf, bkp));
        QVERIFY(damageTable(dbf, "provincias"));
        const auto bytes = [](const QString& f) { QFile g(f); g.open(QIODevice::ReadOnly); return g.readAll(); };
        const QByteArray before = bytes(dbf), backup = bytes(bkp);
        db::open(mdl_main::DbConnection, dbf);
        {
            w_main w(st.ctx, st.trans);
            int ended = -1;
            w.endProgram = [&](int c) { ended = c; };
            w.action("cb_salir")->trigger();
            QCOMPARE(ended, 0);
        }
        QCOMPARE(st.messages.shown.size(), 1);
        QCOMPARE(st.messages.lastTitle(), QString("Error"));
        QVERIFY2(st.messages.lastText().startsWith("No se pudo compactar la base de datos al salir.\n\nLa base de datos está dañada ("),
                 qPrintable(st.messages.lastText()));
        QVERIFY(st.messages.lastText().endsWith("La base de datos y la copia de seguridad anterior quedaron como estaban."));
        // The exit row is part of the database; the backup is untouched.
        QCOMPARE(bytes(bkp), backup);
        QVERIFY(bytes(dbf).size() >= before.size());
    }

private:
    static int ui_min(int twips);
};

#include "ui/ui_geometry.h"
int tst_mainwindow::ui_min(int twips) { return ui::twips(twips); }

QTEST_MAIN(tst_mainwindow)
#include "tst_mainwindow.moc"
