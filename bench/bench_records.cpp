// The subscriber pick list and record with a large subscriber table: opening
// the list, narrowing it, and saving a new subscriber seeded from a big template.

#include "bench.h"

#include "app/station.h"

#include "session/mdl_main.h"
#include "data/db.h"
#include "data/permissions.h"
#include "data/users_store.h"
#include "records/search_context.h"
#include "records/search_model.h"
#include "records/w_abonados.h"
#include "records/w_buscar.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTableView>

namespace {

// 20,000 subscribers with varied surnames (some accented), and template 2
// with 2,000 values for model 1.
void prepare()
{
    static std::optional<bench::Engine> ready;
    if (!bench::firstOn(ready))
        return;
    bench::freshStation();
    bench::station().main.logIn(bench::station().main.currentUser(), 1);
    QSqlDatabase c = bench::station().main.db();
    db::Transaction t(c);
    db::exec(c, "CREATE TEMP TABLE apellidos (n INTEGER PRIMARY KEY, a TEXT)");
    const char* names[] = {"GARCÍA", "FERNÁNDEZ", "GONZÁLEZ", "RODRÍGUEZ", "LÓPEZ", "MARTÍNEZ", "PÉREZ",
                           "GÓMEZ",  "SÁNCHEZ",   "DÍAZ",     "ÁLVAREZ",   "MUÑOZ", "ROMERO",    "SOSA",
                           "TORRES", "RUIZ",      "BENÍTEZ",  "ACOSTA",    "MEDINA", "HERRERA"};
    for (int i = 0; i < 20; ++i)
        db::exec(c, "INSERT INTO apellidos VALUES (?, ?)", {i, names[i]});
    // Five-digit codes in each engine's own words.
    const QString code = db::engine(c) == db::Engine::SQLite ? "printf('%05d', i)" : "lpad(CAST(i AS TEXT), 5, '0')";
    db::exec(c, "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < 20000) "
                "INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, nombre, calle, numero, "
                "localidad, id_provincia, tel_1) SELECT i, " + code + ", 1, 1, "
                "(SELECT a FROM apellidos WHERE n = i % 20) || ' ' || i, 'NOMBRE ' || (i % 97), "
                "'CALLE ' || (i % 500), CAST(i % 3000 AS TEXT), 'LOCALIDAD', 1 + i % 24, '555' || i FROM k");
    db::exec(c, "INSERT INTO configuraciones VALUES (2, 'PLANTILLA GRANDE')");
    db::exec(c, "WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < 1999) "
                "INSERT INTO configuraciones_valores (id_configuracion, id_panel, id_seccion, id_item, valor, id_estado) "
                "SELECT 2, 1, i / 50, 1 + i % 50, '00', 1 FROM k");
    t.commit();
}

double msSince(const QElapsedTimer& t)
{
    return t.nsecsElapsed() / 1e6;
}

bench::Register openList("pick list: open with 20,000 subscribers", "100 ms", 5, [] {
    prepare();
    QElapsedTimer t;
    t.start();
    w_buscar* w = w_buscar::abrir(bench::station().ctx, SearchMode::abonado);
    QCoreApplication::processEvents(); // first paint
    const double ms = msSince(t);
    delete w;
    return ms;
}, bench::On::both);

// The same list for an operator limited to 2 of 10 groups (4,000 of the
// 20,000 subscribers): the group condition is part of the list's query.
bench::Register openGroupList("pick list: open, operator limited to 2 of 10 groups", "300 ms", 5, [] {
    prepare();
    mdl_main& m = bench::station().main;
    static std::optional<bench::Engine> grouped;
    if (bench::firstOn(grouped)) {
        QSqlDatabase c = m.db();
        db::Transaction t(c);
        for (int g = 1; g <= 10; ++g)
            permissions::saveGroup(c, {0, QStringLiteral("G%1").arg(g), QStringLiteral("Grupo %1").arg(g)});
        db::exec(c, "UPDATE abonados SET id_grupo = 1 + id_abonado % 10");
        db::exec(c, "INSERT INTO usuarios (id_usuario, usuario, password, nivel) VALUES (5000, 'BENCH', 'x', 2)");
        permissions::setOperatorGroups(c, 5000, {3, 7});
        t.commit();
    }
    const int user = m.currentUser(), level = m.currentLevel();
    m.logIn(5000, 2);
    QElapsedTimer t;
    t.start();
    w_buscar* w = w_buscar::abrir(bench::station().ctx, SearchMode::abonado);
    QCoreApplication::processEvents(); // first paint
    const double ms = msSince(t);
    const int rows = w->dgr_buscar->model()->rowCount();
    delete w;
    m.logIn(user, level);
    if (rows != 4000)
        qFatal("the group filter listed %d subscribers", rows);
    return ms;
}, bench::On::both);

// A login checks an Argon2id hash at libsodium's interactive costs.
bench::Register login("login: check an Argon2id password", "500 ms", 5, [] {
    prepare();
    static std::optional<bench::Engine> made;
    static int account = 0;
    mdl_main& m = bench::station().main;
    if (bench::firstOn(made)) {
        QSqlDatabase c = m.db();
        db::Transaction t(c);
        account = users::add(c, {0, QStringLiteral("CLAVE%1").arg(int(bench::engine())), "ab12", 2, 0});
        t.commit();
    }
    QElapsedTimer t;
    t.start();
    const users::Login l = users::login(m.db(), QStringLiteral("clave%1").arg(int(bench::engine())), "AB12", m.now(), "BENCH");
    const double ms = msSince(t);
    if (!l.account || l.account->id_usuario != account)
        qFatal("the login failed");
    return ms;
}, bench::On::both);

bench::Register filterList("pick list: filter 20,000 subscribers", "50 ms", 9, [] {
    prepare();
    static w_buscar* w = nullptr;
    static std::optional<bench::Engine> made; // the one of the other engine's station is left alone
    if (bench::firstOn(made))
        w = w_buscar::abrir(bench::station().ctx, SearchMode::abonado);
    w->tx_buscar->setText(QString());
    emit w->tx_buscar->returnPressed();
    QCoreApplication::processEvents();
    w->tx_buscar->setText("muñoz 1");
    QElapsedTimer t;
    t.start();
    emit w->tx_buscar->returnPressed();
    QCoreApplication::processEvents();
    const double ms = msSince(t);
    if (w->dgr_buscar->model()->rowCount() == 0)
        qFatal("the filter found nothing");
    return ms;
}, bench::On::both);

bench::Register saveNew("subscriber record: save a new one, template of 2,000 values", "50 ms", 9, [] {
    prepare();
    static w_abonados* w = nullptr;
    static std::optional<bench::Engine> made;
    if (bench::firstOn(made))
        w = new w_abonados(bench::station().ctx);
    w->cb_alta->trigger();
    const int fields[] = {0, 1, 2, 3, 4, 7, 10};
    for (int i : fields)
        w->setCampo(i, "bench");
    // A code of its own: a repeated one would stop the save with a question.
    static int saved = 0;
    w->setCampo(1, QStringLiteral("bench-%1").arg(++saved));
    w->cbx_campo[4]->setCurrentIndex(w->cbx_campo[4]->findData(1));
    w->cbx_campo[5]->setCurrentIndex(w->cbx_campo[5]->findData(2));
    w->cbx_campo[0]->setCurrentIndex(0);
    QElapsedTimer t;
    t.start();
    w->cb_aceptar->trigger();
    const double ms = msSince(t);
    if (db::scalar(bench::station().main.db(), "SELECT count(*) FROM abonados_valores WHERE id_abonado = ?",
                   {w->m_subscriber})
            .toInt() != 2000)
        qFatal("the new subscriber was not seeded");
    return ms;
}, bench::On::both);

} // namespace

