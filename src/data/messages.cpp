#include "data/messages.h"

#include <QMap>
#include <cstdio>

namespace {

// Without windows (tools, a test that forgot to install one) messages go to
// standard error and questions are answered No, the safe side.
class ConsoleMessages : public MessageService {
public:
    void show(const QString& title, const QString& text, Icon) override
    {
        std::fprintf(stderr, "[%s] %s\n", qPrintable(title), qPrintable(text));
    }
    bool ask(const QString& title, const QString& text, Default) override
    {
        std::fprintf(stderr, "[%s] %s -> No\n", qPrintable(title), qPrintable(text));
        return false;
    }
};

ConsoleMessages g_console;
MessageService* g_service = &g_console;

} // namespace

MessageService& MessageService::instance()
{
    return *g_service;
}

void MessageService::setInstance(MessageService* s)
{
    g_service = s ? s : &g_console;
}

void showError(const QString& text, const QString& title)
{
    MessageService::instance().show(title, text, MessageService::Icon::Critical);
}

bool askYesNo(const QString& text, MessageService::Default defaultAnswer)
{
    return MessageService::instance().ask(QStringLiteral("Atención"), text, defaultAnswer);
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
