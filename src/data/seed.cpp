#include "data/seed.h"

#include "data/db.h"
#include "data/permissions.h"
#include "data/shared_ops.h"

#include <QFile>

namespace seed {

namespace {

struct Model {
    int id;
    const char* codigo;
    const char* version;
    const char* cadena;
    int base; // first address of the model's memory map
};

const Model kModels[] = {
    {1, "PX-16", "1.0", "1", 0},
    {2, "NX-16", "2.3", "2", 16},
};

// Fills the catalogue of one model, laying its sections out one after the
// other from `base` so that no two sections share an address.
class ModelBuilder {
public:
    ModelBuilder(const QSqlDatabase& c, const Model& m) : m_c(c), m_m(m), m_pos(m.base) {}

    void section(int id, int tipo, int lng, int caracteres, const QString& descripcion,
                 const QString& filler, const QStringList& items, const QStringList& defaults,
                 int mark, int bytes)
    {
        db::exec(m_c,
                 QStringLiteral("INSERT INTO secciones (id_panel, id_seccion, tipo, long, caracteres, "
                                "posicion, descripcion, filler) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
                 {m_m.id, id, tipo, lng, caracteres == 0 ? QVariant() : QVariant(caracteres), m_pos,
                  descripcion, filler.isNull() ? QVariant() : QVariant(filler)});
        for (int i = 0; i < items.size(); ++i) {
            db::exec(m_c,
                     QStringLiteral("INSERT INTO secciones_items (id_panel, id_seccion, id_item, descripcion) "
                                    "VALUES (?, ?, ?, ?)"),
                     {m_m.id, id, i + 1, items.at(i)});
            db::exec(m_c,
                     QStringLiteral("INSERT INTO configuraciones_valores (id_configuracion, id_panel, "
                                    "id_seccion, id_item, valor, id_estado) VALUES (1, ?, ?, ?, ?, ?)"),
                     {m_m.id, id, i + 1, defaults.at(i % defaults.size()), mark});
        }
        m_pos += bytes + 2; // a small gap between sections, as real maps have
    }

    void values(int seccion, const QList<QPair<QString, QString>>& list)
    {
        for (const auto& v : list)
            db::exec(m_c,
                     QStringLiteral("INSERT INTO secciones_valores (id_panel, id_seccion, id_valor, descripcion) "
                                    "VALUES (?, ?, ?, ?)"),
                     {m_m.id, seccion, v.first, v.second});
    }

private:
    QSqlDatabase m_c;
    Model m_m;
    int m_pos;
};

QStringList numbered(const QString& prefix, int from, int count)
{
    QStringList l;
    for (int i = 0; i < count; ++i)
        l << QStringLiteral("%1 %2").arg(prefix).arg(from + i, 2, 10, QLatin1Char('0'));
    return l;
}

const QList<QPair<QString, QString>> kZoneTypes = {
    {"00", "Deshabilitada"},      {"01", "Demorada 1"},       {"02", "Demorada 2"},
    {"03", "Instantánea"},        {"04", "Interior"},         {"05", "Interior demorada"},
    {"06", "24 horas robo"},      {"07", "24 horas asalto"},  {"08", "24 horas incendio"},
    {"09", "Llave de armado"},    {"0A", "24 horas médica"},  {"0B", "Seguidora"},
};

const QList<QPair<QString, QString>> kOnOff = {{"0", "No"}, {"1", "Sí"}};

const QList<QPair<QString, QString>> kPgmFunctions = {
    {"00", "Deshabilitada"},     {"01", "Sirena"},          {"02", "Armado"},
    {"03", "Alarma de incendio"}, {"04", "Falla de línea"}, {"05", "Comando remoto"},
    {"06", "Seguidora de zona"},
};

void buildModel(const QSqlDatabase& c, const Model& m)
{
    db::exec(c,
             QStringLiteral("INSERT INTO paneles (id_panel, codigo, version, cadena, id_seccionpwd) "
                            "VALUES (?, ?, ?, ?, 40)"),
             {m.id, QString::fromLatin1(m.codigo), QString::fromLatin1(m.version), QString::fromLatin1(m.cadena)});
    ModelBuilder b(c, m);
    const bool nx = m.id == 2;

    // Zone types: one byte per zone, chosen from a list (type 2 without characters).
    b.section(0, 2, 0, 0, "Tipos de Zona 01 a 08", QString(), numbered("Zona", 1, 8),
              {"01", "03", "03", "04", "04", "03", "06", "00"}, 1, 8);
    b.values(0, kZoneTypes);
    b.section(1, 2, 0, 0, "Tipos de Zona 09 a 16", QString(), numbered("Zona", 9, 8), {"00"}, 1, 8);
    b.values(1, kZoneTypes);

    // Zone attributes: one bit section per zone.
    const QStringList attributes = {"Sirena audible", "Sirena pulsante", "Anulable", "Forzable",
                                    "Corte de sirena", "Doble disparo", "Zona de incendio", "Chequeo de tamper"};
    for (int z = 1; z <= 16; ++z) {
        const int id = 1 + z;
        b.section(id, 1, 0, 0, QStringLiteral("Atributos de Zona %1").arg(z, 2, 10, QLatin1Char('0')),
                  QString(), attributes, {"1", "0", "1", "0", "0", "0", "0", "1"}, 0, 1);
        b.values(id, kOnOff);
    }

    // System options (bits).
    b.section(18, 1, 0, 0, "Opciones del Sistema 1", QString(),
              {"Armado rápido", "Anulación rápida", "Pánico de teclado", "Sirena en pánico",
               "Supervisión de línea", "Chequeo de batería", "Reporte de aperturas", "Reporte de cierres"},
              {"1", "0", "1", "1", "0", "1", "1", "1"}, 0, 1);
    b.values(18, kOnOff);
    b.section(19, 1, 0, 0, "Opciones del Sistema 2", QString(),
              {"Beep de salida", "Beep de entrada", "Chime", "Teclado iluminado",
               "Armado automático", "Horario de verano", "Código de coacción", "Reset de memoria"},
              {"1", "1", "0", "1", "0", "0", "0", "1"}, 0, 1);
    b.values(19, kOnOff);

    // Timers: one decimal byte each, typed as three digits.
    b.section(20, 3, 0, 3, "Temporizadores del Sistema", QString(),
              {"Tiempo de entrada 1 (seg)", "Tiempo de entrada 2 (seg)", "Tiempo de salida (seg)",
               "Tiempo de sirena (min)", "Retardo de falla de AC (min)", "Retardo de reporte (seg)"},
              {"030", "045", "060", "004", "030", "015"}, 1, 6);

    // Partition assignment and installer bytes: hexadecimal bytes typed freely.
    b.section(21, 2, 0, 2, "Asignación de Zonas a Particiones", QString(), numbered("Zona", 1, 16), {"01"}, 0, 16);
    b.section(22, 2, 0, 2, nx ? "Niveles de Volumen y Brillo" : "Niveles de Volumen", QString(),
              {"Volumen del teclado", "Volumen de sirena interior", "Brillo del teclado"}, {"08", "0F", "0A"}, 0, 3);

    // PGM outputs: function per output from a list.
    b.section(23, 2, 0, 0, "Programación de Salidas PGM", QString(), numbered("PGM", 1, 4), {"00", "02"}, 0, 4);
    b.values(23, kPgmFunctions);

    // Telephone numbers: hexadecimal text with its fill shown (type 5).
    b.section(24, 5, 32, 32, "Teléfono de Central 1", "F", {"Número telefónico"}, {"43514200FFFFFFFFFFFFFFFFFFFFFFFF"}, 1, 16);
    b.section(25, 5, 32, 32, "Teléfono de Central 2", "F", {"Número telefónico"}, {"FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"}, 0, 16);
    b.section(26, 5, 32, 32, "Teléfono de Retrollamada", "F", {"Número telefónico"}, {"FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"}, 0, 16);

    // Account numbers: hexadecimal text with its fill hidden (type 4).
    b.section(27, 4, 4, 4, "Número de Abonado Partición 1", "F", {"Número de abonado"}, {"1234"}, 1, 2);
    b.section(28, 4, 4, 4, "Número de Abonado Partición 2", "F", {"Número de abonado"}, {"FFFF"}, 0, 2);
    // An odd length: the last digit takes a byte of its own.
    b.section(29, 4, 5, 5, "Identificador de Instalación", "0", {"Identificador"}, {"A0001"}, 0, 3);

    // User codes: four digits each, fill hidden.
    for (int u = 1; u <= 8; ++u)
        b.section(29 + u, 4, 4, 4, QStringLiteral("Código de Usuario %1").arg(u, 2, 10, QLatin1Char('0')), "F",
                  {"Código"}, {u == 1 ? "1111" : "FFFF"}, 0, 2);

    // Free label text (type 5 without a fill character).
    b.section(38, 5, 16, 16, "Etiqueta de la Instalación", QString(), {"Texto"}, {"0000000000000000"}, 0, 8);

    // Dialer format per receiver (list), then the access code for this station.
    b.section(39, 2, 0, 0, "Formato de Comunicación", QString(), {"Central 1", "Central 2"}, {"03", "03"}, 0, 2);
    b.values(39, {{"00", "Deshabilitado"}, {"01", "4+2 Ademco Express"}, {"02", "SIA"}, {"03", "Contact ID"}});
    b.section(40, 4, 4, 4, "Código de Acceso PC", QString(), {"Código de acceso"}, {"1234"}, 0, 2);
    // The user codes are secret: shown only to who may see codes.
    db::exec(c, QStringLiteral("UPDATE secciones SET secreta = 1 WHERE id_panel = ? AND id_seccion BETWEEN 30 AND 37"), {m.id});
}

const char* const kEvents0[] = {
    "Alarma de zona",            "Restauración de zona",       "Anulación de zona",
    "Tamper de zona",            "Armado por usuario",         "Desarmado por usuario",
    "Armado automático",         "Armado rápido",              "Pánico de teclado",
    "Incendio de teclado",       "Emergencia médica",          "Código de coacción",
    "Falla de AC",               "Restauración de AC",         "Batería baja",
    "Restauración de batería",   "Falla de línea telefónica",  "Restauración de línea",
    "Falla de sirena",           "Restauración de sirena",     "Programación local",
    "Programación remota",       "Cambio de hora",             "Prueba periódica",
};
const char* const kEvents1[] = {
    "Alarma de zona 24 horas",   "Restauración de zona 24 horas", "Falla de comunicación",
    "Comunicación restablecida", "Reset del sistema",             "Tamper de teclado",
    "Restauración de tamper",    "Falla de expansor",             "Restauración de expansor",
    "Memoria de eventos llena",  "Salida PGM activada",           "Salida PGM desactivada",
};

void loadEvents(const QSqlDatabase& c, int panel)
{
    int n = 0;
    for (const char* d : kEvents0)
        db::exec(c, QStringLiteral("INSERT INTO eventos (id_panel, id_tipo, id_evento, descripcion) VALUES (?, 0, ?, ?)"),
                 {panel, n++, QString::fromUtf8(d)});
    n = 0;
    for (const char* d : kEvents1)
        db::exec(c, QStringLiteral("INSERT INTO eventos (id_panel, id_tipo, id_evento, descripcion) VALUES (?, 1, ?, ?)"),
                 {panel, n++, QString::fromUtf8(d)});
}

} // namespace

void loadReference(const QSqlDatabase& c)
{
    QFile f(QStringLiteral(":/data/reference.sql"));
    if (!f.open(QIODevice::ReadOnly))
        throw db::Error(QStringLiteral("No se encontraron los datos de referencia"));
    db::execScript(c, QString::fromUtf8(f.readAll()));
    addMissingOperations(c);
    permissions::addBuiltInProfiles(c);
}

void addMissingOperations(const QSqlDatabase& c)
{
    const std::pair<int, const char*> added[] = {
        {17, "CONEXIÓN FALLIDA: EL PANEL NO RESPONDIÓ"},
        {18, "VERIFICACIÓN DE SUBIDA"},
        {19, "COMPARACIÓN CON EL PANEL"},
        {20, "SUBIDA DE CAMBIOS"},
        {21, "VALORES TOMADOS DEL PANEL"},
        {22, "SECCIONES MARCADAS PARA SUBIR DESDE LA COMPARACIÓN"},
        {23, "CÓDIGO DE ACCESO TOMADO DEL PANEL"},
        {24, "USUARIO BLOQUEADO POR INTENTOS FALLIDOS"},
    };
    for (const auto& [id, descripcion] : added)
        db::exec(c,
                 QStringLiteral("INSERT INTO operaciones (id_operacion, descripcion) VALUES (?, ?) "
                                "ON CONFLICT (id_operacion) DO NOTHING"),
                 {id, QString::fromUtf8(descripcion)});
}

void loadDemoCatalogue(const QSqlDatabase& c)
{
    for (const Model& m : kModels) {
        buildModel(c, m);
        loadEvents(c, m.id);
    }
}

void loadDemoSubscribers(const QSqlDatabase& c)
{
    const QString insert = QStringLiteral(
        "INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, nombre, calle, numero, "
        "piso, depto, localidad, id_provincia, cp, tel_1, tel_2, ref_contacto1, id_contacto1, tel_contacto1, "
        "observaciones) VALUES (?, ?, ?, 1, ?, ?, ?, ?, NULL, NULL, ?, ?, ?, ?, NULL, ?, 1, ?, ?)");
    db::exec(c, insert,
             {1, "0001", 1, "DEMOSTRACIÓN", "PANEL PX", "AV. SIEMPRE VIVA", "742", "CÓRDOBA", 6, "5000", "5550001",
              "TITULAR DEMO", "5550101", "ABONADO DE DEMOSTRACIÓN (MODELO PX-16)"});
    db::exec(c, insert,
             {2, "0002", 2, "DEMOSTRACIÓN", "PANEL NX", "SAN MARTÍN", "1050", "ROSARIO", 21, "2000", "5550002",
              "TITULAR DEMO", "5550102", "ABONADO DE DEMOSTRACIÓN (MODELO NX-16)"});
    copyValues(c, 1, 1, 999, 1, 0);
    copyValues(c, 2, 2, 999, 1, 0);
}

void createStationDatabase(const QString& file, bool demoSubscribers)
{
    const QString name = QStringLiteral("sorvent-create");
    try {
        {
            QSqlDatabase c = db::create(name, file);
            db::Transaction t(c);
            loadReference(c);
            loadDemoCatalogue(c);
            if (demoSubscribers)
                loadDemoSubscribers(c);
            t.commit();
        }
        db::close(name);
    } catch (...) {
        db::close(name);
        QFile::remove(file);
        throw;
    }
}

} // namespace seed
