// Who may do what, on the database: hashed passwords, the lockout after
// failed logins, the last administrator, groups of subscribers in every
// list, secret values in the reports, and the profiles' and groups' checks.

#include "testsupport.h"

#include "data/db.h"
#include "data/passwords.h"
#include "data/permissions.h"
#include "data/report_store.h"
#include "data/schema_upgrade.h"
#include "data/search_store.h"
#include "data/server_roles.h"
#include "data/users_store.h"

#include <QtTest>

using permissions::Right;

namespace {

QSqlDatabase c()
{
    return stationDb();
}

const QDateTime T0(QDate(2026, 3, 2), QTime(10, 0));

users::Login tryLogin(const QString& password, int minutes, const QString& station = "PC1")
{
    return users::login(c(), "pepe", password, T0.addSecs(60 * minutes), station);
}

} // namespace

class tst_permissions : public QObject {
    Q_OBJECT
private slots:
    void passwordsAreHashedAndVerified()
    {
        const QString h = passwords::hash("ab1ñ");
        QVERIFY(passwords::isHash(h));
        QVERIFY(!h.contains("AB1"));
        // Case is ignored, as it always was; anything else fails.
        QVERIFY(passwords::verify(h, "AB1Ñ"));
        QVERIFY(!passwords::verify(h, "AB1N"));
        // A password kept as text by an older station never matches itself.
        QVERIFY(!passwords::verify("1234", "1234"));
        // What a server's station role checks a login with: the salt alone
        // gives the stored hash back for the right password only.
        const QString salt = passwords::saltOf(h);
        QVERIFY(!salt.isEmpty() && h.startsWith(salt) && salt.size() < h.size() - 40);
        QCOMPARE(passwords::hashWithSalt(salt, "AB1Ñ"), h);
        QVERIFY(passwords::hashWithSalt(salt, "AB1N") != h);
        QVERIFY(passwords::saltOf("1234").isEmpty());
        QVERIFY(passwords::hashWithSalt("$argon2id$v=19$m=65536,t=2,p=4$AAAAAAAAAAAAAAAAAAAAAA$", "x").isEmpty());
    }

    void stationRoleOnServer()
    {
        QVERIFY(server_roles::validRoleName("sorvent_estacion2"));
        for (const char* bad : {"Estacion", "2do", "a; DROP TABLE usuarios", "a\"b", ""})
            QVERIFY(!server_roles::validRoleName(bad));
        if (!testOnServer())
            QSKIP("a file has no roles");
        TestStation st;
        // A server whose check predates the lockout gets the new one.
        db::exec(c(), "CREATE OR REPLACE FUNCTION clave_valida(usuario_id integer, candidata text) RETURNS boolean "
                      "LANGUAGE sql STABLE SECURITY DEFINER AS $f$ SELECT true $f$");
        schema::upgrade(c());
        const int ana = users::add(c(), {0, "ANA", "aaaa", 2, 0});
        const QString role = QStringLiteral("sorvent_rol_%1").arg(QCoreApplication::applicationPid());
        QVERIFY(server_roles::grantStation(c(), role));
        QVERIFY(!server_roles::grantStation(c(), role)); // again: updated, not created
        // The administrator cannot be its own stations' role.
        QVERIFY_THROWS_EXCEPTION(db::Error,
                                 server_roles::grantStation(c(), db::scalar(c(), "SELECT current_user").toString()));
        {
            db::Server s = db::serverOf(c());
            s.user = role;
            const QSqlDatabase r = db::openServer("rol-estacion", s);
            QCOMPARE(db::scalar(r, "SELECT current_user").toString(), role);
            // The hashes cannot be read, not even by a function of its own.
            QVERIFY_THROWS_EXCEPTION(db::Error, db::exec(r, "SELECT password FROM usuarios"));
            QVERIFY_THROWS_EXCEPTION(db::Error, db::exec(r, "SELECT * FROM usuarios"));
            QVERIFY(passwords::isHash(db::scalar(r, "SELECT clave_sal(?)", {ana}).toString()));
            // Nor the schema changed; the station's start-up upgrade leaves it alone.
            QVERIFY_THROWS_EXCEPTION(db::Error, db::exec(r, "CREATE TABLE ajena (a INTEGER)"));
            QVERIFY_THROWS_EXCEPTION(db::Error, db::exec(r, "ALTER TABLE usuarios ADD COLUMN z INTEGER"));
            QVERIFY_THROWS_EXCEPTION(db::Error, db::exec(r, "DROP TABLE grupos"));
            schema::upgrade(r);
            // Rows are read and written; a login and a password change work.
            QVERIFY(!users::login(r, "ana", "bbbb", T0, "PC1").account);
            const users::Login l = users::login(r, "ana", "AAAA", T0, "PC1");
            QVERIFY(l.account);
            QCOMPARE(l.account->id_usuario, ana);
            users::setPassword(r, ana, "bbbb", users::find(r, ana));
            QVERIFY(!users::login(r, "ana", "aaaa", T0, "PC1").account);
            QVERIFY(users::login(r, "ANA", "BBBB", T0, "PC1").account);
            QVERIFY(passwords::verify(db::scalar(c(), "SELECT password FROM usuarios WHERE id_usuario = ?", {ana}).toString(),
                                      "bbbb"));
            permissions::saveGroup(r, {0, "ESTE", "Zona este"});
            // Guessing by calling the check itself meets the lockout: five
            // wrong hashes lock, and then the right one is refused too.
            const QString salt = db::scalar(r, "SELECT clave_sal(?)", {ana}).toString();
            for (int i = 0; i < users::FailedLogins; ++i)
                QVERIFY(!db::scalar(r, "SELECT clave_valida(?, ?)", {ana, passwords::hashWithSalt(salt, "zzzz")}).toBool());
            QVERIFY(!db::scalar(r, "SELECT clave_valida(?, ?)", {ana, passwords::hashWithSalt(salt, "bbbb")}).toBool());
            QVERIFY(!db::scalar(c(), "SELECT bloqueado_hasta FROM usuarios WHERE id_usuario = ?", {ana}).isNull());
            QVERIFY(!users::login(r, "ana", "bbbb", QDateTime::currentDateTime(), "PC1").account);
        }
        db::close("rol-estacion");
        // Roles outlive the database: this one goes, which takes being it.
        db::exec(c(), QStringLiteral("GRANT %1 TO current_user").arg(role));
        db::exec(c(), QStringLiteral("DROP OWNED BY %1").arg(role));
        db::exec(c(), QStringLiteral("DROP ROLE %1").arg(role));
    }

