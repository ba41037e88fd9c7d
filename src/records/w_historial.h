#pragma once
// The value history of one subscriber or template: who changed which value,
// when, from what to what, for a range of days (the last month when it
// opens), one section or all, one operator or all, newest first. Values are
// shown as the section editor shows them. Prints through the report window.

#include "data/catalogue_store.h"
#include "data/value_store.h"
#include "session/mdl_main.h"
#include "session/station_context.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QStringList>
#include <QWidget>
#include <functional>

class QAction;
class QComboBox;
class QDateEdit;
class QLabel;
class QTableWidget;
class QToolBar;
struct SectionFormat;

class w_historial : public QWidget {
    Q_OBJECT
public:
    explicit w_historial(StationContext& ctx, QWidget* parent = nullptr);

    // Opens (or brings forward) the history window for `owner`; `titular`
    // names it for the operator ("Abonado 12 - PEREZ JUAN").
    static w_historial* abrir(StationContext& ctx, const values::Owner& owner, const QString& titular);
    // The same, naming the subscriber or the template and its panel model.
    static w_historial* abrirAbonado(StationContext& ctx, int abonado);
    static w_historial* abrirConfiguracion(StationContext& ctx, int configuracion, int panel);
    // Whether the operator may see the history: who may program or read
    // panels (levels 1 and 2 could).
    static bool permitido(const mdl_main& m)
    {
        return m.may(permissions::Right::Programar) || m.may(permissions::Right::Bajar);
    }

    // Shows another subscriber or template, on the last month of every section
    // and operator.
    void showOwner(const values::Owner& owner, const QString& titular);
    // Refills the grid from the filters.
    void showHistory();
    // Lists again every open history window, after rows were purged.
    static void refreshOpen();


    // The grid's rows as texts, in the report's columns.
    const QList<QStringList>& lineas() const { return m_lines; }

    QToolBar* tb_historial;
    QAction* cb_imprimir;
    QLabel* st_titular;
    QLabel* st_desde_t;
    QDateEdit* dp_desde;
    QLabel* st_hasta_t;
    QDateEdit* dp_hasta;
    QLabel* st_seccion_t;
    QComboBox* cbx_seccion;
    QLabel* st_usuario_t;
    QComboBox* cbx_usuario;
    QTableWidget* dg_historial;

private:
    void buildGrid();
    void fillFilters();
    // A stored value as the editor shows it; "(sin valor)" for none.
    QString shown(int seccion, const SectionFormat& f, const std::optional<QString>& stored);
    QString subtitle() const;

    // The station's connection, asked for at each use: a copy kept here
    // would hold the connection open when the station closes it at exit.
    QSqlDatabase c() const;

    StationContext& m_ctx;
    values::Owner m_owner;
    QString m_titular;
    std::optional<QHash<int, QList<catalogue::ListValue>>> m_lists; // the model's value lists, read once
    QList<QStringList> m_lines;
    bool m_filling = false;
};
