#include "data/messages.h"

#include <QMap>
#include <QtDebug>
#include <cstdio>

void ConsoleMessages::show(const QString& title, const QString& text, Icon)
{
    std::fprintf(stderr, "[%s] %s\n", qPrintable(title), qPrintable(text));
}

bool ConsoleMessages::ask(const QString& title, const QString& text, Default)
{
    std::fprintf(stderr, "[%s] %s -> No\n", qPrintable(title), qPrintable(text));
    return false;
}

namespace {

void logBox(const QString& title, const QString& text, MessageService::Icon icon)
{
    // One line per box; its own lines stay apart.
    const QString line = QStringLiteral("mensaje «%1»: %2").arg(title, QString(text).replace(QLatin1Char('\n'), QStringLiteral(" | ")));
    if (icon == MessageService::Icon::Critical || icon == MessageService::Icon::Warning)
        qWarning("%s", qPrintable(line));
    else
        qInfo("%s", qPrintable(line));
}

} // namespace

void LoggedMessages::show(const QString& title, const QString& text, Icon icon)
{
    logBox(title, text, icon);
    m_inner.show(title, text, icon);
}

void LoggedMessages::showClearOf(const QString& title, const QString& text, Icon icon, const QRect& keep)
{
    logBox(title, text, icon);
    m_inner.showClearOf(title, text, icon, keep);
}

bool LoggedMessages::ask(const QString& title, const QString& text, Default defaultAnswer)
{
    return m_inner.ask(title, text, defaultAnswer);
}

void MessageService::showError(const QString& text, const QString& title)
{
    show(title, text, Icon::Critical);
}

bool MessageService::askYesNo(const QString& text, Default defaultAnswer)
{
    return ask(QStringLiteral("Atención"), text, defaultAnswer);
}

QString catalogueText(int number)
{
    static const QMap<int, QString> texts = {
        {101, QStringLiteral("No se pudo acceder a los datos")},
        {102, QStringLiteral("No se pudo abrir el puerto de comunicaciones")},
        {201, QStringLiteral("No se pudo acceder a los datos")},
        {202, QStringLiteral("No se pudo abrir el puerto de comunicaciones")},
        {203, QStringLiteral("No se pudo Guardar los datos")},
        {301, QStringLiteral("Debe elegir un panel válido")},
        {302, QStringLiteral("Debe elegir una provincia válida")},
        {303, QStringLiteral("Debe elegir un tipo de contacto 1 válido")},
        {304, QStringLiteral("El campo apellido es obligatorio")},
        {305, QStringLiteral("El campo nombre es obligatorio")},
        {306, QStringLiteral("El campo calle es obligatorio")},
        {307, QStringLiteral("El campo numero es obligatorio")},
        {308, QStringLiteral("El campo localidad es obligatorio")},
        {309, QStringLiteral("El campo id abonado es obligatorio")},
        {310, QStringLiteral("El campo Telefono 1 es obligatorio")},
        {312, QStringLiteral("El campo Configuracón es obligatorio")},
        {399, QStringLiteral("Se produjo un error al crear los valores del panel")},
        {501, QStringLiteral("El abonado no posee actualizada la configuración")},
        {502, QStringLiteral("Verifique los datos")},
        {601, QStringLiteral("El campo Usuario es obligatorio")},
        {602, QStringLiteral("El campo Contraseña es obligatorio")},
        {603, QStringLiteral("El campo Nivel es obligatorio")},
        {699, QStringLiteral("Se produjo un error inesperado")},
        {701, QStringLiteral("No se pudo copiar la configuración. Verifique los datos ingresados.")},
    };
    return texts.value(number);
}