    void lockoutAfterFiveFailuresInTenMinutes()
    {
        TestStation st;
        const int id = users::add(c(), {0, "PEPE", "clav", 2, 0});
        if (testOnServer()) {
            // The server counts, by its own clock, each failure once, and
            // names the session's station.
            const QDateTime now = QDateTime::currentDateTime();
            for (int i = 1; i < users::FailedLogins; ++i) {
                QVERIFY(!users::login(c(), "pepe", "xxxx", now, "PC1").lockedUntil.isValid());
                QCOMPARE(db::scalar(c(), "SELECT count(*) FROM usuarios_fallos WHERE id_usuario = ? AND estacion = ?",
                                    {id, db::stationName(c())}).toInt(), i);
            }
            const users::Login locked = users::login(c(), "pepe", "xxxx", now, "PC1");
            QVERIFY(locked.lockedNow);
            QCOMPARE(locked.lockedAccount, id);
            QVERIFY(qAbs(now.secsTo(locked.lockedUntil) - 60 * users::LockMinutes) < 60);
            QVERIFY(!users::login(c(), "pepe", "clav", now, "PC1").account);
            return;
        }
        // Five failures, but over more than ten minutes: never five in the window.
        for (int minute : {0, 3, 6, 9, 12}) {
            const users::Login l = tryLogin("xxxx", minute);
            QVERIFY(!l.account && !l.lockedUntil.isValid());
        }
        // The fifth within ten minutes locks, from whichever station it comes.
        QVERIFY(!tryLogin("xxxx", 13, "PC2").lockedUntil.isValid());
        const users::Login locked = tryLogin("xxxx", 14, "PC2");
        QVERIFY(locked.lockedNow);
        QCOMPARE(locked.lockedAccount, id);
        QCOMPARE(locked.lockedUntil, T0.addSecs(60 * 19));
        // Even the right password waits the five minutes.
        const users::Login waiting = tryLogin("CLAV", 18);
        QVERIFY(!waiting.account && !waiting.lockedNow);
        QCOMPARE(waiting.lockedUntil, T0.addSecs(60 * 19));
        QVERIFY(tryLogin("CLAV", 19).account);
        // A success starts the count again.
        for (int minute = 20; minute < 24; ++minute)
            QVERIFY(!tryLogin("xxxx", minute).lockedUntil.isValid());
        QVERIFY(tryLogin("clav", 24).account);
        QVERIFY(!tryLogin("xxxx", 25).lockedUntil.isValid());
    }

