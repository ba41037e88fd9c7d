#include "records/search_context.h"

#include "data/messages.h"

#include <QtDebug>

namespace {

struct ModeName {
    SearchMode mode;
    const char* text;
};

const ModeName kNames[] = {
    {SearchMode::abonado, "abonado"}, {SearchMode::panel_abonado, "panel_abonado"},
    {SearchMode::usuario, "usuario"}, {SearchMode::log_usuario, "log_usuario"},
    {SearchMode::panel, "panel"},     {SearchMode::configuracion, "configuracion"},
    {SearchMode::tarea_abonado, "tarea_abonado"},
};

const SearchModeInfo& subscribers()
{
    static const SearchModeInfo info{
        searchlists::List::Subscribers,
        {{"id_abonado", "", 0},
         {"codigo", "ID", 700, 2000},
         {"apellido", "APELLIDO", 1500, 3000},
         {"nombre", "NOMBRE", 2000},
         {"calle", "CALLE", 2000},
         {"numero", "NUMERO", 900},
         {"localidad", "LOCALIDAD", 1500}},
        {"apellido", "nombre", "calle", "codigo"},
        {"apellido"},
        9600,
        6000};
    return info;
}

const SearchModeInfo& users()
{
    static const SearchModeInfo info{
        searchlists::List::Users,
        {{"id_usuario", "ID", 700}, {"usuario", "USUARIO", 3300}},
        {"usuario"},
        {"usuario"},
        5000,
        4000};
    return info;
}

const SearchModeInfo& panels()
{
    static const SearchModeInfo info{
        searchlists::List::Panels,
        {{"id_panel", "ID", 700}, {"codigo", "CODIGO", 1700}, {"version", "VERSION", 1600}},
        {"codigo"},
        {"codigo", "version"},
        5000,
        4000};
    return info;
}

const SearchModeInfo& templates()
{
    static const SearchModeInfo info{
        searchlists::List::Templates,
        {{"id_configuracion", "ID", 700}, {"descripcion", "CONFIGURACION", 3300}},
        {"descripcion"},
        {"descripcion"},
        5000,
        4000};
    return info;
}

} // namespace

QString searchModeText(SearchMode mode)
{
    for (const ModeName& n : kNames)
        if (n.mode == mode)
            return QString::fromLatin1(n.text);
    return QString();
}

std::optional<SearchMode> searchModeFromText(const QString& text)
{
    for (const ModeName& n : kNames)
        if (text == QLatin1String(n.text))
            return n.mode;
    return std::nullopt;
}

const SearchModeInfo& searchModeInfo(SearchMode mode)
{
    switch (mode) {
    case SearchMode::abonado:
    case SearchMode::panel_abonado:
    case SearchMode::tarea_abonado:
        return subscribers();
    case SearchMode::usuario:
    case SearchMode::log_usuario:
        return users();
    case SearchMode::panel:
        return panels();
    case SearchMode::configuracion:
        return templates();
    }
    qFatal("searchModeInfo: modo de búsqueda desconocido %d", int(mode));
}

void SearchContext::registerDisplay(SearchMode mode, QObject* owner, Display display)
{
    Q_ASSERT(owner && display);
    const auto it = m_entries.constFind(mode);
    if (it != m_entries.constEnd() && it->owner && it->owner != owner)
        qWarning("Búsqueda \"%s\": %s reemplaza a %s", qPrintable(searchModeText(mode)),
                 qPrintable(owner->objectName()), qPrintable(it->owner->objectName()));
    m_entries.insert(mode, Entry{owner, std::move(display)});
}

bool SearchContext::isRegistered(SearchMode mode) const
{
    const auto it = m_entries.constFind(mode);
    return it != m_entries.constEnd() && it->owner && it->display;
}

bool SearchContext::dispatch(SearchMode mode, int id)
{
    if (!isRegistered(mode)) {
        // A pick nobody receives is a wiring fault of the station, not the
        // user's: say so instead of closing the list as if it had worked.
        qCritical("Búsqueda \"%s\": ninguna ventana recibe la selección %d", qPrintable(searchModeText(mode)), id);
        m_messages.showError(QStringLiteral("Ninguna ventana puede mostrar la selección (búsqueda \"%1\").")
                      .arg(searchModeText(mode)));
        return false;
    }
    // Copy first: the display operation may register again or close its window.
    const Display display = m_entries.value(mode).display;
    display(id);
    return true;
}
