// Operator accounts: numbering, checks, what each level may change, the
// built-in administrator, duplicate names and failures.

#include "testsupport.h"

#include "admin/w_usuarios.h"
#include "app/mdl_main.h"
#include "app/ui_startup_hooks.h"
#include "app/w_login.h"
#include "app/w_main.h"
#include "data/db.h"
#include "records/search_context.h"
#include "records/w_buscar.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

namespace {

QSqlDatabase conn()
{
    return mdl_main::instance().db();
}

void addUser(int id, const QString& name, const QString& password, int level)
{
    db::exec(conn(), "INSERT INTO usuarios (id_usuario, usuario, password, nivel) VALUES (?, ?, ?, ?)",
             {id, name, password, level});
}

// "id name password level" of every account, in id order.
QStringList accounts()
{
    QStringList out;
    QSqlQuery q = db::exec(conn(), "SELECT id_usuario, usuario, password, nivel FROM usuarios ORDER BY id_usuario");
    while (q.next())
        out << QString("%1 %2 %3 %4").arg(q.value(0).toInt()).arg(q.value(1).toString(), q.value(2).toString())
                   .arg(q.value(3).toInt());
    return out;
}

void logIn(int id, int level)
{
    mdl_main::instance().currentUser = id;
    mdl_main::instance().currentLevel = level;
}

bool editing(const w_usuarios& w)
{
    return w.frm_usuario->isEnabled() && w.cb_aceptar->isEnabled() && w.cb_cancelar->isEnabled() &&
           !w.cb_buscar->isEnabled() && !w.cb_alta->isEnabled() && !w.cb_baja->isEnabled() &&
           !w.cb_modificar->isEnabled();
}

// Enters a new account through "Alta" and "Aceptar"; returns the id shown.
int create(w_usuarios& w, const QString& name, const QString& password, int level)
{
    w.cb_alta->trigger();
    w.sle_usuario->setText(name);
    w.sle_password->setText(password);
    w.cbx_nivel->setCurrentIndex(w.cbx_nivel->findData(level));
    w.cb_aceptar->trigger();
    return w.il_usuario;
}

} // namespace

class tst_usuarios : public QObject {
    Q_OBJECT
private slots:
    void init() { SearchContext::instance().reset(); }

    void opensOnTheOperatorsOwnAccount()
    {
        Station st;
        addUser(1000, "ANA", "ABCD", 2);
        logIn(1, 1);
        w_main m;
        registerWindows(m);
        m.action("cb_usuarios")->trigger();
        auto* w = qobject_cast<w_usuarios*>(m.child("cb_usuarios"));
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QString("Usuarios"));
        QCOMPARE(w->st_usuario->text(), QString("1"));
        QCOMPARE(w->sle_usuario->text(), QString("ADMINISTRADOR"));
        QCOMPARE(w->sle_password->echoMode(), QLineEdit::Password);
        QCOMPARE(w->cbx_nivel->count(), 3);
        QCOMPARE(w->cbx_nivel->itemText(2), QString("3"));
        QCOMPARE(w->cbx_nivel->currentData().toInt(), 1);
        // Viewing: fields locked, every lookup and change button open.
        QVERIFY(!w->frm_usuario->isEnabled());
        QVERIFY(w->cb_buscar->isEnabled() && w->cb_alta->isEnabled() && w->cb_baja->isEnabled() &&
                w->cb_modificar->isEnabled());
        QVERIFY(!w->cb_aceptar->isEnabled() && !w->cb_cancelar->isEnabled());

