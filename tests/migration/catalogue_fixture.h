#pragma once
// A maintainer's database from which update files are exported, and a dump of
// the catalogue tables to compare databases with.

#include "session/mdl_main.h"
#include "common/testsupport.h"
#include "data/catalogue_export_store.h"
#include "data/db.h"
#include "data/seed.h"

#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

// A fresh file database with the demo catalogue (a copy of the station's when
// it has a file; made anew when the station is on a server), changed as each
// test needs and exported as the station's update file.
class Maintainer {
public:
    explicit Maintainer(const TestStation& st) : m_st(st), m_file(st.path(QStringLiteral("mantenimiento.mdb")))
    {
        if (!QFile::copy(st.path(mdl_main::DbFile), m_file))
            seed::createStationDatabase(m_file, false);
        db::open(kName, m_file);
    }
    ~Maintainer() { db::close(kName); }
    QSqlDatabase c() const { return QSqlDatabase::database(kName, false); }
    void exec(const QString& sql) const { db::exec(c(), sql); }
    void exportUpdate() const { export_store::exportCatalogue(m_file, m_st.path(mdl_main::UpdateFile)); }

private:
    static inline const QString kName = QStringLiteral("mantenimiento");
    const TestStation& m_st;
    QString m_file;
};

// Spoils an update file in ways the exporter never would.
inline void tamper(const QString& updateFile, const QString& sql)
{
    db::exec(db::open(QStringLiteral("retoque"), updateFile), sql);
    db::close(QStringLiteral("retoque"));
}

// Every catalogue row (template values of configuration 1 only, unless
// `allTemplates`), NULL told apart from the empty text.
inline QStringList dumpCatalogue(const QSqlDatabase& c, bool allTemplates = false)
{
    QStringList rows;
    for (const char* t : {"paneles", "secciones", "secciones_valores", "secciones_items", "configuraciones_valores"}) {
        const bool one = !allTemplates && QLatin1String(t) == QLatin1String("configuraciones_valores");
        QSqlQuery q = db::exec(c, QStringLiteral("SELECT '%1', * FROM %1 %2").arg(QLatin1String(t), one ? "WHERE id_configuracion = 1" : ""));
        while (q.next()) {
            QStringList cells;
            for (int i = 0; i < q.record().count(); ++i)
                cells << (q.value(i).isNull() ? QStringLiteral("<null>") : q.value(i).toString());
            rows << cells.join(QLatin1Char('|'));
        }
    }
    rows.sort();
    return rows;
}
