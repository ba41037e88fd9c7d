#pragma once
// The subscriber record: find, create, edit and delete subscribers. A new
// subscriber's programming values are seeded from its template in the same
// transaction that inserts it; the model and template are fixed afterwards.

#include "records/ui_record_form.h"

#include <QSqlRecord>
#include <array>
#include <optional>

namespace subscribers {
struct CodeHolder;
}

class QComboBox;
class QFrame;
class QLabel;
class QTabWidget;

class w_abonados : public RecordForm {
    Q_OBJECT
public:
    explicit w_abonados(StationContext& ctx, QWidget* parent = nullptr);

    void fillCombos();
    void showData(int id) override;
    void enableControls(const QString& modo) override;
    bool save() override;
    void deleteRecord() override;
    void dispatch(const QString& key) override;

    // Text of sle_campo(i), whichever kind of box it is.
    QString campo(int i) const;
    void setCampo(int i, const QString& text);

    int m_subscriber = 0; // subscriber on display; 0 when none

    QAction* cb_imprimir;
    QAction* cb_historial;
    QTabWidget* SSTab_abm;
    QFrame* frm_1;
    QFrame* frm_2;
    QFrame* frm_3;
    // 0-7 and 9-17 are line boxes; 8 (remarks) is a multi-line box.
    std::array<QWidget*, 18> sle_campo{};
    std::array<QComboBox*, 7> cbx_campo{}; // 6: the group of subscribers
    QList<QLabel*> st_etiqueta;

    // The window has one size; its frame in the main window is made to it.
    QSize sizeHint() const override { return minimumSize(); }

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    QStringList formState() const override;
    void showEvent(QShowEvent* e) override;
    int& shownRecord() override { return m_subscriber; }
    void editingStarted() override;

private:
    std::optional<QSqlRecord> m_asRead; // the record on display as it was read
    // The combos read again (rows added in other windows meanwhile), each
    // keeping its selection.
    void refreshCombos();
    // True to go on saving `codigo`: no other subscriber has it, or the user
    // saves it all the same.
    // `accepted` gets the subscriber the operator let share the code (0: none).
    bool codeMaySave(const QString& codigo, int* accepted);
    QString codeTakenQuestion(const subscribers::CodeHolder& other) const;
    // The boxes of the 18 texts and the 6 pick lists.
    void buildFields();
    void buildTabs();
    QLabel* etiqueta(const QString& text, QWidget* parent, QWidget* buddy);
};
