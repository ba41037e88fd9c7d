#pragma once
// What the record windows (operators, subscribers) share: the toolbar
// "Buscar", "Alta", "Baja", "Editar", "Aceptar", "Cancelar" and what its
// buttons do, and the end of a save or a delete: the store write, a failure
// logged and shown, the record shown again. Each window keeps its own
// checks, its store calls and its own record number (m_user, m_subscriber).

#include "records/search_context.h"
#include "session/station_context.h"
#include "ui/ui_unsaved.h"

#include <QWidget>
#include <functional>
#include <optional>

class QAction;
class QToolBar;

class RecordForm : public QWidget, public EditedForm {
    Q_OBJECT
public:
    virtual void showData(int id) = 0;
    virtual void enableControls(const QString& modo) = 0;
    virtual bool save() = 0;
    virtual void deleteRecord() = 0;

    // Toolbar dispatch on the button's key.
    virtual void dispatch(const QString& key);

    bool m_isNew = false; // a new record is being entered

    QToolBar* tb_abm;
    QAction* cb_buscar;
    QAction* cb_alta;
    QAction* cb_baja;
    QAction* cb_modificar;
    QAction* cb_aceptar;
    QAction* cb_cancelar;

protected:
    StationContext& m_ctx;

    // Builds the toolbar; the window adds it to its layout.
    RecordForm(StationContext& ctx, SearchMode mode, QWidget* parent);
    QAction* boton(const QString& key, const QString& caption, const QString& tip);

    // The record on display; 0 when none.
    virtual int& shownRecord() = 0;
    // "Alta" or "Editar" has opened the form (m_isNew says which).
    virtual void editingStarted() = 0;

    // The end of "Aceptar": `write` stores the record and returns its number,
    // or nothing when it refused (having said why). A database error is
    // logged and `report` shows it. The stored record is then shown again.
    bool saveShown(const std::function<std::optional<int>()>& write, const std::function<void(const QString& why)>& report);
    // The end of "Baja": `remove` deletes the record on display. A database
    // error is logged and shown; otherwise no record is shown any more.
    void removeShown(const std::function<void(int id)>& remove);

private:
    SearchMode m_mode;
};
