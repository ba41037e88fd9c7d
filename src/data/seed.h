#pragma once
// Contents of a new station database: the reference rows and a demo catalogue
// of two 16-zone panel models.

#include <QSqlDatabase>
#include <QString>

namespace seed {

// Loads the reference rows (operations, provinces, contacts, settings row,
// configuration 1, account 1) into a database just made from the schema.
void loadReference(const QSqlDatabase& c);
// Adds the operations the station writes that a database made by an older
// station lacks. Idempotent; throws db::Error.
void addMissingOperations(const QSqlDatabase& c);
// Loads the demo catalogue: models, sections, items, value lists, template 1
// values with marks, and event texts. Sections of one model never overlap.
void loadDemoCatalogue(const QSqlDatabase& c);
// One demo subscriber per model, with values seeded from template 1.
void loadDemoSubscribers(const QSqlDatabase& c);

// Creates `file` with schema, reference rows and demo catalogue, in one
// transaction; the file is removed again when anything fails.
void createStationDatabase(const QString& file, bool demoSubscribers);

} // namespace seed
