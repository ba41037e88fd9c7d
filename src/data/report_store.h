#pragma once
// What the printed reports show, read whole into plain values: the programming
// of a subscriber or a template, section by section, and the subscriber list.
// Every function throws db::Error.

#include "data/permissions.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

namespace report_store {

// Who the report is for: secret values are hidden from an operator who may
// not see codes, and subscribers outside its groups are left out. The
// default sees everything (tools, benchmarks).
struct Viewer {
    int id_usuario = 0;
    permissions::Rights rights = permissions::levelRights(1);
};

// Three-level data of the panel and template reports.
struct ItemRow {
    int id_item = 0;
    QString descripcion, valor;
    QString estado; // "Subir", "Bajar" or empty
};

struct SectionRow {
    int id_seccion = 0;
    QString descripcion;
    QList<ItemRow> items;
};

struct ProgrammingData {
    QString panel;         // model code, blank, version
    QString configuracion; // template name
    // Subscriber line (panel report only).
    int id_abonado = 0;
    QString codigo, nombre, tel_1;
    QList<SectionRow> sections;
};

struct SubscriberRow {
    int id_abonado = 0;
    QString codigo, apellido, nombre, calle, anumero, localidad, descripcion, tel_1;
};

// Parent, sections and values of one subscriber; no parent row (an unknown
// subscriber) gives an empty list.
QList<ProgrammingData> panel(const QSqlDatabase& c, int id_abonado, int id_panel, int id_configuracion,
                             const Viewer& viewer = {});
// The same for one template of a panel model.
QList<ProgrammingData> configuracion(const QSqlDatabase& c, int id_panel, int id_configuracion,
                                     const Viewer& viewer = {});
// Every subscriber, by number; one whose province is not in the table is not listed.
QList<SubscriberRow> abonados(const QSqlDatabase& c, const Viewer& viewer = {});

} // namespace report_store
