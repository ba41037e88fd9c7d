// sorvent-panelsim: a Hayes modem on a pseudo-terminal, an IP communicator
// on UDP and an alarm panel behind both, for demonstrations, training and
// trying the station without hardware. See the "Simulador" section of the
// README.

#include "communicator.h"
#include "keypadinterface.h"
#include "modem.h"
#include "panel.h"
#include "panel_bank.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTextStream>

#include <unistd.h>
#include <utility>

using namespace panelsim;

namespace {

QTextStream& out()
{
    static QTextStream s(stdout);
    return s;
}

bool numberList(const QString& text, int max, QJsonArray& list)
{
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int n = part.trimmed().toInt(&ok);
        if (!ok || n < 1 || n > max)
            return false;
        list.append(n);
    }
    return true;
}

const char* requestName(int code)
{
    switch (code) {
    case 0: return "leer memoria";
    case 1: return "escribir memoria";
    case 2: return "estado";
    case 3: return "activar";
    case 4: return "desactivar";
    case 5: return "fin de comunicación";
    case 6: case 13: return "eventos";
    case 7: return "exclusión de zonas";
    case 8: return "poner en hora";
    case 9: return "salidas PGM";
    case 10: return "leer reloj";
    case 11: return "pánico";
    case 12: return "fallas";
    case 15: return "partición";
    default: return "?";
    }
}

const char* const Orders = "zona N abierta|cerrada, falla N si|no, memoria N si|no, acuse-tardio N, "
                           "sin-guardar N [DIR], cambiar DIR VALOR, json {...}, estado, ip, llamar, "
                           "colgar, salir";

// Dial outcomes of --dial-result and the modem's result code for each.
const std::pair<const char*, const char*> DialResults[] = {
    {"busy", "BUSY"}, {"no-dialtone", "NO DIALTONE"}, {"no-answer", "NO ANSWER"},
    {"no-carrier", "NO CARRIER"}, {"error", "ERROR"},
};

// A fault order: its JSON keys, or what was wrong with them.
void faultOrder(Panel& panel, const QJsonObject& keys)
{
    QString error;
    if (!panel.fromJson(keys, &error))
        out() << error << Qt::endl;
}

