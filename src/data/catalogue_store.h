#pragma once
// The catalogue as the windows read it: panel models, their sections, items
// and value lists, and the pick lists of the subscriber record.

#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <optional>

namespace catalogue {

// Key and text of one entry of a pick list.
struct Entry {
    int key = 0;
    QString text;
};
enum class PickList { Provinces, ContactKinds, Templates, PanelModels };
// Every entry of the list (model: code and version as one text), in the
// store's order of the text. Throws db::Error.
QList<Entry> pickList(const QSqlDatabase& c, PickList list);

// The catalogue's only model, 0 when there are none or several. Throws db::Error.
int onlyPanel(const QSqlDatabase& c);
// "code version" of a model; nothing when there is no such model. Throws db::Error.
std::optional<QString> panelCaption(const QSqlDatabase& c, int panel);

struct Section {
    int tipo = 0;
    int caracteres = 0;
    QString descripcion;
    QString filler;
};
// Nothing when the model has no such section. Throws db::Error.
std::optional<Section> section(const QSqlDatabase& c, int panel, int seccion);

struct Item {
    int item = 0;
    QString descripcion;
    QString valor; // the template's value
};
// The section's items that the template holds a value for, by number, at
// most `limit`. Throws db::Error.
QList<Item> templateItems(const QSqlDatabase& c, int configuracion, int panel, int seccion, int limit);

struct ListValue {
    QString valor;
    QString descripcion;
};
// The values a list section's items may take, by value. Throws db::Error.
QList<ListValue> valueList(const QSqlDatabase& c, int panel, int seccion);
// Every section's list of a model at once, by section. Throws db::Error.
QHash<int, QList<ListValue>> valueLists(const QSqlDatabase& c, int panel);

} // namespace catalogue
