// Memory map transfer and event log download: the scheduler and the decoder
// of mdl_trans call these. The subscriber's values become a memory image with
// one transfer mark per address; runs of up to 16 marked addresses go to or
// come from the panel, and each answer is stored in one transaction while
// the ticks are held (no turn may start in the middle of it).

#include "link/mdl_trans.h"

#include "app/mdl_main.h"
#include "data/db.h"
#include "data/messages.h"
#include "link/linkconsole.h"

#include <QDate>
#include <QTime>
#include <cmath>

namespace {

const QString& unexpectedError()
{
    static const QString t = QStringLiteral("Se produjo un error inesperado");
    return t;
}

// Value of a hexadecimal text of 1-2 digits, or -1.
int hexByte(QStringView t)
{
    if (t.isEmpty() || t.size() > 2)
        return -1;
    int v = 0;
    for (const QChar c : t) {
        const char16_t u = c.unicode();
        const int d = u >= '0' && u <= '9' ? u - '0'
                      : u >= 'A' && u <= 'F' ? u - 'A' + 10
                      : u >= 'a' && u <= 'f' ? u - 'a' + 10
                                             : -1;
        if (d < 0)
            return -1;
        v = v * 16 + d;
    }
    return v;
}

// A decimal byte as the editor stores it: the digits, then possibly a run of
// one fill character. -1 when it is not one.
int decimalByte(const QString& t)
{
    qsizetype n = 0;
    while (n < t.size() && t.at(n) >= u'0' && t.at(n) <= u'9')
        ++n;
    if (n == 0 || n > 3)
        return -1;
    for (qsizetype i = n + 1; i < t.size(); ++i)
        if (t.at(i) != t.at(n))
            return -1;
    const int v = t.left(n).toInt();
    return v <= 255 ? v : -1;
}

struct BadValue {};

} // namespace

// ---------------------------------------------------------------------------
// Loading

bool mdl_trans::f_cargatransferencia(qint32 id_abonado)
{
    currentSubscriber = id_abonado;
    progressTotal = 0;
    progressPercent = 0;
    sectionsDone = 0;
    m_view.pb_progreso = 0;
    memoryImage.fill(0);
    transferMarks.fill(0);
    addressType.fill(0);
    addressSection.fill(NoSection);

    int lastCounted = NoSection;
    const auto count = [&](int section, int estado) {
        if (section != lastCounted && ((estado == 1 && writePending) || (estado == -1 && readPending))) {
            progressTotal += 1;
            lastCounted = section;
        }
    };
    const auto place = [&](int a, int value, int estado, int section, int type) {
        if (a < 0 || a >= MemorySize || value < 0)
            throw BadValue{};
        memoryImage[size_t(a)] = qint16(value);
        transferMarks[size_t(a)] = qint16(estado);
        addressSection[size_t(a)] = qint16(section);
        addressType[size_t(a)] = qint16(type);
    };

    try {
        QSqlQuery q = db::exec(mdl_main::instance().db(),
                               QStringLiteral("SELECT s.posicion, s.tipo, s.long, av.valor, av.id_estado, av.id_seccion, "
                                              "av.id_item FROM abonados a, secciones s, abonados_valores av "
                                              "WHERE a.id_panel = s.id_panel AND av.id_seccion = s.id_seccion "
                                              "AND a.id_abonado = av.id_abonado AND a.id_abonado = ? "
                                              "ORDER BY s.posicion, av.id_item"),
                               {id_abonado});
        int groupPos = -1;
        while (q.next()) {
            const int pos = q.value(0).toInt();
            const int tipo = q.value(1).toInt();
            const int len = q.value(2).toInt();
            const QString valor = q.value(3).toString().trimmed();
            const int estado = q.value(4).toInt();
            const int section = q.value(5).toInt();
            const int item = q.value(6).toInt();
            const bool first = pos != groupPos;
            groupPos = pos;
            switch (tipo) {
            case 1:
                if (pos < 0 || pos >= MemorySize || item < 1 || item > 8)
                    throw BadValue{};
                if (first) {
                    place(pos, 0, estado, section, 1);
                    count(section, estado);
                }
                if (valor == QLatin1String("1"))
                    memoryImage[size_t(pos)] = qint16(memoryImage[size_t(pos)] | (1 << (item - 1)));
                break;
            case 2:
            case 3:
                place(pos + item - 1, tipo == 2 ? hexByte(valor) : decimalByte(valor), estado, section, tipo);
                count(section, estado);
                break;
            case 4:
            case 5:
                for (int k = 1; k <= len; k += 2) {
                    const QStringView digits = QStringView(valor).mid(k - 1).left(2);
                    // Digits missing at the end of a short text count as zero.
                    place(pos + (k - 1) / 2, digits.isEmpty() ? 0 : hexByte(digits), estado, section, 4);
                }
                count(section, estado);
                break;
            default:
                throw BadValue{};
            }
        }
    } catch (const BadValue&) {
        return loadFailed();
    } catch (const db::Error&) {
        return loadFailed();
    }
    return true;
}