        // The pick list of accounts shows the pick here.
        w->cb_buscar->trigger();
        w_buscar* list = nullptr;
        for (QWidget* t : QApplication::topLevelWidgets())
            if (auto* b = qobject_cast<w_buscar*>(t); b && b->isVisible())
                list = b;
        QVERIFY(list);
        QCOMPARE(list->mode(), SearchMode::usuario);
        list->tx_buscar->setText("an");
        QTest::keyClick(list->tx_buscar, Qt::Key_Return);
        list->cb_aceptar->trigger();
        QCOMPARE(w->il_usuario, 1000);
        QCOMPARE(w->sle_usuario->text(), QString("ANA"));
        QCOMPARE(w->cbx_nivel->currentData().toInt(), 2);
    }

    void newAccountsAreUpperCasedAndNumbered()
    {
        Station st;
        logIn(1, 1);
        w_usuarios w;
        // Only account 1: the next number follows it.
        QCOMPARE(create(w, "josé ñandú", "ab1ñ", 3), 2);
        QCOMPARE(accounts().last(), QString("2 JOSÉ ÑANDÚ AB1Ñ 3"));
        QVERIFY(!editing(w));
        QCOMPARE(w.st_usuario->text(), QString("2"));

        db::exec(conn(), "DELETE FROM usuarios WHERE id_usuario <> 1");
        addUser(1000, "ANA", "ABCD", 2);
        QCOMPARE(create(w, "  luis  ", "wxyz", 2), 1001);
        QCOMPARE(accounts().last(), QString("1001 LUIS WXYZ 2"));

        db::exec(conn(), "DELETE FROM usuarios");
        QCOMPARE(create(w, "eva", "qqqq", 1), 1000);
        QCOMPARE(accounts(), QStringList{"1000 EVA QQQQ 1"});
        QVERIFY(st.messages.shown.isEmpty());
    }

    void checksReportTheFirstFaultAndKeepEditing()
    {
        Station st;
        logIn(1, 1);
        w_usuarios w;
        const QStringList before = accounts();

        // A new account does not inherit the level of the account shown before.
        w.cb_alta->trigger();
        QVERIFY(editing(w));
        QCOMPARE(w.cbx_nivel->currentIndex(), -1);
        w.sle_usuario->setText("   ");
        w.sle_password->setText("abc");
        w.cb_aceptar->trigger();
        QCOMPARE(st.messages.lastTitle(), QString("Error 601"));
        QCOMPARE(st.messages.lastText(), QString("El campo Usuario es obligatorio"));
        QCOMPARE(w.focusWidget(), w.sle_usuario);

        w.sle_usuario->setText("pepe");
        w.cb_aceptar->trigger();
        QCOMPARE(st.messages.lastTitle(), QString("Error 602"));
        QCOMPARE(w.focusWidget(), w.sle_password);

        w.sle_password->setText("abcd");
        w.cb_aceptar->trigger();
        QCOMPARE(st.messages.lastTitle(), QString("Error 603"));
        QCOMPARE(st.messages.lastText(), QString("El campo Nivel es obligatorio"));
        QCOMPARE(w.focusWidget(), w.cbx_nivel);
        QVERIFY(editing(w));
        QCOMPARE(accounts(), before);

        // Cancelar goes back to the account shown before "Alta".
        w.cb_cancelar->trigger();
        QVERIFY(!editing(w));
        QCOMPARE(w.sle_usuario->text(), QString("ADMINISTRADOR"));

        // A five-character password left by an older station is shown whole
        // and must be replaced before the account is stored again.
        addUser(1000, "ANA", "ABCDE", 2);
        w.wf_muestradatos(1000);
        QCOMPARE(w.sle_password->text(), QString("ABCDE"));
        w.cb_modificar->trigger();
        w.cb_aceptar->trigger();
        QCOMPARE(st.messages.lastTitle(), QString("Error 602"));
        QVERIFY(editing(w));
        QCOMPARE(accounts().last(), QString("1000 ANA ABCDE 2"));
    }

    void otherLevelsChangeOnlyTheirOwnPassword()
    {
        Station st;
        addUser(1000, "ANA", "ABCD", 2);
        addUser(1001, "LUIS", "WXYZ", 3);
        logIn(1000, 2);
        w_usuarios w;
        QCOMPARE(w.sle_usuario->text(), QString("ANA"));
        QVERIFY(!w.cb_buscar->isEnabled() && !w.cb_alta->isEnabled() && !w.cb_baja->isEnabled());
        QVERIFY(w.cb_modificar->isEnabled());

        w.cb_modificar->trigger();
        QVERIFY(w.frm_usuario->isEnabled());
        QVERIFY(!w.sle_usuario->isEnabled() && !w.cbx_nivel->isEnabled());
        QVERIFY(w.sle_password->isEnabled());
        QCOMPARE(w.focusWidget(), w.sle_password);
        // Whatever the locked boxes hold, only the password is stored.
        w.sle_usuario->setText("LUIS");
        w.cbx_nivel->setCurrentIndex(0);
        w.sle_password->setText("nuev");
        w.cb_aceptar->trigger();
        QVERIFY(st.messages.shown.isEmpty());
        QCOMPARE(accounts(), (QStringList{"1 ADMINISTRADOR 1234 1", "1000 ANA NUEV 2", "1001 LUIS WXYZ 3"}));
        QCOMPARE(w.sle_usuario->text(), QString("ANA"));
        QVERIFY(!w.cb_baja->isEnabled());
    }

    void builtInAdministratorIsProtected()
    {
        Station st;
        addUser(1000, "ANA", "ABCD", 2);
        logIn(1, 1);
        w_usuarios w;
        w.cb_modificar->trigger();
        QVERIFY(!w.sle_usuario->isEnabled() && !w.cbx_nivel->isEnabled());
        QCOMPARE(w.focusWidget(), w.sle_password);
        w.sle_password->setText("clav");
        w.cb_aceptar->trigger();
        QCOMPARE(accounts().first(), QString("1 ADMINISTRADOR CLAV 1"));

        st.messages.answers.enqueue(true);
        w.cb_baja->trigger();
        QCOMPARE(st.messages.asked.last(), QString("¿Está seguro de borrar este item?"));
        QCOMPARE(st.messages.lastTitle(), QString("Error"));
        QCOMPARE(st.messages.lastText(), QString("No se puede borrar este usuario"));
        QCOMPARE(accounts().size(), 2);

        // Any other account: name and level open; "No" keeps it, "Sí" deletes it.
        w.wf_muestradatos(1000);
        w.cb_modificar->trigger();
        QVERIFY(w.sle_usuario->isEnabled() && w.cbx_nivel->isEnabled());
        w.cb_cancelar->trigger();
        st.messages.answers.enqueue(false);
        w.cb_baja->trigger();
        QCOMPARE(accounts().size(), 2);
        st.messages.answers.enqueue(true);
        w.cb_baja->trigger();
        QCOMPARE(accounts(), QStringList{"1 ADMINISTRADOR CLAV 1"});
        QCOMPARE(w.il_usuario, 0);
        QVERIFY(w.sle_usuario->text().isEmpty() && w.st_usuario->text().isEmpty());
        QVERIFY(!w.cb_baja->isEnabled() && !w.cb_modificar->isEnabled() && w.cb_alta->isEnabled());
    }

    void namesAreUniqueWhateverTheirCase()
    {
        Station st;
        addUser(1000, "peña", "ABCD", 2); // stored by hand, not in capitals
        logIn(1, 1);
        w_usuarios w;
        const QStringList before = accounts();
        create(w, "PEÑA", "wxyz", 3);
        QCOMPARE(st.messages.lastText(), QString("Ya existe otro usuario con el nombre PEÑA"));
        QCOMPARE(w.focusWidget(), w.sle_usuario);
        QVERIFY(editing(w));
        QCOMPARE(accounts(), before);
        w.cb_cancelar->trigger();

        // Renaming an account to its own name is no clash; to another's is.
        w.wf_muestradatos(1000);
        w.cb_modificar->trigger();
        w.sle_usuario->setText("Peña");
        w.cb_aceptar->trigger();
        QCOMPARE(accounts().last(), QString("1000 PEÑA ABCD 2"));
        w.cb_modificar->trigger();
        w.sle_usuario->setText("administrador");
        w.cb_aceptar->trigger();
        QCOMPARE(st.messages.lastText(), QString("Ya existe otro usuario con el nombre ADMINISTRADOR"));
        QCOMPARE(accounts().last(), QString("1000 PEÑA ABCD 2"));

        // So the login finds one account per name, in any case.
        w_login login;
        QVERIFY(login.wf_login("peña", "abcd"));
        QCOMPARE(mdl_main::instance().currentUser, 1000);
    }

    void databaseFailuresAreReported()
    {
        Station st;
        addUser(1000, "ANA", "ABCD", 2);
        logIn(1, 1);
        w_usuarios w;
        w.wf_muestradatos(1000);
        w.cb_modificar->trigger();
        w.sle_password->setText("zzzz");
        // Deleted elsewhere while being edited: not a silent success.
        db::exec(conn(), "DELETE FROM usuarios WHERE id_usuario = 1000");
        w.cb_aceptar->trigger();
        QCOMPARE(st.messages.lastTitle(), QString("Error 699"));
        QCOMPARE(st.messages.lastText(), QString("Se produjo un error inesperado"));
        QVERIFY(editing(w));
        QCOMPARE(accounts().size(), 1);

        addUser(1000, "ANA", "ABCD", 2);
        w.cb_cancelar->trigger();
        db::exec(conn(), "CREATE TRIGGER no_borrar BEFORE DELETE ON usuarios BEGIN SELECT RAISE(ABORT, 'no'); END");
        st.messages.answers.enqueue(true);
        w.cb_baja->trigger();
        QCOMPARE(st.messages.lastText(), QString("No se pudo eliminar el item"));
        QCOMPARE(w.il_usuario, 1000);
        QCOMPARE(accounts().size(), 2);
    }
};

QTEST_MAIN(tst_usuarios)
#include "tst_usuarios.moc"
