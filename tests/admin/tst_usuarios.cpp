// Operator accounts: numbering, checks, what each level may change, the
// built-in administrator, duplicate names and failures.

#include "testsupport.h"

#include "admin/w_usuarios.h"
#include "session/mdl_main.h"
#include "app/ui_startup_hooks.h"
#include "ui/ui_unsaved.h"
#include "app/w_main.h"
#include "data/db.h"
#include "data/passwords.h"
#include "data/permissions.h"
#include "records/search_context.h"
#include "records/w_buscar.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QtTest>

namespace {

void sql(const QString& text, const QVariantList& values = {})
{
    db::exec(stationDb(), text, values);
}

void addUser(int id, const QString& name, const QString& password, int level)
{
    sql("INSERT INTO usuarios (id_usuario, usuario, password, nivel) VALUES (?, ?, ?, ?)",
        {id, name, passwords::hash(password), level});
}

// "id name level" of every account, in id order.
QStringList accounts()
{
    QStringList out;
    QSqlQuery q = db::exec(stationDb(), "SELECT id_usuario, usuario, nivel FROM usuarios ORDER BY id_usuario");
    while (q.next())
        out << QString("%1 %2 %3").arg(q.value(0).toInt()).arg(q.value(1).toString()).arg(q.value(2).toInt());
    return out;
}

bool passwordIs(int id, const QString& password)
{
    return passwords::verify(db::scalar(stationDb(), "SELECT password FROM usuarios WHERE id_usuario = ?", {id}).toString(),
                             password);
}

void logIn(TestStation& st, int id, int level)
{
    st.main.logIn(id, level);
}

bool editing(const w_usuarios& w)
{
    return w.frm_usuario->isEnabled() && w.cb_aceptar->isEnabled() && !w.cb_alta->isEnabled() &&
           !w.cb_modificar->isEnabled();
}

// "Alta", the fields, "Aceptar"; returns the account shown afterwards.
int create(w_usuarios& w, const QString& name, const QString& password, int level)
{
    w.cb_alta->trigger();
    w.sle_usuario->setText(name);
    w.sle_password->setText(password);
    w.sle_password2->setText(password);
    w.cbx_nivel->setCurrentIndex(w.cbx_nivel->findData(level));
    w.cb_aceptar->trigger();
    return w.m_user;
}

} // namespace

class tst_usuarios : public QObject {
    Q_OBJECT
private slots:

    void opensOnOwnAccountAndShowsThePick()
    {
        TestStation st;
        addUser(1000, "ANA", "ABCD", 2);
        logIn(st, 1, 1);
        w_main m(st.ctx, st.trans);
        registerWindows(m, st);
        m.action("cb_usuarios")->trigger();
        auto* w = qobject_cast<w_usuarios*>(m.child("cb_usuarios"));
        QVERIFY(w);
        QCOMPARE(w->sle_usuario->text(), QString("ADMINISTRADOR"));
        // A password is never shown.
        QVERIFY(w->sle_password->text().isEmpty());
        QVERIFY(!w->frm_usuario->isEnabled() && w->cb_baja->isEnabled() && !w->cb_aceptar->isEnabled());

        w->cb_buscar->trigger();
        auto* list = w->findChild<w_buscar*>();
        QVERIFY(list && list->isVisible());
        QCOMPARE(list->mode(), SearchMode::usuario);
        list->tx_buscar->setText("an");
        QTest::keyClick(list->tx_buscar, Qt::Key_Return);
        list->cb_aceptar->trigger();
        QCOMPARE(w->st_usuario->text(), QString("1000"));
        QCOMPARE(w->cbx_nivel->currentData().toInt(), 2);
    }

    void newAccountsAreUpperCasedAndNumbered()
    {
        TestStation st;
        logIn(st, 1, 1);
        w_usuarios w(st.ctx);
        QCOMPARE(create(w, "josé ñandú", "ab1ñ", 3), 2); // after account 1 alone
        QCOMPARE(accounts().last(), QString("2 JOSÉ ÑANDÚ 3"));
        QVERIFY(passwordIs(2, "AB1Ñ"));
        QVERIFY(!editing(w));

        sql("DELETE FROM usuarios WHERE id_usuario <> 1");
        addUser(1000, "ANA", "ABCD", 2);
        QCOMPARE(create(w, "  luis  ", "wxyz", 2), 1001);
        QCOMPARE(accounts().last(), QString("1001 LUIS 2"));

        sql("DELETE FROM usuarios");
        QCOMPARE(create(w, "eva", "qqqq", 1), 1000);
        QCOMPARE(accounts(), QStringList{"1000 EVA 1"});
        QVERIFY(st.messages.shown.isEmpty());
    }

