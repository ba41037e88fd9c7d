#pragma once
// The search context: which list the pick list shows, and for each list the
// display operation of the window that asked for it. A window registers its
// display operation for its mode when it is made; a pick for a mode that no
// live window registered is reported loudly, never dropped.
//
//   m_ctx.search.registerDisplay(SearchMode::panel_abonado, this,
//                                [this](int id) { showSubscriber(id); });
//   w_buscar::abrir(m_ctx, SearchMode::panel_abonado, this);

#include "data/search_store.h"

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class MessageService;

enum class SearchMode { abonado, panel_abonado, usuario, log_usuario, panel, configuracion, tarea_abonado };

// The mode's name as the station calls it ("abonado", "panel_abonado" ...).
QString searchModeText(SearchMode mode);
std::optional<SearchMode> searchModeFromText(const QString& text);

// What one mode lists and how.
struct SearchModeInfo {
    struct Column {
        QString name;    // column of the list
        QString caption; // grid heading
        int width;       // twips; 0 hides the column
        int maxWidth = 0; // above `width`: the column widens to its longest text, up to this
    };
    searchlists::List list;    // the rows by number; column 0 is the number handed back
    // The rows are shown ordered by these columns as Spanish text (rows
    // alike in them keep the order of their numbers); the store's own text
    // order would put accented capitals after Z.
    QList<Column> columns;     // in the list's order
    QStringList filterColumns; // the typed text must be contained in one of these
    QStringList orderColumns;
    int width, height;         // window size in twips
};
const SearchModeInfo& searchModeInfo(SearchMode mode);

class SearchContext : public QObject {
    Q_OBJECT
public:
    using Display = std::function<void(int id)>;

    // A pick nobody receives is told to the user through `messages`.
    explicit SearchContext(MessageService& messages) : m_messages(messages) {}

    // The list the next pick list shows; the caller sets it right before
    // opening the list (w_buscar::abrir does both).
    void setMode(SearchMode mode) { m_mode = mode; }
    std::optional<SearchMode> mode() const { return m_mode; }

    // `owner`'s display operation for `mode`. The registration lasts as long
    // as the owner; a newer owner replaces an older one.
    void registerDisplay(SearchMode mode, QObject* owner, Display display);
    bool isRegistered(SearchMode mode) const;

    // Hands a picked number to the display operation of `mode`. With none
    // registered it logs a critical message, tells the user and returns false.
    bool dispatch(SearchMode mode, int id);

private:
    MessageService& m_messages;
    struct Entry {
        QPointer<QObject> owner;
        Display display;
    };
    QMap<SearchMode, Entry> m_entries;
    std::optional<SearchMode> m_mode;
};
