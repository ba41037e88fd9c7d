#pragma once
// Programming templates (configuraciones): their names, the template a panel
// model is programmed from when it has only one, copies and removal.

#include <QSqlDatabase>
#include <QString>
#include <optional>

namespace templates {

// The template's name; nothing when there is no such template. Throws db::Error.
std::optional<QString> name(const QSqlDatabase& c, int configuracion);
// The one template holding values for the model, 0 when none or several do.
// Throws db::Error.
int onlyTemplateOf(const QSqlDatabase& c, int panel);
// A new template named `name` with every value and mark of `source` (their
// history in the name of the operator `usuario`), in a transaction of its
// own. Returns the new template's number. Throws db::Error.
int copy(const QSqlDatabase& c, int source, const QString& name, int usuario);
// Renames a template, in a transaction of its own; throws db::Error when the
// template is not there.
void rename(const QSqlDatabase& c, int configuracion, const QString& name);
// Removes a template and its values, in a transaction of its own (their
// history stays, marked as deleted); the database refuses while a subscriber
// uses it (db::Error).
void remove(const QSqlDatabase& c, int configuracion);

} // namespace templates
