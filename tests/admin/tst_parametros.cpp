// Communication parameters: stored, validated, and applied at once.

#include "testsupport.h"
#include "link_test_access.h"

#include "admin/w_parametros.h"
#include "session/mdl_main.h"
#include "app/w_main.h"
#include "data/db.h"
#include "data/settings_store.h"
#include "link/panel_link.h"
#include "link/serialport.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

class tst_parametros : public QObject {
    Q_OBJECT

    // Where this station's port settings are stored: the settings row of a
    // file, the station's own row on a server.
    static QSqlQuery ownSettings(const QString& columns)
    {
        if (testOnServer())
            return db::exec(stationDb(), QStringLiteral("SELECT %1 FROM configuracion_estaciones WHERE estacion = ?").arg(columns),
                            {db::stationName(stationDb())});
        return db::exec(stationDb(), QStringLiteral("SELECT %1 FROM configuracion WHERE id_configuracion = 1").arg(columns));
    }
    static QVariantList settingsRow()
    {
        QSqlQuery q = ownSettings("modem_port, modem_mode, ip_port");
        return q.next() ? QVariantList{q.value(0).toInt(), q.value(1).toString(), q.value(2).toInt()} : QVariantList{};
    }

    struct Frame {
        TestStation& st;
        w_main w{st.ctx, st.trans};
        explicit Frame(TestStation& station) : st(station)
        {
            st.main.attachPort(w.com_main);
            w.registerWindow("cb_parametros", [&] { return new w_parametros(st.ctx, st.trans); });
        }
        w_parametros* open()
        {
            w.action("cb_parametros")->trigger();
            return qobject_cast<w_parametros*>(w.child("cb_parametros"));
        }
    };

private slots:
    void showsAndStoresSettings()
    {
        TestStation st;
        Frame f(st);
        w_parametros* p = f.open();
        QVERIFY(p);
        QCOMPARE(p->cbx_modem_port->currentText(), QString("1"));
        QCOMPARE(p->cbx_modem_speed->currentText(), QString("Sin Puerto Com"));
        QCOMPARE(p->sle_IP_port->text(), QString("5000"));
        QCOMPARE(p->cbx_modem_port->count(), 5);
        QCOMPARE(p->cbx_modem_speed->itemText(1), QString("Interface"));

        // A typed port outside the list is stored; a modem mode on a missing port says 202 and closes.
        p->cbx_modem_port->setCurrentText("7");
        p->cbx_modem_speed->setCurrentText("Modem");
        p->sle_IP_port->setText("40000");
        p->cb_aceptar->trigger();
        QCOMPARE(settingsRow(), (QVariantList{7, "Modem", 40000}));
        QCOMPARE(st.messages.lastTitle(), QString("Error 202"));
        QTRY_VERIFY(!f.w.child("cb_parametros"));
        QCOMPARE(st.main.ipPort(), 40000);
        QVERIFY(!f.w.action("cb_teclado")->isVisible());
        QCOMPARE(f.w.sb_modem_text->text(), QString("COM 7"));

        // Verified uploads: on by default, switched off and shown so.
        p = f.open();
        QVERIFY(p->chk_verificar->isChecked());
        p->chk_verificar->setChecked(false);
        p->cb_aceptar->trigger();
        p = f.open();
        QVERIFY(!p->chk_verificar->isChecked());
        QVERIFY(!settings::read(st.main.db())->verificar_subidas);
    }