// One command line typed on the standard input.
void runCommand(const QString& line, Panel& panel, Modem& modem, Communicator& ip)
{
    const QStringList w = line.simplified().split(QLatin1Char(' '));
    const QString cmd = w.value(0).toLower();
    auto setBit = [&](const char* key, int max, const QStringList& on) {
        bool ok = false;
        const int n = w.value(1).toInt(&ok);
        if (!ok || n < 1 || n > max || w.size() < 3) {
            out() << "uso: " << cmd << " N " << on.join(QLatin1Char('|')) << "|no" << Qt::endl;
            return;
        }
        QJsonArray list = panel.toJson().value(QLatin1String(key)).toArray();
        QJsonArray next;
        for (const QJsonValue& v : list)
            if (v.toInt() != n)
                next.append(v);
        if (on.contains(w.value(2).toLower()))
            next.append(n);
        panel.fromJson(QJsonObject{{QLatin1String(key), next}});
    };
    if (cmd == QLatin1String("zona")) {
        setBit("zonesOpen", 16, {QStringLiteral("abierta"), QStringLiteral("si")});
    } else if (cmd == QLatin1String("falla")) {
        setBit("faults", 8, {QStringLiteral("si")});
    } else if (cmd == QLatin1String("memoria")) {
        setBit("alarmMemory", 16, {QStringLiteral("si")});
    } else if (cmd == QLatin1String("acuse-tardio")) {
        faultOrder(panel, QJsonObject{{QStringLiteral("lateAcks"), w.value(1).toInt()}});
    } else if (cmd == QLatin1String("sin-guardar")) {
        faultOrder(panel, QJsonObject{{QStringLiteral("unstoredWrites"), w.value(1).toInt()},
                                      {QStringLiteral("unstoredAddress"), w.size() > 2 ? w.value(2).toInt() : -1}});
    } else if (cmd == QLatin1String("cambiar")) {
        QJsonArray changes = panel.toJson().value(QStringLiteral("nextSessionChanges")).toArray();
        changes.append(QJsonArray{w.value(1).toInt(), w.value(2).toInt()});
        faultOrder(panel, QJsonObject{{QStringLiteral("nextSessionChanges"), changes}});
    } else if (cmd == QLatin1String("json")) {
        const QJsonDocument d = QJsonDocument::fromJson(line.section(QLatin1Char(' '), 1).toUtf8());
        QString error;
        if (!d.isObject() || !panel.fromJson(d.object(), &error))
            out() << "JSON inválido " << error << Qt::endl;
    } else if (cmd == QLatin1String("estado")) {
        out() << QJsonDocument(panel.toJson()).toJson(QJsonDocument::Indented) << Qt::flush;
    } else if (cmd == QLatin1String("ip")) {
        ip.callStation();
    } else if (cmd == QLatin1String("llamar")) {
        modem.callStation();
    } else if (cmd == QLatin1String("colgar")) {
        if (!modem.dropLine())
            out() << "no hay ninguna llamada en curso" << Qt::endl;
    } else if (cmd == QLatin1String("salir")) {
        QCoreApplication::quit();
    } else if (!cmd.isEmpty()) {
        out() << "órdenes: " << Orders << Qt::endl;
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sorvent-panelsim"));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("Simulador de módem, panel de alarma y comunicador IP para Quendal Sorvent."));
    p.addHelpOption();
    const QCommandLineOption dir(QStringLiteral("dir"), QStringLiteral("Crea DIR/COMn apuntando a la línea del módem."), QStringLiteral("DIR"));
    const QCommandLineOption com(QStringLiteral("com"), QStringLiteral("Número n del enlace COMn (1)."), QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption udpPort(QStringLiteral("udp-port"), QStringLiteral("Puerto UDP propio del comunicador (0: uno libre)."), QStringLiteral("P"), QStringLiteral("0"));
    const QCommandLineOption stationHost(QStringLiteral("station-host"), QStringLiteral("Dirección de la estación (127.0.0.1)."), QStringLiteral("H"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption stationPort(QStringLiteral("station-port"), QStringLiteral("Puerto IP de la estación, ip_port (5000)."), QStringLiteral("P"), QStringLiteral("5000"));
    const QCommandLineOption ipCall(QStringLiteral("ip-call"), QStringLiteral("Llama a la estación por IP al arrancar, cada 5 s hasta que conteste."));
    const QCommandLineOption accessCode(QStringLiteral("access-code"), QStringLiteral("Código de acceso del panel (1234)."), QStringLiteral("C"));
    const QCommandLineOption panelCode(QStringLiteral("panel-code"), QStringLiteral("Código de protocolo del modelo, cadena (1)."), QStringLiteral("N"));
    const QCommandLineOption zones(QStringLiteral("zones"), QStringLiteral("Zonas abiertas, p. ej. 1,5,16."), QStringLiteral("LISTA"));
    const QCommandLineOption faults(QStringLiteral("faults"), QStringLiteral("Fallas presentes (1-8)."), QStringLiteral("LISTA"));
    const QCommandLineOption memory(QStringLiteral("memory"), QStringLiteral("Zonas con alarma en memoria."), QStringLiteral("LISTA"));
    const QCommandLineOption noCallBack(QStringLiteral("no-call-back"), QStringLiteral("El panel nunca devuelve la llamada."));
    const QCommandLineOption noAnswer(QStringLiteral("no-answer"), QStringLiteral("El módem no consigue comunicar (NO CARRIER)."));
    const QCommandLineOption dialResult(QStringLiteral("dial-result"), QStringLiteral("Toda llamada termina así: busy, no-dialtone, no-answer, no-carrier o error."), QStringLiteral("R"));
    const QCommandLineOption connectText(QStringLiteral("connect-text"), QStringLiteral("Línea con que el módem comunica (CONNECT 2400)."), QStringLiteral("TEXTO"), QStringLiteral("CONNECT 2400"));
    const QCommandLineOption doubleCall(QStringLiteral("double-call"), QStringLiteral("Sólo contesta una llamada que sigue a otra abandonada (doble llamada)."));
    const QCommandLineOption dialDelay(QStringLiteral("dial-delay"), QStringLiteral("Milisegundos de ATDT a CONNECT (1500)."), QStringLiteral("MS"), QStringLiteral("1500"));
    const QCommandLineOption callBackDelay(QStringLiteral("call-back-delay"), QStringLiteral("Milisegundos hasta devolver la llamada (2000)."), QStringLiteral("MS"), QStringLiteral("2000"));
    const QCommandLineOption stateIn(QStringLiteral("state"), QStringLiteral("Estado inicial del panel (JSON)."), QStringLiteral("ARCHIVO"));
    const QCommandLineOption stateOut(QStringLiteral("state-out"), QStringLiteral("Escribe el estado y las peticiones recibidas tras cada cambio (JSON)."), QStringLiteral("ARCHIVO"));
    const QCommandLineOption keypad(QStringLiteral("teclado"), QStringLiteral("DIR/COMn apunta a la interfaz de teclado (modo Interface) en vez del módem."));
    const QCommandLineOption panels(QStringLiteral("paneles"),
                                    QStringLiteral("Un panel por abonado: carpeta de estados NÚMERO.json, o un archivo JSON "
                                                   "{\"NÚMERO\": estado, ...}; cada llamada la contesta el panel del número "
                                                   "marcado (\"busyCalls\": N da BUSY a las N primeras)."),
                                    QStringLiteral("RUTA"));
    const QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("Sin mensajes."));
    p.addOptions({dir, com, udpPort, stationHost, stationPort, ipCall, accessCode, panelCode, zones, faults, memory,
                  noCallBack, noAnswer, dialResult, connectText, doubleCall, dialDelay, callBackDelay, stateIn, stateOut, keypad, panels, quiet});
    p.process(app);
    QTextStream err(stderr);
    auto fail = [&err](const QString& text) {
        err << "sorvent-panelsim: " << text << Qt::endl;
        return 2;
    };

    Panel panel;
    Modem modem(&panel);
    Communicator ip(&panel);
    PanelBank bank;
    // The panel the orders typed on the standard input act on: in
    // many-panel mode the one the modem reached last.
    Panel* current = &panel;

    QJsonObject initial;
    if (p.isSet(stateIn)) {
        QFile f(p.value(stateIn));
        if (!f.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("no se pudo leer %1").arg(f.fileName()));
        const QJsonDocument d = QJsonDocument::fromJson(f.readAll());
        if (!d.isObject())
            return fail(QStringLiteral("%1 no es un objeto JSON").arg(f.fileName()));
        initial = d.object();
    }
    if (p.isSet(accessCode))
        initial[QStringLiteral("accessCode")] = p.value(accessCode);
    if (p.isSet(panelCode))
        initial[QStringLiteral("panelCode")] = p.value(panelCode).toInt();
    if (p.isSet(noCallBack))
        initial[QStringLiteral("callBack")] = false;
    const std::pair<const QCommandLineOption*, const char*> lists[] = {
        {&zones, "zonesOpen"}, {&faults, "faults"}, {&memory, "alarmMemory"}};
    for (const auto& [opt, key] : lists) {
        if (!p.isSet(*opt))
            continue;
        QJsonArray l;
        if (!numberList(p.value(*opt), key == QLatin1String("faults") ? 8 : 16, l))
            return fail(QStringLiteral("lista inválida: %1").arg(p.value(*opt)));
        initial[QLatin1String(key)] = l;
    }
    QString error;
    if (!panel.fromJson(initial, &error))
        return fail(error);

    if (p.isSet(panels)) {
        if (!bank.load(p.value(panels), &error))
            return fail(error);
        if (bank.numbers().isEmpty())
            return fail(QStringLiteral("no hay paneles en %1").arg(p.value(panels)));
        modem.route = [&bank, &ip, &current](const QString& number, QByteArray* result) {
            Panel* reached = bank.route(number, result);
            if (reached) {
                // A call-back over IP comes from the panel just reached.
                ip.usePanel(reached);
                current = reached;
            }
            return reached;
        };
    }
    modem.options.dialDelayMs = p.value(dialDelay).toInt();
    modem.options.callBackDelayMs = p.value(callBackDelay).toInt();
    if (p.isSet(noAnswer))
        modem.options.dialResult = "NO CARRIER";
    if (p.isSet(dialResult)) {
        for (const auto& [name, code] : DialResults)
            if (p.value(dialResult) == QLatin1String(name))
                modem.options.dialResult = code;
        if (modem.options.dialResult.isEmpty())
            return fail(QStringLiteral("resultado de llamada inválido: %1").arg(p.value(dialResult)));
    }
    modem.options.connectText = p.value(connectText).toLatin1();
    if (!modem.options.connectText.startsWith("CONNECT"))
        return fail(QStringLiteral("la línea de conexión debe empezar por CONNECT: %1").arg(p.value(connectText)));
    modem.options.requireDoubleCall = p.isSet(doubleCall);
    if (!modem.open(&error))
        return fail(error);
    KeypadInterface keypadIf(&panel);
    if (p.isSet(keypad) && !keypadIf.open(&error))
        return fail(error);
    if (p.isSet(dir)) {
        const bool linked = p.isSet(keypad) ? keypadIf.linkAs(p.value(dir), p.value(com).toInt(), &error)
                                            : modem.linkAs(p.value(dir), p.value(com).toInt(), &error);
        if (!linked)
            return fail(error);
    }

    ip.options.bindAddress = QHostAddress(QHostAddress::Any);
    ip.options.port = quint16(p.value(udpPort).toUInt());
    ip.options.stationHost = QHostAddress(p.value(stationHost));
    ip.options.stationPort = quint16(p.value(stationPort).toUInt());
    ip.options.callBackDelayMs = modem.options.callBackDelayMs;
    if (ip.options.stationHost.isNull())
        return fail(QStringLiteral("dirección inválida: %1").arg(p.value(stationHost)));
    if (!ip.open(&error))
        return fail(error);

    const bool talk = !p.isSet(quiet);
    if (talk) {
        const QString linked = p.isSet(dir) ? QStringLiteral(" (%1/COM%2)").arg(p.value(dir), p.value(com)) : QString();
        if (p.isSet(panels))
            out() << "Paneles: " << bank.numbers().join(QStringLiteral(", ")) << "\n";
        if (p.isSet(keypad))
            out() << "Interfaz de teclado en " << keypadIf.slavePath() << linked << "\nMódem en " << modem.slavePath();
        else
            out() << "Módem en " << modem.slavePath() << linked;
        out() << "\nComunicador IP en el puerto UDP " << ip.localPort() << ", estación en " << p.value(stationHost)
              << ":" << ip.options.stationPort << "\nÓrdenes: " << Orders << Qt::endl;
    }

    const QString outFile = p.value(stateOut);
    qsizetype logged = 0;
    auto onChange = [&] {
        if (talk && !p.isSet(panels)) {
            for (; logged < panel.received.size(); ++logged) {
                const Request& r = panel.received.at(logged);
                out() << "Panel: " << requestName(r.code) << (r.via == Via::Ip ? " (IP)" : " (módem)") << Qt::endl;
            }
        }
        if (!outFile.isEmpty()) {
            QSaveFile f(outFile);
            if (f.open(QIODevice::WriteOnly)) {
                f.write(QJsonDocument(p.isSet(panels) ? bank.toJson() : panel.toJson()).toJson());
                f.commit();
            }
        }
    };
    QObject::connect(&panel, &Panel::changed, &app, onChange);
    QObject::connect(&bank, &PanelBank::changed, &app, onChange);
    onChange();
    if (talk) {
        QObject::connect(&modem, &Modem::online, &app, [&modem, &p, &panels] {
            out() << "Módem: " << modem.options.connectText;
            if (p.isSet(panels))
                out() << " (" << modem.dialled.value(modem.dialled.size() - 1) << ")";
            out() << Qt::endl;
        });
        QObject::connect(&modem, &Modem::offline, &app, [] { out() << "Módem: colgado" << Qt::endl; });
    }

    if (p.isSet(ipCall)) {
        ip.options.callRepeatMs = 5000;
        ip.callStation();
    }

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QTextStream in(stdin);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        QString line;
        if (!in.readLineInto(&line)) {
            // End of input (a pipe closed, or no terminal): keep serving.
            input.setEnabled(false);
            return;
        }
        runCommand(line, *current, modem, ip);
    });
    return app.exec();
}
