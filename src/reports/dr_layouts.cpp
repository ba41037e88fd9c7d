#include "reports/dr_layouts.h"

#include "data/db.h"

namespace reports {

namespace {

constexpr qreal ColumnGap = 57; // keeps a clipped text off the next column

qreal span(qreal x, qreal next)
{
    return next - x - ColumnGap;
}

// The subscriber's number with its code beside it, as the operator knows it.
QString numberAndCode(int id, const QString& codigo)
{
    return codigo.isEmpty() ? QString::number(id) : QStringLiteral("%1 (%2)").arg(id).arg(codigo);
}

// The programming of one subscriber or template: a group per parent, a group
// per section with its column titles, one line per item, a rule after each
// section. Every band is one row, so that a row grown by a wrapped text pushes
// the rows below it down.
Document programming(const QString& title, const QList<ProgrammingData>& data, bool subscriberLine,
                     const PageSetup& setup, const QDate& printed)
{
    using namespace col;
    const qreal width = setup.contentWidth();
    const qreal label = lineHeight(TextStyle::Label);
    const qreal field = lineHeight(TextStyle::Field);
    Builder b(setup, title, printed);

    for (const ProgrammingData& d : data) {
        const qreal gap = 160; // below the group header
        Band model(subscriberLine ? label : label + gap);
        model.text(Label, span(Label, Value), QStringLiteral("Panel:"), TextStyle::Label)
            .text(Value, span(Value, RightLabel), d.panel, TextStyle::Field)
            .text(RightLabel, span(RightLabel, RightValue), QStringLiteral("Configuración:"), TextStyle::Label)
            .text(RightValue, width - RightValue, d.configuracion, TextStyle::Field);
        Band subscriber(label + gap);
        if (subscriberLine) {
            subscriber.text(Label, span(Label, Value), QStringLiteral("Abonado:"), TextStyle::Label);
            // The number's column has no room for a code: with one, number,
            // code and name run on as one text.
            if (d.codigo.isEmpty())
                subscriber.text(Value, span(Value, Name), QString::number(d.id_abonado), TextStyle::Field)
                    .text(Name, span(Name, RightLabel), d.nombre, TextStyle::Field);
            else
                subscriber.text(Value, span(Value, RightLabel),
                                numberAndCode(d.id_abonado, d.codigo) + QStringLiteral("  ") + d.nombre, TextStyle::Field);
            subscriber.text(RightLabel, span(RightLabel, RightValue), QStringLiteral("Teléfono:"), TextStyle::Label)
                .text(RightValue, width - RightValue, d.tel_1, TextStyle::Field);
        }
        const qreal titlesAt = 60; // between the section line and its titles
        const qreal sectionHeader = 2 * label + titlesAt;
        b.add(model, (subscriberLine ? subscriber.height() : 0) + sectionHeader);
        if (subscriberLine)
            b.add(subscriber, sectionHeader);

        for (const SectionRow& s : d.sections) {
            Band header(label + titlesAt);
            header.text(Label, span(Label, Value), QStringLiteral("Sección:"), TextStyle::Label)
                .text(Value, span(Value, Name), QString::number(s.id_seccion), TextStyle::Field)
                .text(Name, width - Name, s.descripcion, TextStyle::Field);
            Band titles(label);
            titles.text(Item, span(Item, Descripcion), QStringLiteral("Item"), TextStyle::Label)
                .text(Descripcion, span(Descripcion, Valor), QStringLiteral("Descripción"), TextStyle::Label)
                .text(Valor, span(Valor, Estado), QStringLiteral("Valor"), TextStyle::Label)
                .text(Estado, width - Estado, QStringLiteral("Estado"), TextStyle::Label);
            QList<Band> details;
            for (const ItemRow& i : s.items) {
                Band detail(field);
                detail.text(Item, span(Item, Descripcion), QString::number(i.id_item), TextStyle::Field)
                    .text(Descripcion, span(Descripcion, Valor), i.descripcion, TextStyle::Field)
                    .text(Valor, span(Valor, Estado), i.valor, TextStyle::Field)
                    .text(Estado, width - Estado, i.estado, TextStyle::Field);
                details.append(detail);
            }
            // The section's header and titles never end a page without its first item.
            const qreal first = details.isEmpty() ? 0 : details.first().height();
            b.add(header, titles.height() + first);
            b.add(titles, first);
            for (const Band& detail : details)
                b.add(detail);

            Band footer(200);
            footer.line(80, 0, width);
            b.add(footer);
        }
    }
    return b.finish();
}

// A list report: the column titles at the top of every page, one line per
// row; a subtitle, when given, under the title of the first page.
Document list(const QString& title, const QList<qreal>& columns, const QStringList& titles,
              const QList<QStringList>& rows, const PageSetup& setup, const QDate& printed,
              const QString& subtitle = QString())
{
    const qreal width = setup.contentWidth();
    auto columnWidth = [&](qsizetype i) {
        return i + 1 < columns.size() ? span(columns.at(i), columns.at(i + 1)) : width - columns.at(i);
    };
    Builder b(setup, title, printed);
    if (!subtitle.isEmpty()) {
        Band under(lineHeight(TextStyle::Label) + 120);
        under.text(0, width, subtitle, TextStyle::Label);
        b.add(under);
    }
    Band header(lineHeight(TextStyle::Label) + 80);
    for (qsizetype i = 0; i < columns.size(); ++i)
        header.text(columns.at(i), columnWidth(i), titles.at(i), TextStyle::Label);
    b.setPageHeader(header);
    const qreal height = lineHeight(TextStyle::Small);
    for (const QStringList& row : rows) {
        Band detail(height);
        for (qsizetype i = 0; i < columns.size(); ++i)
            detail.text(columns.at(i), columnWidth(i), row.at(i), TextStyle::Small);
        b.add(detail);
    }
    return b.finish();
}

// Stored dates are ISO text; reports show them day first.
QString dayFirst(const QString& stored)
{
    const QDateTime t = db::parseDateTime(stored);
    return t.isValid() ? t.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) : stored;
}

} // namespace

