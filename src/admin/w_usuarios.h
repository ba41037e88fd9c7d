#pragma once
// Operator accounts. The administrator level manages every account; any other
// level sees only its own and may change only its password. Account 1 is the
// built-in administrator: its name and level are fixed and it is never deleted.

#include "data/users_store.h"
#include "records/ui_record_form.h"

#include <optional>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;

class w_usuarios : public RecordForm {
    Q_OBJECT
public:
    explicit w_usuarios(StationContext& ctx, QWidget* parent = nullptr);

    void fillCombos();
    void showData(int id) override;
    void enableControls(const QString& modo) override;
    bool save() override;
    void deleteRecord() override;

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
    QLabel* Label2;
    QComboBox* cbx_nivel;

protected:
    void closeEvent(QCloseEvent* e) override;
    QStringList formState() const override;
    int& shownRecord() override { return m_user; }
    void editingStarted() override;

private:
    // Name and level may be changed: by the administrator level, on any
    // account but the built-in one.
    bool nameAndLevelOpen() const;
};
