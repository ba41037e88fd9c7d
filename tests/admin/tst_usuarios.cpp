// Operator accounts: numbering, checks, what each level may change, the
// built-in administrator, duplicate names and failures.

#include "testsupport.h"

#include "admin/w_usuarios.h"
#include "session/mdl_main.h"
#include "app/ui_startup_hooks.h"
#include "ui/ui_unsaved.h"
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

void sql(const QString& text, const QVariantList& values = {})
{
    db::exec(stationDb(), text, values);
}

void addUser(int id, const QString& name, const QString& password, int level)
{
    sql("INSERT INTO usuarios (id_usuario, usuario, password, nivel) VALUES (?, ?, ?, ?)", {id, name, password, level});
}

// "id name password level" of every account, in id order.
QStringList accounts()
{
    QStringList out;
    QSqlQuery q = db::exec(stationDb(), "SELECT * FROM usuarios ORDER BY id_usuario");
    while (q.next())
        out << QString("%1 %2 %3 %4").arg(q.value(0).toInt()).arg(q.value(1).toString(), q.value(2).toString())
                   .arg(q.value(3).toInt());
    return out;
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
        QCOMPARE(accounts().last(), QString("2 JOSÉ ÑANDÚ AB1Ñ 3"));
        QVERIFY(!editing(w));

        sql("DELETE FROM usuarios WHERE id_usuario <> 1");
        addUser(1000, "ANA", "ABCD", 2);
        QCOMPARE(create(w, "  luis  ", "wxyz", 2), 1001);
        QCOMPARE(accounts().last(), QString("1001 LUIS WXYZ 2"));

        sql("DELETE FROM usuarios");
        QCOMPARE(create(w, "eva", "qqqq", 1), 1000);
        QCOMPARE(accounts(), QStringList{"1000 EVA QQQQ 1"});
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
        } steps[] = {{"   ", "abc", "Error 601", w.sle_usuario},
                     {"pepe", "abc", "Error 602", w.sle_password},
                     {"pepe", "abcd", "Error 603", w.cbx_nivel}};
        for (const auto& s : steps) {
            w.sle_usuario->setText(s.name);
            w.sle_password->setText(s.password);
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
        w.cb_aceptar->trigger();
        QCOMPARE(accounts(), (QStringList{"1 ADMINISTRADOR 1234 1", "1000 ANA NUEV 2"}));
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
        w.cb_aceptar->trigger();
        QCOMPARE(accounts().first(), QString("1 ADMINISTRADOR CLAV 1"));

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
        QCOMPARE(accounts().last(), QString("1000 PEÑA ABCD 2"));

        // Changed elsewhere while being edited: not overwritten, and what is
        // stored now is shown.
        w.cb_modificar->trigger();
        sql("UPDATE usuarios SET nivel = 3 WHERE id_usuario = 1000");
        w.sle_password->setText("ZZZZ");
        w.cb_aceptar->trigger();
        QCOMPARE(st.messages.lastTitle(), QString("Error"));
        QCOMPARE(st.messages.lastText(), QString("Otra estación modificó este registro mientras usted lo editaba: no se "
                                                 "guardaron los cambios. Se muestran los datos actuales."));
        QCOMPARE(accounts().last(), QString("1000 PEÑA ABCD 3"));
        QVERIFY(!editing(w));
        QCOMPARE(w.cbx_nivel->currentData().toInt(), 3);

        // Deleted elsewhere while being edited: not a silent success, and
        // what was typed stays on screen.
        w.cb_modificar->trigger();
        sql("DELETE FROM usuarios WHERE id_usuario = 1000");
        w.sle_password->setText("YYYY");
        w.cb_aceptar->trigger();
        QCOMPARE(st.messages.lastTitle(), QString("Error"));
        QVERIFY(st.messages.lastText().startsWith("Otra estación eliminó este registro"));
        QVERIFY(editing(w));
        QCOMPARE(w.sle_password->text(), QString("YYYY"));
    }
};

QTEST_MAIN(tst_usuarios)
#include "tst_usuarios.moc"
