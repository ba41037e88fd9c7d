#pragma once
// Stored programming beside the panel's: one row per section with the stored
// value and the panel's, both as a download would store them, differing rows
// highlighted. The operator takes the panel's values of the selected rows
// ("Tomar del panel") or marks them for upload ("Marcar para subir"); nothing
// changes otherwise. The comparison prints as "Diferencias con el panel".

#include "data/value_store.h"
#include "session/station_context.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QWidget>
#include <functional>

class QAction;
class QCheckBox;
class QLabel;
class QTableWidget;
class QToolBar;

struct ComparisonRow {
    int seccion = 0;
    QString descripcion;
    QString guardado, panel;                 // as one line of text
    QList<QPair<int, QString>> panelValues;  // what "Tomar del panel" stores
    bool distinto = false;
};

class w_comparar : public QWidget {
    Q_OBJECT
public:
    // `log` writes one operations log line (code, text).
    w_comparar(StationContext& ctx, const values::Owner& owner, const QString& subscriber, QList<ComparisonRow> rows,
               QWidget* parent = nullptr);

    QLabel* st_abonado;
    QToolBar* tb_comparar;
    QAction* cb_tomar;
    QAction* cb_marcar;
    QAction* cb_imprimir;
    QCheckBox* chk_diferencias;
    QTableWidget* fg_comparacion;

    const QList<ComparisonRow>& rows() const { return m_rows; }
    // Selects the rows of these sections (tests, and the console after a read).
    void selectSections(const QList<int>& sections);

signals:
    // Stored values or marks changed: the console redraws its section list.
    void valuesChanged();

private:
    void fill();
    QList<int> selectedRows() const;
    void takeFromPanel();
    void markForUpload();
    void print();
    // A value of the row as the operator may see it.
    QString shownValue(const ComparisonRow& r, const QString& value) const;

    StationContext& m_ctx;
    values::Owner m_owner;
    QString m_subscriber;
    QList<ComparisonRow> m_rows;
};