    void lastAdministratorStays()
    {
        TestStation st;
        const int ana = users::add(c(), {0, "ANA", "aaaa", 2, 0});
        // Account 1 is the only one that may administer users.
        QCOMPARE(permissions::administrators(c()), 1);
        QVERIFY_THROWS_EXCEPTION(db::Error, users::update(c(), {1, "ADMINISTRADOR", "", 2, 0}));
        QVERIFY_THROWS_EXCEPTION(db::Error, users::remove(c(), 1));
        QCOMPARE(db::scalar(c(), "SELECT count(*) FROM usuarios WHERE id_usuario = 1").toInt(), 1);
        // With a second administrator the first may go.
        users::update(c(), {ana, "ANA", "", 1, 0});
        QVERIFY(users::login(c(), "ana", "AAAA", T0, "PC1").account); // an empty password keeps it
        users::remove(c(), 1);
        QCOMPARE(permissions::administrators(c()), 1);
        // A profile of its own without the right counts too.
        const int profile = permissions::saveProfile(c(), {0, "Técnico", permissions::bit(Right::Programar)});
        QVERIFY_THROWS_EXCEPTION(db::Error, users::update(c(), {ana, "ANA", "", 3, profile}));
    }

    void groupsLimitEveryList()
    {
        TestStation st(true, true);
        const int a = permissions::saveGroup(c(), {0, "norte", "Zona norte"});
        const int b = permissions::saveGroup(c(), {0, "SUR", "Zona sur"});
        QCOMPARE(db::scalar(c(), "SELECT codigo FROM grupos WHERE id_grupo = ?", {a}).toString(), QString("NORTE"));
        const QList<int> all = searchlists::read(c(), searchlists::List::Subscribers, 0).ids;
        QVERIFY(all.size() >= 2);
        db::exec(c(), "UPDATE abonados SET id_grupo = ? WHERE id_abonado = ?", {a, all.at(0)});
        db::exec(c(), "UPDATE abonados SET id_grupo = ? WHERE id_abonado = ?", {b, all.at(1)});
        const int op = users::add(c(), {0, "OPE", "oooo", 2, 0});
        // No groups: everything.
        QCOMPARE(searchlists::read(c(), searchlists::List::Subscribers, op).ids, all);
        permissions::setOperatorGroups(c(), op, {a});
        QCOMPARE(searchlists::read(c(), searchlists::List::Subscribers, op).ids, QList<int>{all.at(0)});
        QList<int> reported;
        for (const report_store::SubscriberRow& r : report_store::abonados(c(), {op, permissions::levelRights(2)}))
            reported << r.id_abonado;
        QCOMPARE(reported, QList<int>{all.at(0)});
        QVERIFY(report_store::panel(c(), all.at(1), 1, 1, {op, permissions::levelRights(2)}).isEmpty());
        QVERIFY(permissions::maySee(c(), op, all.at(0)));
        QVERIFY(!permissions::maySee(c(), op, all.at(1)));
        QVERIFY(permissions::maySee(c(), 1, all.at(1)));

        // Bad input: a code twice (case aside), a group still used.
        QVERIFY_THROWS_EXCEPTION(db::Error, permissions::saveGroup(c(), {0, "Sur", "otra"}));
        QVERIFY_THROWS_EXCEPTION(db::Error, permissions::saveGroup(c(), {0, " ", "sin código"}));
        try {
            permissions::removeGroup(c(), a);
            QFAIL("a group with subscribers was deleted");
        } catch (const db::Error& e) {
            QVERIFY2(e.text().contains("1 abonado"), qPrintable(e.text()));
        }
        // A group deleted under an operator: it sees nothing, and is told.
        db::exec(c(), "UPDATE abonados SET id_grupo = NULL WHERE id_grupo = ?", {a});
        permissions::removeGroup(c(), a);
        QVERIFY(searchlists::read(c(), searchlists::List::Subscribers, op).ids.isEmpty());
        const permissions::Grant g = permissions::grantOf(c(), op);
        QVERIFY(g.limited);
        QCOMPARE(g.lostGroups, 1);
        QCOMPARE(g.keptGroups, 0);
    }

