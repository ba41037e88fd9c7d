#pragma once
// The pick list: all rows of one list (subscribers, users, panel models or
// templates), narrowed by a typed text on Enter; the picked number goes to
// the display operation registered for the mode (see search_context.h).

#include "records/search_context.h"
#include "session/station_context.h"

#include <QDialog>

class QAction;
class QLineEdit;
class QTableView;
class QToolBar;
class SearchFilterProxy;
class SearchRowsModel;

class w_buscar : public QDialog {
    Q_OBJECT
    StationContext& m_ctx;

public:
    // Sets the search context to `mode` and opens the list modally without
    // blocking the caller: the list deletes itself when it closes.
    static w_buscar* abrir(StationContext& ctx, SearchMode mode, QWidget* parent = nullptr);

    // The list for the current search context.
    explicit w_buscar(StationContext& ctx, QWidget* parent = nullptr);

    SearchMode mode() const { return m_mode; }

    void wp_inicializa();
    void wp_datagrid();
    void wp_selecciona();

    QLineEdit* tx_buscar;
    QTableView* dgr_buscar;
    QToolBar* tb_buscar;
    QAction* cb_aceptar;
    QAction* cb_cancelar;

    SearchRowsModel* rows() const { return m_rows; }
    SearchFilterProxy* filter() const { return m_filter; }

    // A click on a column heading: orders the list by that column, and the
    // other way round on a second click.
    void ordenar(int column);

protected:
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    void aplicarFiltro();
    // Column widths in pixels, those that fit their texts measured once.
    void medirColumnas();

    SearchMode m_mode = SearchMode::abonado;
    QList<int> m_widths;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    SearchRowsModel* m_rows;
    SearchFilterProxy* m_filter;
};
