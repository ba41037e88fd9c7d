// Every text the station shows (box titles and messages, captions,
// tool-tips, report headings) is spelled with its accents: one check over
// every string in the sources, against the Spanish words the station uses.

#include "data/text_rules.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

namespace {

// The station's words that are never right without their accent.
const QStringList Words = {
    "Atención",  "Operación", "Configuración", "Sección",  "Descripción", "Comunicación", "Conexión",
    "Migración", "Versión",   "Contraseña",    "Número",   "Teléfono",    "Página",       "Código",
    "Parámetro", "Parámetros", "Último",       "Última",   "Días",        "Exclusión",    "Partición",
    "Estación",  "Información", "Actualización", "Verificación", "Comparación", "Dirección",
};

// Texts the station shows exactly as its catalogue and its grid headings
// were written, faults and all.
const QStringList Verbatim = {
    "El campo numero es obligatorio",
    "El campo Telefono 1 es obligatorio",
    "Restaurar valores predeterminados de la seccion",
    "Bajar seccion",
    "Eliminar configuracion",
    "Filtro (seccion/descripción)",
    "NUMERO", "CODIGO", "VERSION", "CONFIGURACION",
};

// A string that is a name for the program, not a text for a person: object
// and column names, file names, statements.
bool notShown(const QString& s)
{
    static const QRegularExpression sql(QStringLiteral("\\b(SELECT|INSERT|UPDATE|DELETE|CREATE|ALTER|FROM|WHERE|AND|JOIN|"
                                                       "ORDER BY|GROUP BY|DATABASE|INDEX|TABLE|VALUES|COALESCE|NOT NULL)\\b"));
    static const QRegularExpression identifier(QStringLiteral("^[a-z0-9_ ,.()%*/:=?]*$"));
    return s.contains(QLatin1Char('_')) || sql.match(s).hasMatch() || identifier.match(s).hasMatch();
}

QStringList misspelled(const QString& text)
{
    static QHash<QString, QString> byKey;
    if (byKey.isEmpty())
        for (const QString& w : Words)
            byKey.insert(textrules::searchKey(w), w);
    QStringList found;
    static const QRegularExpression word(QStringLiteral("\\p{L}+"));
    // Command-line options ("--rol-estacion") are typed, not read.
    static const QRegularExpression option(QStringLiteral("--[a-z-]+"));
    for (auto it = word.globalMatch(QString(text).remove(option)); it.hasNext();) {
        const QString w = it.next().captured();
        const QString right = byKey.value(textrules::searchKey(w));
        if (!right.isEmpty() && w.toCaseFolded() != right.toCaseFolded())
            found << w + " (" + right + ")";
    }
    return found;
}

} // namespace

class tst_spelling : public QObject {
    Q_OBJECT
private slots:
    void everyTextKeepsItsAccents()
    {
        // The check itself finds what it is for.
        QCOMPARE(misspelled("Atencion"), QStringList{"Atencion (Atención)"});
        QCOMPARE(misspelled("ATENCIÓN: Sección"), QStringList{});
        QCOMPARE(misspelled("Uso: sorvent-db --rol-estacion: estacion"), QStringList{"estacion (Estación)"});
        QVERIFY(notShown("SELECT descripcion FROM secciones") && notShown("cb_configuracion") && !notShown("Atencion"));

        const QString root = QFINDTESTDATA("../../src");
        QVERIFY(!root.isEmpty());
        static const QRegularExpression literal(QStringLiteral("\"((?:[^\"\\\\\\n]|\\\\.)*)\""));
        QStringList faults;
        int texts = 0;
        for (const QString& dir : {root, root + "/../tools"}) {
            QDirIterator files(dir, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
            while (files.hasNext()) {
                QFile f(files.next());
                QVERIFY(f.open(QIODevice::ReadOnly));
                int n = 0;
                for (const QString& line : QString::fromUtf8(f.readAll()).split('\n')) {
                    ++n;
                    if (line.trimmed().startsWith("//") || line.trimmed().startsWith("#include"))
                        continue;
                    for (auto it = literal.globalMatch(line); it.hasNext();) {
                        const QString s = it.next().captured(1);
                        if (Verbatim.contains(s) || notShown(s))
                            continue;
                        ++texts;
                        for (const QString& w : misspelled(s))
                            faults << QStringLiteral("%1:%2: %3").arg(QFileInfo(f).fileName()).arg(n).arg(w);
                    }
                }
            }
        }
        QVERIFY(texts > 500);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }
};

QTEST_MAIN(tst_spelling)
#include "tst_spelling.moc"
