#pragma once
// Who may do what: rights by function gathered in profiles, the groups of
// subscribers an operator is limited to, and which values are secret. The
// three old levels are the three built-in profiles, with the rights those
// levels always had. Every function that reads or writes throws db::Error.

#include <QList>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <QVariantList>
#include <optional>

namespace permissions {

// One bit each in perfiles.derechos; the numbers are stored, never reuse one.
enum class Right : int {
    VerCodigos = 0,       // "Ver códigos"
    Programar = 1,        // "Programar el panel"
    Bajar = 2,            // "Bajar del panel"
    EditarAbonados = 3,   // "Editar abonados"
    EditarPlantillas = 4, // "Editar plantillas"
    Imprimir = 5,         // "Imprimir y exportar"
    Usuarios = 6,         // "Administrar usuarios"
    Borrar = 7,           // "Borrar registros e historial"
    Parametros = 8,       // "Parámetros"
    Tareas = 9,           // "Tareas"
};
constexpr int RightCount = 10;
using Rights = int;

constexpr Rights bit(Right r) { return Rights(1) << int(r); }
constexpr bool has(Rights set, Right r) { return (set & bit(r)) != 0; }
// The caption of a right, as the users window lists it.
QString caption(Right r);
// The rights of built-in profile `level` (1, 2 or 3; what those levels could
// do); anything above 3 is 3, as the console always treated it.
Rights levelRights(int level);

// A secret value as every window, report and export shows it.
QString hiddenText();
// The one decision: whether a value (of a secret section or not) is hidden
// from an operator with `rights`; and what of it is shown.
bool hides(Rights rights, bool secret);
QString shown(Rights rights, bool secret, const QString& value);

// Puts in the built-in profiles 1 to 3 that are missing.
void addBuiltInProfiles(const QSqlDatabase& c);

struct Profile {
    int id_perfil = 0;
    QString nombre;
    Rights derechos = 0;
};
QList<Profile> profiles(const QSqlDatabase& c);
std::optional<Profile> profile(const QSqlDatabase& c, int id_perfil);
// A new profile (number from 4 on) or a changed one; throws db::Error with a
// sentence for the operator when the name is empty or taken, and when the
// change would leave nobody able to administer users.
int saveProfile(const QSqlDatabase& c, const Profile& p);
// Refused (db::Error) while an operator has it, and for the built-in ones.
void removeProfile(const QSqlDatabase& c, int id_perfil);

struct Group {
    int id_grupo = 0;
    QString codigo, descripcion;
};
QList<Group> groups(const QSqlDatabase& c);
// Refused (db::Error, said for the operator) without a code or with the code
// of another group.
int saveGroup(const QSqlDatabase& c, const Group& g);
// Refused while subscribers belong to it, saying how many.
void removeGroup(const QSqlDatabase& c, int id_grupo);

// What the login leaves in force for an operator.
struct Grant {
    Rights rights = 0;
    bool limited = false;    // limited to some groups
    int lostGroups = 0;      // of those, how many are gone
    int keptGroups = 0;
};
Grant grantOf(const QSqlDatabase& c, int id_usuario);
// The groups an operator works on (empty: all) and setting them.
QList<int> operatorGroups(const QSqlDatabase& c, int id_usuario);
void setOperatorGroups(const QSqlDatabase& c, int id_usuario, const QList<int>& groups);

// The condition that keeps subscriber rows (`alias`.id_grupo) to those
// operator `id_usuario` may work on, and the values it binds, in order.
QString groupCondition(const QString& alias);
QVariantList groupBinds(int id_usuario);
// What the operator is told of a subscriber outside its groups.
QString outsideGroupsText(int id_abonado);
// Whether operator `id_usuario` may work on subscriber `id_abonado`.
bool maySee(const QSqlDatabase& c, int id_usuario, int id_abonado);

// How many operators may administer users, leaving out `except` (0: none) or
// counting it with profile `asProfile`.
int administrators(const QSqlDatabase& c, int except = 0, int asProfile = 0);

// The secret sections of a panel model: its access code section and those
// the catalogue marks.
QSet<int> secretSections(const QSqlDatabase& c, int id_panel);

} // namespace permissions