bool mdl_trans::loadFailed()
{
    // A half-built image must not be moved: the marks and the pending flags
    // go, and the operator sees why nothing happens.
    transferMarks.fill(0);
    writePending = false;
    readPending = false;
    progressTotal = 0;
    MessageService::instance().show(QStringLiteral("error"), unexpectedError(), MessageService::Icon::Critical);
    return false;
}

// ---------------------------------------------------------------------------
// Runs

void mdl_trans::nextRun(int mark)
{
    waitCountdown = 500;
    int a = 0;
    while (a < MemorySize && transferMarks[size_t(a)] != mark)
        ++a;
    // Address 5000 is never sent.
    if (a >= MemorySize - 1) {
        (mark == 1 ? writePending : readPending) = false;
        waitCountdown = 1;
        // The bar clears itself at the end; the status line keeps the summary.
        setOutcome(QStringLiteral("%1: %2").arg(mark == 1 ? QStringLiteral("Subida terminada")
                                                          : QStringLiteral("Bajada terminada"),
                                                counted(sectionsDone, "sección", "secciones")));
        return;
    }
    runStart = a;
    int end = a + 1;
    while (end < MemorySize - 1 && end - a < 16 && transferMarks[size_t(end)] == mark)
        ++end;
    runEnd = end;
    if (mark == 1) {
        QList<int> bytes;
        bytes.reserve(end - a);
        for (int i = a; i < end; ++i)
            bytes << memoryImage[size_t(i)];
        f_escribememoria(runStart, bytes);
    } else {
        f_pidememoria(runStart, runEnd - runStart);
    }
}

void mdl_trans::f_siguienteescritura()
{
    nextRun(1);
}

void mdl_trans::f_siguientelectura()
{
    nextRun(-1);
}

// ---------------------------------------------------------------------------
// Answers

void mdl_trans::f_confirmaescritura(int count)
{
    Q_UNUSED(count);
    if (runEnd <= runStart)
        return;
    ticksSuspended = true;
    const double percentBefore = progressPercent;
    try {
        db::Transaction t(mdl_main::instance().db());
        int prev = addressSection[size_t(runStart)];
        int steps = 0;
        for (int a = runStart; a <= runEnd; ++a) {
            const int s = a < MemorySize ? addressSection[size_t(a)] : NoSection;
            if (s != prev) {
                // The section before this address has been written completely.
                if (prev != NoSection) {
                    db::exec(mdl_main::instance().db(),
                             QStringLiteral("UPDATE abonados_valores SET id_estado = 0 "
                                            "WHERE id_abonado = ? AND id_seccion = ?"),
                             {currentSubscriber, prev});
                    ++steps;
                }
                prev = s;
            }
        }
        t.commit();
        for (int i = 0; i < steps; ++i)
            progressStep();
        for (int a = runStart; a < runEnd; ++a)
            transferMarks[size_t(a)] = 0;
        // The run is done: a second acknowledgement of it changes nothing.
        runEnd = runStart;
    } catch (const db::Error&) {
        progressPercent = percentBefore;
        unexpectedErrorInAnswer();
    }
    ticksSuspended = false;
}

void mdl_trans::f_recibememoria(int count)
{
    Q_UNUSED(count);
    // f_decodifica has checked that the answer holds the whole run.
    if (runEnd <= runStart)
        return;
    ticksSuspended = true;
    for (int k = 0; k < runEnd - runStart; ++k) {
        memoryImage[size_t(runStart + k)] = qint16(rxFrame[size_t(1 + k)]);
        transferMarks[size_t(runStart + k)] = 0;
    }
    // A section that cannot be stored keeps its marks in the database; the
    // others go on. One message for the answer, however many sections failed.
    bool failed = false;
    int prev = addressSection[size_t(runStart)];
    for (int a = runStart; a <= runEnd; ++a) {
        const int s = a < MemorySize ? addressSection[size_t(a)] : NoSection;
        if (s != prev) {
            if (prev != NoSection && !f_guardaseccion(prev))
                failed = true;
            prev = s;
        }
    }
    runEnd = runStart;
    if (failed)
        unexpectedErrorInAnswer();
    ticksSuspended = false;
}

void mdl_trans::unexpectedErrorInAnswer()
{
    m_messages.append({QStringLiteral("Error"), unexpectedError(), MessageService::Icon::Critical});
    emit messageQueued();
}