    void checksReportTheFirstFaultAndKeepEditing()
    {
        TestStation st;
        logIn(st, 1, 1);
        w_usuarios w(st.ctx);
        // A new account does not inherit the level of the account shown before.
        w.cb_alta->trigger();
        QCOMPARE(w.cbx_nivel->currentIndex(), -1);
        const struct {
            const char* name;
            const char* password;
            const char* title;
            QWidget* focus;
            const char* repeated;
        } steps[] = {{"   ", "abc", "Error 601", w.sle_usuario, "abc"},
                     {"pepe", "abc", "Error 602", w.sle_password, "abc"},
                     {"pepe", "abcd", "Error 602", w.sle_password2, "abce"},
                     {"pepe", "abcd", "Error 603", w.cbx_nivel, "ABCD"}};
        for (const auto& s : steps) {
            w.sle_usuario->setText(s.name);
            w.sle_password->setText(s.password);
            w.sle_password2->setText(s.repeated);
            w.cb_aceptar->trigger();
            QCOMPARE(st.messages.lastTitle(), QString(s.title));
            QCOMPARE(w.focusWidget(), s.focus);
            QVERIFY(editing(w));
        }
        // A password of the wrong length says what is wanted.
        QCOMPARE(st.messages.shown.at(1).text,
                 QString("El campo Contraseña es obligatorio\nContraseña: debe tener 4 caracteres"));
        QCOMPARE(accounts().size(), 1);
        // Closing with the typing asks first (answered No); "Cancelar" does not.
        QVERIFY(!w.close());
        QCOMPARE(st.messages.asked, QStringList{ui::DiscardQuestion});
        w.cb_cancelar->trigger(); // back to the account shown before "Alta"
        QCOMPARE(w.sle_usuario->text(), QString("ADMINISTRADOR"));
        QVERIFY(w.close() && st.messages.asked.size() == 1);
    }

    void otherLevelsChangeOnlyTheirOwnPassword()
    {
        TestStation st;
        addUser(1000, "ANA", "ABCD", 2);
        logIn(st, 1000, 2);
        w_usuarios w(st.ctx);
        QCOMPARE(w.sle_usuario->text(), QString("ANA"));
        QVERIFY(!w.cb_buscar->isEnabled() && !w.cb_alta->isEnabled() && !w.cb_baja->isEnabled());
        w.cb_modificar->trigger();
        QVERIFY(!w.sle_usuario->isEnabled() && !w.cbx_nivel->isEnabled() && w.sle_password->isEnabled());
        QCOMPARE(w.focusWidget(), w.sle_password);
        // Whatever the locked boxes hold, only the password is stored.
        w.sle_usuario->setText("OTRO");
        w.cbx_nivel->setCurrentIndex(0);
        w.sle_password->setText("nuev");
        w.sle_password2->setText("NUEV");
        w.cb_aceptar->trigger();
        QCOMPARE(accounts(), (QStringList{"1 ADMINISTRADOR 1", "1000 ANA 2"}));
        QVERIFY(passwordIs(1000, "nuev") && passwordIs(1, "1234"));
    }

    void builtInAdministratorIsProtected()
    {
        TestStation st;
        addUser(1000, "ANA", "ABCD", 2);
        logIn(st, 1, 1);
        w_usuarios w(st.ctx);
        w.cb_modificar->trigger();
        QVERIFY(!w.sle_usuario->isEnabled() && !w.cbx_nivel->isEnabled());
        w.sle_password->setText("clav");
        w.sle_password2->setText("clav");
        w.cb_aceptar->trigger();
        QCOMPARE(accounts().first(), QString("1 ADMINISTRADOR 1"));
        QVERIFY(passwordIs(1, "CLAV"));

        st.messages.answers.enqueue(true);
        w.cb_baja->trigger();
        QCOMPARE(st.messages.asked.last(), QString("¿Está seguro de borrar este item?"));
        QCOMPARE(st.messages.lastText(), QString("No se puede borrar este usuario"));
        QCOMPARE(accounts().size(), 2);

        // Any other account: name and level open; "No" keeps it, "Sí" deletes it.
        w.showData(1000);
        w.cb_modificar->trigger();
        QVERIFY(w.sle_usuario->isEnabled() && w.cbx_nivel->isEnabled());
        w.cb_cancelar->trigger();
        w.cb_baja->trigger();
        QCOMPARE(accounts().size(), 2);
        st.messages.answers.enqueue(true);
        w.cb_baja->trigger();
        QCOMPARE(accounts().size(), 1);
        QVERIFY(w.m_user == 0 && w.sle_usuario->text().isEmpty());
        QVERIFY(!w.cb_baja->isEnabled() && !w.cb_modificar->isEnabled() && w.cb_alta->isEnabled());

        addUser(1000, "ANA", "ABCD", 2);
        w.showData(1000);
        addTrigger(stationDb(), "no_borrar", "BEFORE DELETE", "usuarios");
        st.messages.answers.enqueue(true);
        w.cb_baja->trigger();
        QVERIFY(st.messages.lastText().startsWith("No se pudo eliminar el item\n"));
        QCOMPARE(w.m_user, 1000);
    }