    void secretValuesHiddenInReports()
    {
        TestStation st(true, true);
        const int subscriber = searchlists::read(c(), searchlists::List::Subscribers).ids.first();
        const int panel = db::scalar(c(), "SELECT id_panel FROM abonados WHERE id_abonado = ?", {subscriber}).toInt();
        const int config = db::scalar(c(), "SELECT id_configuracion FROM abonados WHERE id_abonado = ?", {subscriber}).toInt();
        // The access code section and the user codes the catalogue marks.
        QCOMPARE(permissions::secretSections(c(), panel), (QSet<int>{30, 31, 32, 33, 34, 35, 36, 37, 40}));
        const permissions::Rights noCodes = permissions::levelRights(2) & ~permissions::bit(Right::VerCodigos);
        for (permissions::Rights rights : {permissions::levelRights(3), noCodes}) {
            const QList<report_store::ProgrammingData> data =
                report_store::panel(c(), subscriber, panel, config, {0, rights});
            QCOMPARE(data.size(), 1);
            int hidden = 0, shown = 0;
            for (const report_store::SectionRow& s : data.first().sections)
                for (const report_store::ItemRow& i : s.items) {
                    const bool secret = s.id_seccion == 40 || (s.id_seccion >= 30 && s.id_seccion <= 37);
                    QCOMPARE(i.valor == permissions::hiddenText(), secret && rights == noCodes);
                    (i.valor == permissions::hiddenText() ? hidden : shown)++;
                }
            QVERIFY(shown > 0);
        }
    }

    void profilesAndLevels_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("right");
        QTest::addColumn<bool>("has");
        // The built-in profiles are exactly what the levels could do.
        QTest::newRow("1 parámetros") << 1 << int(Right::Parametros) << true;
        QTest::newRow("1 usuarios") << 1 << int(Right::Usuarios) << true;
        QTest::newRow("2 programar") << 2 << int(Right::Programar) << true;
        QTest::newRow("2 ver códigos") << 2 << int(Right::VerCodigos) << true;
        QTest::newRow("2 plantillas") << 2 << int(Right::EditarPlantillas) << false;
        QTest::newRow("2 borrar") << 2 << int(Right::Borrar) << false;
        QTest::newRow("2 usuarios") << 2 << int(Right::Usuarios) << false;
        QTest::newRow("3 abonados") << 3 << int(Right::EditarAbonados) << false;
        QTest::newRow("3 programar") << 3 << int(Right::Programar) << false;
        QTest::newRow("3 imprimir") << 3 << int(Right::Imprimir) << true;
        QTest::newRow("3 bajar eventos") << 3 << int(Right::Bajar) << true;
        QTest::newRow("9 como 3") << 9 << int(Right::Programar) << false;
    }

    void profilesAndLevels()
    {
        QFETCH(int, level);
        QFETCH(int, right);
        QFETCH(bool, has);
        QCOMPARE(permissions::has(permissions::levelRights(level), Right(right)), has);
    }

    void profileChecks()
    {
        TestStation st;
        QCOMPARE(permissions::profiles(c()).size(), 3);
        QVERIFY_THROWS_EXCEPTION(db::Error, permissions::saveProfile(c(), {0, "  ", 0}));
        QVERIFY_THROWS_EXCEPTION(db::Error, permissions::saveProfile(c(), {0, "nivel 2", 0}));
        QVERIFY_THROWS_EXCEPTION(db::Error, permissions::saveProfile(c(), {2, "Nivel 2", 0}));
        const int id = permissions::saveProfile(c(), {0, "Consulta", 0});
        QCOMPARE(id, 4);
        const int op = users::add(c(), {0, "LUIS", "llll", 3, id});
        QCOMPARE(permissions::grantOf(c(), op).rights, 0);
        QVERIFY_THROWS_EXCEPTION(db::Error, permissions::removeProfile(c(), id));
        QVERIFY_THROWS_EXCEPTION(db::Error, permissions::removeProfile(c(), 3));
        // The old levels' operators get their level's profile.
        QCOMPARE(permissions::grantOf(c(), 1).rights, permissions::levelRights(1));
    }

    void hidesOnlySecretsWithoutTheRight()
    {
        const permissions::Rights all = permissions::levelRights(1);
        const permissions::Rights none = all & ~permissions::bit(Right::VerCodigos);
        QCOMPARE(permissions::shown(all, true, "1234"), QString("1234"));
        QCOMPARE(permissions::shown(none, false, "1234"), QString("1234"));
        QCOMPARE(permissions::shown(none, true, "1234"), QString("••••"));
    }
};

QTEST_MAIN(tst_permissions)
#include "tst_permissions.moc"
