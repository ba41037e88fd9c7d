#pragma once
// Programming values and their transfer marks, kept for a subscriber (what
// goes to and comes from the panel) or for a template (what a subscriber is
// seeded from). The same statements serve both: only the table and the key
// differ, so an Owner names which.

#include "data/lock_store.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <optional>

namespace history { struct Stamp; }

namespace values {

// Whose values: a subscriber's (abonados_valores) or a template's for one
// panel model (configuraciones_valores).
struct Owner {
    static Owner subscriber(int abonado, int panel) { return {true, abonado, panel}; }
    static Owner templ(int configuracion, int panel) { return {false, configuracion, panel}; }
    bool isSubscriber = true;
    int id = 0; // id_abonado or id_configuracion
    int panel = 0;
};

struct SectionMark {
    int seccion = 0;
    QString descripcion;
    int marca = 0; // 1 subir, -1 bajar, 0 nothing
};

// none -> subir -> bajar -> none: a click on a section's mark, in the console
// and in the templates window alike.
inline int nextMark(int marca)
{
    return marca == 1 ? -1 : marca + 1;
}

// The model's sections by number, each with the largest of the owner's item
// marks in it (0 without items). Throws db::Error.
QList<SectionMark> sectionMarks(const QSqlDatabase& c, const Owner& o);
// Sets the mark of one section, or of every section when `seccion` < 0, in a
// transaction of its own. Throws db::Error.
void setMarks(const QSqlDatabase& c, const Owner& o, int marca, int seccion = -1);
// Same as setMarks, inside the caller's transaction.
void writeMarks(const QSqlDatabase& c, const Owner& o, int marca, int seccion);

// A subscriber's marks as its template marks them ("Premarcar"): subir and
// bajar where the template says so, nothing elsewhere. Throws db::Error.
void presetMarks(const QSqlDatabase& c, int abonado, int panel, int configuracion);
// Subir becomes bajar and back, for every section of a subscriber.
void invertMarks(const QSqlDatabase& c, int abonado);

// One item's stored value (a stored null reads as the empty text); nothing
// when the row is not there. Throws db::Error.
std::optional<QString> itemValue(const QSqlDatabase& c, const Owner& o, int seccion, int item);
// Writes one item's value inside the caller's transaction, with its history
// row when the value changes; false when the row is not there. Throws
// db::Error.
bool writeItemValue(const QSqlDatabase& c, const Owner& o, int seccion, int item, const QString& valor,
                    const history::Stamp& stamp);
// The section editor's save: each item's value (`values`, by id_item) with
// its history row, and the section's mark when `marca` is not 0, in one
// transaction. A subscriber held by another station is refused inside that
// transaction: the holder comes back and nothing is written, even when the
// hold was taken after the editor opened; and while the save runs no other
// station can take it. Throws db::Error (a value row that is not there
// too: it is not saved by pretending).
std::optional<locks::Holder> saveSection(const QSqlDatabase& c, const Owner& o, int seccion,
                                         const QList<std::pair<int, QString>>& values, int marca,
                                         const history::Stamp& stamp);
// A value taken from the panel by the operator `usuario` into a subscriber's
// values, as writeItemValue (history origin "panel").
bool takeFromPanel(const QSqlDatabase& c, int abonado, int panel, int seccion, int item, const QString& valor,
                   int usuario);

} // namespace values