    void namesAreUniqueWhateverTheirCase()
    {
        TestStation st;
        addUser(1000, "peña", "ABCD", 2); // stored by hand, not in capitals
        logIn(st, 1, 1);
        w_usuarios w(st.ctx);
        create(w, "PEÑA", "wxyz", 3);
        QCOMPARE(st.messages.lastText(), QString("Ya existe otro usuario con el nombre PEÑA"));
        QCOMPARE(w.focusWidget(), w.sle_usuario);
        QVERIFY(editing(w));
        QCOMPARE(accounts().size(), 2);

        // Saving an account under its own name is no clash (and stores it in capitals).
        w.showData(1000);
        w.cb_modificar->trigger();
        w.cb_aceptar->trigger();
        QCOMPARE(accounts().last(), QString("1000 PEÑA 2"));
        QVERIFY(passwordIs(1000, "ABCD")); // an empty box keeps the password

        // Changed elsewhere while being edited: not overwritten, and what is
        // stored now is shown.
        w.cb_modificar->trigger();
        sql("UPDATE usuarios SET nivel = 3 WHERE id_usuario = 1000");
        w.sle_password->setText("ZZZZ");
        w.sle_password2->setText("ZZZZ");
        w.cb_aceptar->trigger();
        QCOMPARE(st.messages.lastTitle(), QString("Error"));
        QCOMPARE(st.messages.lastText(), QString("Otra estación modificó este registro mientras usted lo editaba: no se "
                                                 "guardaron los cambios. Se muestran los datos actuales."));
        QCOMPARE(accounts().last(), QString("1000 PEÑA 3"));
        QVERIFY(!editing(w));
        QCOMPARE(w.cbx_nivel->currentData().toInt(), 3);

        // Deleted elsewhere while being edited: not a silent success, and
        // what was typed stays on screen.
        w.cb_modificar->trigger();
        sql("DELETE FROM usuarios WHERE id_usuario = 1000");
        w.sle_password->setText("YYYY");
        w.sle_password2->setText("YYYY");
        w.cb_aceptar->trigger();
        QCOMPARE(st.messages.lastTitle(), QString("Error"));
        QVERIFY(st.messages.lastText().startsWith("Otra estación eliminó este registro"));
        QVERIFY(editing(w));
        QCOMPARE(w.sle_password->text(), QString("YYYY"));
    }

    void profileAndGroupsAreStored()
    {
        TestStation st;
        logIn(st, 1, 1);
        const int norte = permissions::saveGroup(stationDb(), {0, "NORTE", "Zona norte"});
        const int tecnico = permissions::saveProfile(stationDb(), {0, "Técnico", permissions::levelRights(2)});
        w_usuarios w(st.ctx);
        QCOMPARE(w.cbx_nivel->itemText(3), QString("Técnico"));
        w.cb_alta->trigger();
        QCOMPARE(w.lst_grupos->count(), 1);
        w.lst_grupos->item(0)->setCheckState(Qt::Checked);
        const int id = create(w, "tito", "tttt", tecnico);
        QCOMPARE(db::scalar(stationDb(), "SELECT id_perfil FROM usuarios WHERE id_usuario = ?", {id}).toInt(), tecnico);
        QCOMPARE(permissions::operatorGroups(stationDb(), id), QList<int>{norte});
        // As a level it has: the level of what it may do.
        QCOMPARE(accounts().last(), QString("%1 TITO 2").arg(id));
        QCOMPARE(w.lst_grupos->item(0)->checkState(), Qt::Checked);
    }
};

QTEST_MAIN(tst_usuarios)
#include "tst_usuarios.moc"