Document dr_panel(const QList<ProgrammingData>& data, const PageSetup& setup, const QDate& printed)
{
    return programming(QStringLiteral("Reporte de Panel"), data, true, setup, printed);
}

Document dr_configuracion(const QList<ProgrammingData>& data, const PageSetup& setup, const QDate& printed)
{
    return programming(QStringLiteral("Reporte de Configuración"), data, false, setup, printed);
}

Document dr_abonados(const QList<SubscriberRow>& rows, const PageSetup& setup, const QDate& printed)
{
    QList<QStringList> lines;
    lines.reserve(rows.size());
    for (const SubscriberRow& r : rows)
        lines.append({numberAndCode(r.id_abonado, r.codigo), r.apellido, r.nombre, r.calle, r.anumero, r.localidad,
                      r.descripcion, r.tel_1});
    return list(QStringLiteral("Reporte de Abonados"), QList<qreal>(std::begin(col::Abonados), std::end(col::Abonados)),
                {QStringLiteral("ID"), QStringLiteral("Apellido"), QStringLiteral("Nombre"), QStringLiteral("Calle"),
                 QStringLiteral("Número"), QStringLiteral("Localidad"), QStringLiteral("Provincia"),
                 QStringLiteral("Teléfono")},
                lines, setup, printed);
}

Document dr_log(const QList<LogRow>& rows, const PageSetup& setup, const QDate& printed)
{
    QList<QStringList> lines;
    lines.reserve(rows.size());
    for (const LogRow& r : rows)
        lines.append({dayFirst(r.fecha), r.usuario, r.descripcion, r.parametro});
    return list(QStringLiteral("Reporte de Log"), {col::Fecha, col::Usuario, col::Operacion, col::Parametro},
                {QStringLiteral("Fecha"), QStringLiteral("Usuario"), QStringLiteral("Operación"),
                 QStringLiteral("Parámetro")},
                lines, setup, printed);
}

Document dr_diferencias(const QString& subscriber, const QList<QStringList>& rows, const PageSetup& setup,
                        const QDate& printed)
{
    return list(QStringLiteral("Diferencias con el panel"),
                {col::Diferencias[0], col::Diferencias[1], col::Diferencias[2], col::Diferencias[3], col::Diferencias[4]},
                {QStringLiteral("Sección"), QStringLiteral("Descripción"), QStringLiteral("Guardado"),
                 QStringLiteral("Panel"), QStringLiteral("Distinto")},
                rows, setup, printed, subscriber);
}

Document dr_historial(const QString& subtitle, const QList<QStringList>& rows, const PageSetup& setup,
                      const QDate& printed)
{
    return list(QStringLiteral("Historial de valores"),
                QList<qreal>(std::begin(col::Historial), std::end(col::Historial)), historialTitles(), rows, setup,
                printed, subtitle);
}

QStringList historialTitles()
{
    return {QStringLiteral("Fecha"),  QStringLiteral("Sección"), QStringLiteral("Item"),   QStringLiteral("Antes"),
            QStringLiteral("Después"), QStringLiteral("Origen"),  QStringLiteral("Usuario")};
}

Document dr_tareas(const QString& subtitle, const QList<QStringList>& rows, const PageSetup& setup, const QDate& printed)
{
    return list(QStringLiteral("Resultado de tareas"), QList<qreal>(std::begin(col::Tareas), std::end(col::Tareas)),
                tareasTitles(), rows, setup, printed, subtitle);
}

QStringList tareasTitles()
{
    return {QStringLiteral("Inicio"),    QStringLiteral("Tarea"),   QStringLiteral("Abonado"),
            QStringLiteral("Estación"),  QStringLiteral("Resultado"), QStringLiteral("Eventos"),
            QStringLiteral("Dif."),      QStringLiteral("Secc.")};
}

Document dr_atencion(const QString& subtitle, const QList<QStringList>& rows, const PageSetup& setup,
                     const QDate& printed)
{
    return list(QStringLiteral("Abonados que requieren atención"),
                QList<qreal>(std::begin(col::Atencion), std::end(col::Atencion)), atencionTitles(), rows, setup,
                printed, subtitle);
}

QStringList atencionTitles()
{
    return {QStringLiteral("Código"), QStringLiteral("Abonado"), QStringLiteral("Última descarga"),
            QStringLiteral("Último resultado"), QStringLiteral("Motivo")};
}

} // namespace reports