bool mdl_trans::f_guardaseccion(int id_seccion)
{
    int p = 0;
    while (p < MemorySize && addressSection[size_t(p)] != id_seccion)
        ++p;
    if (p >= MemorySize)
        return true;
    const QSqlDatabase& c = mdl_main::instance().db();
    const auto update = [&](const QString& valor, int item) {
        if (item > 0)
            db::exec(c,
                     QStringLiteral("UPDATE abonados_valores SET id_estado = 0, valor = ? "
                                    "WHERE id_abonado = ? AND id_seccion = ? AND id_item = ?"),
                     {valor, currentSubscriber, id_seccion, item});
        else
            db::exec(c,
                     QStringLiteral("UPDATE abonados_valores SET id_estado = 0, valor = ? "
                                    "WHERE id_abonado = ? AND id_seccion = ?"),
                     {valor, currentSubscriber, id_seccion});
    };
    try {
        db::Transaction t(c);
        const int type = addressType[size_t(p)];
        switch (type) {
        case 1:
            for (int n = 1; n <= 8; ++n)
                update((memoryImage[size_t(p)] >> (n - 1)) & 1 ? QStringLiteral("1") : QStringLiteral("0"), n);
            break;
        case 2:
        case 3:
            for (int k = 0; p + k < MemorySize && addressSection[size_t(p + k)] == id_seccion; ++k) {
                const int b = memoryImage[size_t(p + k)];
                update(type == 2 ? QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper()
                                 : QStringLiteral("%1").arg(b, 3, 10, QLatin1Char('0')),
                       k + 1);
            }
            break;
        case 4: {
            QString v;
            for (int a = p; a < MemorySize && addressSection[size_t(a)] == id_seccion; ++a)
                v += QStringLiteral("%1").arg(int(memoryImage[size_t(a)]), 2, 16, QLatin1Char('0')).toUpper();
            update(v, 0);
            break;
        }
        default:
            break;
        }
        t.commit();
        progressStep();
    } catch (const db::Error&) {
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Progress

void mdl_trans::progressStep()
{
    ++sectionsDone;
    if (progressTotal <= 0)
        return;
    progressPercent += 100.0 / progressTotal;
    // A finished transfer clears the bar.
    if (progressPercent >= 99.99)
        progressPercent = 0;
    showProgress();
}

void mdl_trans::showProgress()
{
    const int rounded = int(std::lround(progressPercent));
    m_view.pb_progreso = rounded;
    m_view.items[QStringLiteral("st_progreso")].caption =
        progressPercent <= 0 ? QString() : QStringLiteral("%1%").arg(rounded, 2, 10, QLatin1Char('0'));
    changed();
}

// ---------------------------------------------------------------------------
// Event log

void mdl_trans::storeEvent(int eventByte, int parametro, const QString& fecha)
{
    const QSqlDatabase& c = mdl_main::instance().db();
    const qint32 abonado = m_console ? m_console->il_abonado : 0;
    const qint32 panel = m_console ? m_console->il_panel : 0;
    const int kind = eventByte >= 128 ? 1 : 0;
    // One transaction per record: a record that fails is left out silently.
    try {
        db::Transaction t(c);
        if (fecha.isEmpty())
            db::exec(c,
                     QStringLiteral("INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, id_tipo) "
                                    "VALUES (?, ?, ?, ?, ?)"),
                     {abonado, panel, eventByte & 127, parametro, kind});
        else
            db::exec(c,
                     QStringLiteral("INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, fecha, "
                                    "id_tipo) VALUES (?, ?, ?, ?, ?, ?)"),
                     {abonado, panel, eventByte & 127, parametro, fecha, kind});
        t.commit();
        ++eventsStored;
    } catch (const db::Error&) {
    }
}

void mdl_trans::eventsDone()
{
    eventsPending = false;
    setOutcome(QStringLiteral("Descarga de eventos terminada: %1").arg(counted(eventsStored, "evento", "eventos")));
    eventsStored = 0;
}

void mdl_trans::f_guardaeventos(int count)
{
    if (count < 3) {
        eventsDone();
        return;
    }
    for (int k = 0; k < (count - 1) / 2; ++k)
        storeEvent(rxFrame[size_t(2 * k + 1)], rxFrame[size_t(2 * k + 2)], QString());
}

QString mdl_trans::eventDate(quint32 t)
{
    const int minute = int((t >> 5) & 63);
    const int hour = int((t >> 11) & 31);
    const int day = int((t >> 16) & 31);
    const int month = int((t >> 21) & 15);
    // Unsigned: years 2064-2127 (top bit set) come out as such.
    const int year = 2000 + int((t >> 25) & 127);
    const QDate date(year, month, day);
    if (!date.isValid() || hour > 23 || minute > 59)
        return QString();
    // Not through a local date-time: a daylight-saving gap must not lose it.
    return date.toString(QStringLiteral("yyyy-MM-dd ")) + QTime(hour, minute).toString(QStringLiteral("HH:mm:ss"));
}

void mdl_trans::f_guardaeventosfecha(int count)
{
    if (count < 7) {
        eventsDone();
        return;
    }
    for (int k = 0; k < (count - 1) / 6; ++k) {
        const size_t b = size_t(6 * k + 1);
        const int e = rxFrame[b];
        const int p = rxFrame[b + 1];
        const quint32 t = quint32(rxFrame[b + 2]) | quint32(rxFrame[b + 3]) << 8 | quint32(rxFrame[b + 4]) << 16 |
                          quint32(rxFrame[b + 5]) << 24;
        const int parametro = int((t & 12) >> 2) * 1000 + int(t & 3) * 256 + p;
        storeEvent(e, parametro, eventDate(t));
    }
}
