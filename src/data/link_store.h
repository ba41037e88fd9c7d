#pragma once
// What the panel link reads and writes in the database: the IP settings,
// a subscriber's values for the memory image, the sections a transfer has
// moved, and the events downloaded. The link sees only this interface; the
// SQL lives in SqlLinkStore.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSqlDatabase>
#include <QString>
#include <optional>

namespace db {
class Error;
}

struct LinkIpSettings {
    int port = -1;      // -1 when the column does not hold a number
    QString allowed;    // ip_permitidas
    QString listen;     // ip_escucha, trimmed
};

// One subscriber value with its section's place in the panel's memory.
struct LinkValueRow {
    int posicion = 0;
    int tipo = 0;
    int len = 0;
    QString valor;  // trimmed
    int estado = 0;
    int seccion = 0;
    int item = 0;
};

// The values read for one section (item 0: one value for the whole section).
struct LinkSectionRead {
    int seccion = 0;
    QList<QPair<int, QString>> items;
};

struct LinkEventRow {
    qint32 abonado = 0;
    qint32 panel = 0;
    int evento = 0;
    int parametro = 0;
    QString fecha;  // empty: the database's current time
    int tipo = 0;
};

class LinkStore {
public:
    virtual ~LinkStore() = default;
    // The settings row's IP columns; nothing when it cannot be read.
    virtual std::optional<LinkIpSettings> ipSettings() = 0;
    // The subscriber's values by memory position and item; nothing when
    // they cannot be read.
    virtual std::optional<QList<LinkValueRow>> transferValues(qint32 abonado) = 0;
    // Clears the write marks of these sections, all or none, leaving in the
    // value history what the panel acknowledged.
    virtual bool sectionsWritten(qint32 abonado, const QList<int>& sections) = 0;
    // The same once a read-back has proven the sections: the history says
    // the panel holds every value of them.
    virtual bool sectionsVerified(qint32 abonado, const QList<int>& sections) = 0;
    // Stores the values read for these sections (each one once; those one
    // answer completed) and clears their marks, all or none; a value that
    // changes gets its history row.
    virtual bool storeSections(qint32 abonado, const QList<LinkSectionRead>& sections) = 0;
    bool storeSection(qint32 abonado, int seccion, const QList<QPair<int, QString>>& items)
    {
        return storeSections(abonado, {{seccion, items}});
    }
    // Stores event records (those of one or more answers) in order, all or none.
    virtual bool storeEvents(const QList<LinkEventRow>& rows) = 0;
    // The station's setting: uploads are read back (true when unreadable).
    virtual bool verifyUploads() = 0;
    // Marks these sections for upload again, all or none.
    virtual bool remarkForUpload(qint32 abonado, const QList<int>& sections) = 0;
    // The last panel memory known to be true (bytes, and 1 where a byte is
    // known); nothing when there is none or it cannot be read.
    virtual std::optional<QPair<QByteArray, QByteArray>> knownPanelImage(qint32 abonado) = 0;
    // Takes the bytes flagged 1 in `known` into that image.
    virtual bool rememberPanelBytes(qint32 abonado, const QByteArray& bytes, const QByteArray& known) = 0;
};

class SqlLinkStore : public LinkStore {
public:
    // `usuario`: the operator the history names for transfers; `error`, when
    // given, gets the text of the last write that failed.
    explicit SqlLinkStore(const QSqlDatabase& c = QSqlDatabase(), int usuario = 0, QString* error = nullptr)
        : m_c(c), m_usuario(usuario), m_error(error)
    {
    }
    std::optional<LinkIpSettings> ipSettings() override;
    std::optional<QList<LinkValueRow>> transferValues(qint32 abonado) override;
    bool sectionsWritten(qint32 abonado, const QList<int>& sections) override;
    bool sectionsVerified(qint32 abonado, const QList<int>& sections) override;
    bool storeSections(qint32 abonado, const QList<LinkSectionRead>& sections) override;
    bool storeEvents(const QList<LinkEventRow>& rows) override;
    bool verifyUploads() override;
    bool remarkForUpload(qint32 abonado, const QList<int>& sections) override;
    std::optional<QPair<QByteArray, QByteArray>> knownPanelImage(qint32 abonado) override;
    bool rememberPanelBytes(qint32 abonado, const QByteArray& bytes, const QByteArray& known) override;

private:
    bool failed(const db::Error& e);
    QSqlDatabase m_c;
    int m_usuario;
    QString* m_error;
};
