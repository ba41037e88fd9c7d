#pragma once
// The section value editor: one section of a panel model as a form with one
// row per item, saved to a subscriber's values or to a template's values,
// as the editor context says (see editor_context.h). It also marks the
// section for transfer and restores a subscriber's section from its template.

#include "ui/ui_unsaved.h"
#include "data/value_store.h"
#include "records/editor_context.h"
#include "records/section_format.h"
#include "session/station_context.h"

#include <QDialog>
#include <QList>
#include <QStringList>

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QScrollArea;
class QToolBar;

class w_seccion : public QDialog, public UnsavedChanges {
    Q_OBJECT
    StationContext& m_ctx;

public:
    // Opens the editor for the current editor context, modal to the whole
    // station, without blocking the caller; it deletes itself when it closes.
    // The caller reads the context's mark once `finished` is emitted.
    static w_seccion* abrir(StationContext& ctx, QWidget* parent = nullptr);

    // The editor for the current editor context.
    explicit w_seccion(StationContext& ctx, QWidget* parent = nullptr);

    static constexpr int MaxRows = 100;

    void buildScreen();
    void fillLists();
    void showData(int abonado, int seccion, int item, int fila);
    bool save(int marca);
    void restoreTemplateValues();
    void markForDownload();

    // Toolbar dispatch on the button's key.
    void dispatch(const QString& key);

    QToolBar* tb_seccion;
    QAction* cb_restaurar;
    QAction* cb_subir;
    QAction* cb_bajar;
    QAction* cb_aceptar;
    QAction* cb_cancelar;
    QFrame* frm_seccion;
    QLabel* st_defecto_t; // the column heading "Defecto"
    // Control arrays by row k = 1..n; index 0 is unused. A row has either a
    // text box or a combo (or neither, for a tipo without input).
    QList<QLabel*> st_titulo;
    QList<QLineEdit*> sle_valor;
    QList<QComboBox*> cbx_valor;
    QList<QLabel*> st_defecto;

    EditorMode mode() const { return m_mode; }
    const SectionFormat& format() const { return m_format; }
    int rows() const { return m_rows; }
    bool changed() const { return m_changed; }
    bool hasUnsavedChanges() const override { return m_changed && result() != QDialog::Accepted; }

    // Closing without saving (Escape, the window's close button) asks first
    // when values were changed; "Cancelar" closes at once.
    void reject() override;

protected:
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    // Whose values the editor works on: the subscriber `abonado`'s or the
    // template's, as the editor's mode says.
    values::Owner valuesOwner(int abonado) const;
    QAction* boton(const QString& key, const QString& caption, const QString& tip);
    void placeRows(const QStringList& titles, const QStringList& defaults);
    void onEdited();
    // "Verifique los datos", with the row at fault and why when there is one,
    // clear of that row.
    void fail(int row = 0, const QString& problem = QString());

    EditorMode m_mode = EditorMode::configuracion;
    int m_subscriber = 0;
    int m_panel = 0;
    int m_section = 0;
    int m_template = 0;
    SectionFormat m_format;
    int m_rows = 0;
    QList<int> m_items;     // id_item of row k, index 0 unused
    QStringList m_valores;  // id_valor text of each list position
    bool m_changed = false;
    // A secret section the operator may not see: shown as "••••", unchanged.
    bool m_hidden = false;
    QScrollArea* m_scroll;
};
