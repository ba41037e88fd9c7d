#pragma once
// Subscribers (abonados): the record as the subscribers window edits it, and
// the header the panel console opens a subscriber with.

#include <QSqlDatabase>
#include "data/db.h"

#include <QSqlRecord>
#include <QString>
#include <QVariantList>
#include <optional>

namespace subscribers {

// The record's every column; nothing when there is no such subscriber.
// Throws db::Error.
std::optional<QSqlRecord> record(const QSqlDatabase& c, int abonado);

// `fields` are the 24 columns after id_abonado, in this order: codigo,
// id_panel, id_configuracion, apellido, nombre, calle, numero, piso, depto,
// localidad, id_provincia, cp, tel_1, tel_2, then ref_contactoN, id_contactoN,
// tel_contactoN for N = 1..3, and observaciones; a 25th, id_grupo, when
// given (an update without it leaves the group as it is).
//
// A new subscriber with its values and marks seeded from its template (their
// history in the name of the operator `usuario`), in a transaction of its
// own. Returns its number. Throws db::Error.
//
// With `codeCheck`, the code is checked in the saving transaction, under
// the lock other stations' saves of subscribers wait on: another subscriber
// with it, other than `codeCheck->accepted` (0: none accepted), refuses the
// save with CodeTaken, for the operator to decide.
struct CodeCheck {
    int accepted = 0;
};
int insert(const QSqlDatabase& c, const QVariantList& fields, int usuario,
           const std::optional<CodeCheck>& codeCheck = std::nullopt);
// Another station changed or removed the subscriber since `asRead` was read.
using Changed = db::Changed;
// The lowest other subscriber with the code, if any. Throws db::Error.
struct CodeHolder {
    int abonado = 0;
    QString codigo, apellido;
};
std::optional<CodeHolder> otherWithCode(const QSqlDatabase& c, const QString& codigo, int exceptAbonado);
// Another subscriber has the code, and the operator has not said it may.
class CodeTaken : public db::Error {
public:
    explicit CodeTaken(const CodeHolder& other)
        : db::Error(QStringLiteral("El código ya existe en el abonado %1 - %2").arg(other.codigo, other.apellido)),
          m_other(other)
    {
    }
    const CodeHolder& other() const { return m_other; }

private:
    CodeHolder m_other;
};

// Overwrites a subscriber, in a transaction of its own; throws db::Error
// when the subscriber is not there, Changed when it is no longer as the
// operator read it (`asRead`, when given).
void update(const QSqlDatabase& c, int abonado, const QVariantList& fields,
            const std::optional<QSqlRecord>& asRead = std::nullopt,
            const std::optional<CodeCheck>& codeCheck = std::nullopt);
// Removes a subscriber with its values and events (the schema cascades); its
// value history stays, marked as deleted.
void remove(const QSqlDatabase& c, int abonado);

// What the console shows of a subscriber and needs to reach its panel.
struct ConsoleHeader {
    int abonado = 0;
    QString codigo;
    QString nombre;   // surname and name
    QString telefono; // tel_1
    QString modelo;   // model code and version
    QString cadena;   // protocol code of the model
    int panel = 0;
    int configuracion = 0;
    QString password; // the stored access code (item 1 of the model's password section)
};
// Nothing when there is no such subscriber or it has no stored access code:
// without it the panel cannot be reached. Throws db::Error.
std::optional<ConsoleHeader> consoleHeader(const QSqlDatabase& c, int abonado);

} // namespace subscribers
