#include "admin/w_tareas_resultados.h"

#include "admin/job_results_model.h"
#include "data/db.h"
#include "data/job_store.h"
#include "data/messages.h"
#include "reports/ui_reportes.h"
#include "session/mdl_main.h"
#include "ui/ui_toolbar.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>

w_tareas_resultados::w_tareas_resultados(StationContext& ctx, QWidget* parent) : QWidget(parent), m_ctx(ctx)
{
    setObjectName(QStringLiteral("tab_resultados"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    tb_resultados = ui::keyedToolBar(this, QStringLiteral("tb_resultados"));
    cb_actualizar = ui::keyedAction(tb_resultados, QStringLiteral("cb_actualizar"), QStringLiteral("Actualizar"),
                                    QStringLiteral("Leer de nuevo los resultados"));
    cb_imprimir = ui::keyedAction(tb_resultados, QStringLiteral("cb_imprimir"), QStringLiteral("Imprimir"),
                                  QStringLiteral("Reporte «Resultado de tareas»"));
    cb_exportar = ui::keyedAction(tb_resultados, QStringLiteral("cb_exportar"), QStringLiteral("Exportar"),
                                  QStringLiteral("Exportar los resultados a un archivo CSV"));
    for (QAction* a : {cb_imprimir, cb_exportar})
        a->setEnabled(m_ctx.main.may(permissions::Right::Imprimir));
    layout->addWidget(tb_resultados);

    auto* filters = new QHBoxLayout;
    auto* tarea = new QLabel(QStringLiteral("&Tarea:"), this);
    cbx_tarea = new QComboBox(this);
    cbx_tarea->setObjectName(QStringLiteral("cbx_tarea"));
    cbx_tarea->setMinimumContentsLength(14);
    cbx_tarea->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    tarea->setBuddy(cbx_tarea);
    chk_desde = new QCheckBox(QStringLiteral("&Desde:"), this);
    chk_desde->setObjectName(QStringLiteral("chk_desde"));
    dp_desde = new QDateEdit(this);
    dp_desde->setObjectName(QStringLiteral("dp_desde"));
    dp_desde->setCalendarPopup(true);
    dp_desde->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    chk_hasta = new QCheckBox(QStringLiteral("&Hasta:"), this);
    chk_hasta->setObjectName(QStringLiteral("chk_hasta"));
    dp_hasta = new QDateEdit(this);
    dp_hasta->setObjectName(QStringLiteral("dp_hasta"));
    dp_hasta->setCalendarPopup(true);
    dp_hasta->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    const QDate today = m_ctx.main.now().date();
    dp_desde->setDate(today.addDays(-7));
    dp_hasta->setDate(today);
    auto* resultado = new QLabel(QStringLiteral("&Resultado:"), this);
    cbx_resultado = new QComboBox(this);
    cbx_resultado->setObjectName(QStringLiteral("cbx_resultado"));
    cbx_resultado->addItem(QStringLiteral("(todos)"), QString());
    for (const QString& t : jobs::outcomeTexts())
        cbx_resultado->addItem(t, t);
    resultado->setBuddy(cbx_resultado);
    filters->addWidget(tarea);
    filters->addWidget(cbx_tarea, 1);
    filters->addWidget(chk_desde);
    filters->addWidget(dp_desde);
    filters->addWidget(chk_hasta);
    filters->addWidget(dp_hasta);
    filters->addWidget(resultado);
    filters->addWidget(cbx_resultado);
    layout->addLayout(filters);

    m_model = new JobResultsModel(m_ctx.main.db(), this);
    dg_resultados = new QTableView(this);
    dg_resultados->setObjectName(QStringLiteral("dg_resultados"));
    dg_resultados->setAccessibleName(QStringLiteral("Resultados de las tareas"));
    dg_resultados->setModel(m_model);
    dg_resultados->setSelectionBehavior(QAbstractItemView::SelectRows);
    dg_resultados->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dg_resultados->verticalHeader()->hide();
    // Fixed widths: measuring the contents would read every row.
    dg_resultados->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    dg_resultados->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    dg_resultados->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = {130, 190, 150, 150, 100, 140, 220, 60, 80, 70};
    for (int i = 0; i < JobResultsModel::Columns; ++i)
        dg_resultados->setColumnWidth(i, widths[i]);
    layout->addWidget(dg_resultados, 1);
    st_total = new QLabel(this);
    st_total->setObjectName(QStringLiteral("st_total"));
    layout->addWidget(st_total);

    connect(cb_actualizar, &QAction::triggered, this, [this] {
        refreshJobs();
        refresh();
    });
    connect(cb_imprimir, &QAction::triggered, this, &w_tareas_resultados::print);
    connect(cb_exportar, &QAction::triggered, this, &w_tareas_resultados::exportAsked);
    for (QCheckBox* b : {chk_desde, chk_hasta})
        connect(b, &QCheckBox::toggled, this, &w_tareas_resultados::refresh);
    for (QDateEdit* d : {dp_desde, dp_hasta})
        connect(d, &QDateEdit::dateChanged, this, [this] {
            if (chk_desde->isChecked() || chk_hasta->isChecked())
                refresh();
        });
    for (QComboBox* b : {cbx_tarea, cbx_resultado})
        connect(b, &QComboBox::currentIndexChanged, this, &w_tareas_resultados::refresh);

    refreshJobs();
    refresh();
}

void w_tareas_resultados::refreshJobs()
{
    const qint64 chosen = cbx_tarea->currentData().toLongLong();
    const QSignalBlocker quiet(cbx_tarea);
    cbx_tarea->clear();
    cbx_tarea->addItem(QStringLiteral("(todas)"), qint64(0));
    try {
        // A job's name may name subscribers of groups the operator may not see.
        for (const jobs::Job& j : jobs::listJobs(m_ctx.main.db(), m_ctx.main.currentUser()))
            cbx_tarea->addItem(j.name, j.id);
    } catch (const db::Error& e) {
        m_ctx.messages.showError(QStringLiteral("No se pudieron leer las tareas.\n%1").arg(e.text()));
    }
    cbx_tarea->setCurrentIndex(qMax(0, cbx_tarea->findData(chosen)));
}

void w_tareas_resultados::refresh()
{
    jobs::ResultFilter f;
    f.job = cbx_tarea->currentData().toLongLong();
    if (chk_desde->isChecked())
        f.from = dp_desde->date();
    if (chk_hasta->isChecked())
        f.to = dp_hasta->date();
    f.outcome = cbx_resultado->currentData().toString();
    f.operatorId = m_ctx.main.currentUser();
    try {
        m_model->show(f);
    } catch (const db::Error& e) {
        st_total->clear();
        m_ctx.messages.showError(QStringLiteral("No se pudieron leer los resultados.\n%1").arg(e.text()));
        return;
    }
    st_total->setText(m_model->total() == 1 ? QStringLiteral("1 resultado")
                                            : QStringLiteral("%1 resultados").arg(m_model->total()));
}

QString w_tareas_resultados::filterText() const
{
    QStringList parts{QStringLiteral("Tarea: %1").arg(cbx_tarea->currentText())};
    if (chk_desde->isChecked())
        parts << QStringLiteral("desde %1").arg(dp_desde->date().toString(QStringLiteral("dd/MM/yyyy")));
    if (chk_hasta->isChecked())
        parts << QStringLiteral("hasta %1").arg(dp_hasta->date().toString(QStringLiteral("dd/MM/yyyy")));
    parts << QStringLiteral("Resultado: %1").arg(cbx_resultado->currentText());
    return parts.join(QStringLiteral(", "));
}

void w_tareas_resultados::print()
{
    if (m_model->total() > MaxPrinted) {
        m_ctx.messages.showError(QStringLiteral("Hay %1 resultados: acote los filtros para imprimir (hasta %2).")
                                     .arg(m_model->total())
                                     .arg(MaxPrinted));
        return;
    }
    QList<QStringList> rows;
    try {
        for (const jobs::ResultRow& r : m_model->allRows()) {
            const QStringList t = m_model->texts(r);
            rows << QStringList{t.at(JobResultsModel::Start).left(16), t.at(JobResultsModel::Job),
                                t.at(JobResultsModel::Subscriber), t.at(JobResultsModel::Station),
                                r.detail.isEmpty() ? r.outcome : r.outcome + QStringLiteral(": ") + r.detail,
                                t.at(JobResultsModel::Events), t.at(JobResultsModel::Differences),
                                t.at(JobResultsModel::Sections)};
        }
    } catch (const db::Error& e) {
        m_ctx.messages.showError(QStringLiteral("No se pudo generar el reporte.\n%1").arg(e.text()));
        return;
    }
    reports::showJobResultsReport(m_ctx, filterText(), rows);
}

bool w_tareas_resultados::exportTo(const QString& file)
{
    QByteArray csv;
    try {
        csv = jobs::resultsCsv(m_model->allRows());
    } catch (const db::Error& e) {
        m_ctx.messages.showError(QStringLiteral("No se pudieron leer los resultados.\n%1").arg(e.text()));
        return false;
    }
    // Written whole or not at all: a full disk leaves no half file.
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(csv) != csv.size() || !out.commit()) {
        m_ctx.messages.showError(QStringLiteral("No se pudo escribir el archivo %1.\n%2")
                                     .arg(QDir::toNativeSeparators(file), out.errorString()));
        return false;
    }
    return true;
}

void w_tareas_resultados::exportAsked()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Exportar resultados"),
                                                QDir(dir).filePath(QStringLiteral("Resultado de tareas.csv")),
                                                QStringLiteral("Archivos CSV (*.csv)"));
    if (file.isEmpty())
        return;
    if (!file.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        file += QStringLiteral(".csv");
    exportTo(file);
}
