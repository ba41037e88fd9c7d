#pragma once
// Operator accounts. Who may administer users manages every account (its
// profile and the groups of subscribers it works on); anybody else sees only
// its own and may change only its password. Account 1 is the built-in
// administrator: its name and profile are fixed and it is never deleted.
// Passwords are never shown: a new one is typed twice.

#include "data/users_store.h"
#include "records/ui_record_form.h"

#include <optional>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;

class w_usuarios : public RecordForm {
    Q_OBJECT
public:
    explicit w_usuarios(StationContext& ctx, QWidget* parent = nullptr);

    void fillCombos();
    void showData(int id) override;
    void enableControls(const QString& modo) override;
    bool save() override;
    void deleteRecord() override;
    void dispatch(const QString& key) override;

    int m_user = 0; // account on display; 0 when none
    // The account as read for display: a save checks nobody changed it since.
    std::optional<users::Account> m_asRead;

    QFrame* frm_usuario;
    QLabel* st_usuario_t;
    QLabel* st_usuario;
    QLabel* Label1;
    QLineEdit* sle_usuario;
    QLabel* st_password_t;
    QLineEdit* sle_password;
    QLabel* st_password2_t;
    QLineEdit* sle_password2;
    QLabel* Label2;
    QComboBox* cbx_nivel; // the profile; the built-in ones are the levels
    QLabel* st_grupos_t;
    QListWidget* lst_grupos; // none checked: every group
    QAction* cb_perfiles;
    QAction* cb_grupos;

protected:
    void closeEvent(QCloseEvent* e) override;
    QStringList formState() const override;
    int& shownRecord() override { return m_user; }
    void editingStarted() override;

private:
    // Name and level may be changed: by the administrator level, on any
    // account but the built-in one.
    bool nameAndLevelOpen() const;
    void fillGroups(const QList<int>& checked);
    QList<int> checkedGroups() const;
};