    void linkedPortAppliesAtOnce()
    {
        TestStation st;
        Pty pty;
        QVERIFY(pty.linkAs(st.dir(), 4));
        Frame f(st);
        w_parametros* p = f.open();
        p->cbx_modem_port->setCurrentText("4");
        p->cbx_modem_speed->setCurrentIndex(1);
        p->cb_aceptar->trigger();
        QVERIFY(st.messages.shown.isEmpty());
        QVERIFY(f.w.action("cb_teclado")->isVisible());
        QVERIFY(f.w.com_main->isOpen());
        QCOMPARE(f.w.com_main->settings(), QString("4800,N,8,2"));

        // Then no port at all: the open port is closed, no message.
        p = f.open();
        p->cbx_modem_speed->setCurrentText("Sin Puerto Com");
        p->cb_aceptar->trigger();
        QVERIFY(st.messages.shown.isEmpty());
        QVERIFY(!f.w.com_main->isOpen());
        QVERIFY(!f.w.action("cb_teclado")->isVisible());
        QCOMPARE(f.w.sb_modem_text->text(), QString("COM 0"));
        QCOMPARE(settingsRow(), (QVariantList{4, "Sin Puerto Com", 5000}));

        // The device of the link is listed, and shown for its number.
        p = f.open();
        const int i = p->cbx_modem_device->findData(pty.slavePath());
        QVERIFY(i >= 0);
        QCOMPARE(p->cbx_modem_device->itemText(i), pty.slavePath() + " (COM4)");
        QCOMPARE(p->cbx_modem_device->currentIndex(), i);
        // Picked for number 2: COM2 names it and the port opens on it.
        p->cbx_modem_port->setCurrentText("2");
        QVERIFY(p->cbx_modem_device->currentIndex() != i);
        p->cbx_modem_device->setCurrentIndex(i);
        p->cbx_modem_speed->setCurrentText("Modem");
        p->cb_aceptar->trigger();
        QVERIFY(st.messages.shown.isEmpty());
        QCOMPARE(QFileInfo(st.path("COM2")).symLinkTarget(), pty.slavePath());
        QVERIFY(f.w.com_main->isOpen());
        QCOMPARE(settingsRow(), (QVariantList{2, "Modem", 5000}));

        // Under a call the port is not reopened (that would hang the modem
        // up): the change waits for the link to be idle.
        LinkTestAccess::setPhase(st.trans, PanelLink::LinkPhase::Connected);
        p = f.open();
        p->cbx_modem_speed->setCurrentText("Interface");
        p->cb_aceptar->trigger();
        QCOMPARE(st.messages.lastText(), QString("Los cambios del puerto se aplicarán al terminar la comunicación"));
        QCOMPARE(settingsRow(), (QVariantList{2, "Interface", 5000}));
        QCOMPARE(f.w.com_main->settings(), QString("110,N,8,2"));
        QVERIFY(f.w.com_main->isOpen());
        st.trans.endSession();
        QTRY_COMPARE(f.w.com_main->settings(), QString("4800,N,8,2"));
        QVERIFY(f.w.com_main->isOpen());
        // Nothing of the port changed: "Aceptar" leaves a call alone.
        LinkTestAccess::setPhase(st.trans, PanelLink::LinkPhase::Connected);
        const qsizetype boxes = st.messages.shown.size();
        QSignalSpy reopened(&st.main, &mdl_main::portStatusChanged);
        p = f.open();
        p->cb_aceptar->trigger();
        QCOMPARE(st.messages.shown.size(), boxes);
        QCOMPARE(reopened.count(), 0);
        st.trans.endSession();
        p = f.open();
        p->cbx_modem_speed->setCurrentText("Modem");
        p->cb_aceptar->trigger();
        QCOMPARE(f.w.com_main->settings(), QString("110,N,8,2"));

        // A file that is no link is left alone, and nothing is stored.
        QFile plain(st.path("COM3"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        p = f.open();
        p->cbx_modem_port->setCurrentText("3");
        p->cbx_modem_device->setCurrentIndex(i);
        p->cb_aceptar->trigger();
        QCOMPARE(st.messages.lastText(), st.path("COM3") + " ya existe y no es un enlace");
        QVERIFY(!QFileInfo(st.path("COM3")).isSymLink());
        QCOMPARE(settingsRow(), (QVariantList{2, "Modem", 5000}));
    }

    void badNumbersAndCancelStoreNothing()
    {
        TestStation st;
        Frame f(st);
        const QVariantList before = settingsRow();
        w_parametros* p = f.open();
        for (const char* bad : {"", "x", "0", "100", "1.5"}) {
            p->cbx_modem_port->setCurrentText(bad);
            p->cb_aceptar->trigger();
            QVERIFY(st.messages.lastText().startsWith("El puerto Com debe ser"));
        }
        p->cbx_modem_port->setCurrentText("2");
        for (const char* bad : {"0", "65536", "-1", "50 0"}) {
            p->sle_IP_port->setText(bad);
            p->cb_aceptar->trigger();
            QVERIFY(st.messages.lastText().startsWith("El puerto IP debe ser"));
        }
        QCOMPARE(settingsRow(), before);
        QVERIFY(f.w.child("cb_parametros")); // still open with the typed values
        p->cbx_modem_speed->setCurrentText("Interface");
        p->cb_cancelar->trigger();
        QTRY_VERIFY(!f.w.child("cb_parametros"));
        QCOMPARE(settingsRow(), before);
    }

    // The panels allowed over IP and the address to bind: checked, stored
    // (empty as null) and shown again.
    void allowedPanelsAndListenAddress()
    {
        TestStation st;
        Frame f(st);
        const auto ipRow = [] {
            QSqlQuery q = ownSettings("ip_permitidas, ip_escucha");
            return q.next() ? QVariantList{q.value(0), q.value(1)} : QVariantList{QVariant(), QVariant()}; // nothing stored yet
        };
        w_parametros* p = f.open();
        QVERIFY(p->sle_IP_permitidas->text().isEmpty() && p->sle_IP_escucha->text().isEmpty());
        for (const char* bad : {"10.0.0.0/40", "10.0.0.1, panel", "300.1.1.1"}) {
            p->sle_IP_permitidas->setText(bad);
            p->cb_aceptar->trigger();
            QVERIFY2(st.messages.lastText().endsWith("no es una dirección ni una red válida (por ejemplo 192.168.1.20 o 10.0.0.0/8)"),
                     qPrintable(st.messages.lastText()));
        }
        p->sle_IP_permitidas->setText(" 10.0.0.0/8, 192.168.1.20 ");
        p->sle_IP_escucha->setText("300.1.1.1");
        p->cb_aceptar->trigger();
        QCOMPARE(st.messages.lastText(), QString("«300.1.1.1» no es una dirección IP válida"));
        QVERIFY(ipRow().at(0).isNull() && ipRow().at(1).isNull());
        p->sle_IP_escucha->setText("127.0.0.1");
        p->cb_aceptar->trigger();
        QTRY_VERIFY(!f.w.child("cb_parametros"));
        QCOMPARE(ipRow(), (QVariantList{"10.0.0.0/8, 192.168.1.20", "127.0.0.1"}));

        p = f.open();
        QCOMPARE(p->sle_IP_escucha->text(), QString("127.0.0.1"));
        p->sle_IP_permitidas->clear();
        p->sle_IP_escucha->clear();
        p->cb_aceptar->trigger();
        QTRY_VERIFY(!f.w.child("cb_parametros"));
        QVERIFY(ipRow().at(0).isNull() && ipRow().at(1).isNull());
    }

    // Stations sharing a server keep their own ports: one's save is not the
    // other's, which starts from the shared row; the read-back choice is shared.
    void eachStationOnAServerKeepsItsPorts()
    {
        if (!testOnServer())
            QSKIP("a file has one station");
        TestStation st;
        db::Server other;
        other.host = qEnvironmentVariable("PGHOST");
        other.dbname = st.serverDb();
        other.estacion = QStringLiteral("TALLER");
        const QSqlDatabase taller = db::openServer(QStringLiteral("taller"), other);
        QCOMPARE(db::stationName(taller), QStringLiteral("TALLER"));
        settings::writeCommunication(taller, 4, QStringLiteral("Interface"), 6000, QStringLiteral("10.0.0.0/8"), {}, true);
        {
            Frame f(st);
            w_parametros* p = f.open();
            QCOMPARE(p->cbx_modem_port->currentText(), QString("1"));
            QCOMPARE(p->cbx_modem_speed->currentText(), QString("Sin Puerto Com"));
            QVERIFY(p->sle_IP_permitidas->text().isEmpty());
            p->cbx_modem_port->setCurrentText("2");
            p->sle_IP_port->setText("5001");
            p->chk_verificar->setChecked(false);
            p->cb_aceptar->trigger();
            QCOMPARE(settingsRow(), (QVariantList{2, "Sin Puerto Com", 5001}));
        }
        const std::optional<settings::Row> t = settings::read(taller);
        QVERIFY(t);
        QCOMPARE((QVariantList{t->modem_port.toInt(), t->modem_mode.toString(), t->ip_port.toInt(), t->ip_permitidas}),
                 (QVariantList{4, "Interface", 6000, "10.0.0.0/8"}));
        QVERIFY(!t->verificar_subidas);
        db::close(QStringLiteral("taller"));
    }

    void missingRowDisablesAccept()
    {
        TestStation st;
        db::exec(st.main.db(), "DELETE FROM configuracion");
        Frame f(st);
        w_parametros* p = f.open();
        QCOMPARE(st.messages.lastTitle(), QString("Error 201"));
        QCOMPARE(st.messages.lastText(), QString("No se pudo acceder a los datos"));
        QVERIFY(!p->cb_aceptar->isEnabled());
        QVERIFY(p->cb_cancelar->isEnabled());
    }
};

QTEST_MAIN(tst_parametros)
#include "tst_parametros.moc"
