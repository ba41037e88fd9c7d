#include "admin/w_tareas_programadas.h"

#include "data/catalogue_store.h"
#include "data/db.h"
#include "data/messages.h"
#include "data/permissions.h"
#include "records/search_context.h"
#include "records/w_buscar.h"
#include "session/mdl_main.h"
#include "ui/ui_toolbar.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSpinBox>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimeEdit>
#include <QToolBar>
#include <QVBoxLayout>

using namespace jobs;

namespace {

// "1 día", "2 días": the suffix follows the number.
void countDays(QSpinBox* box)
{
    auto follow = [box](int n) { box->setSuffix(n == 1 ? QStringLiteral(" día") : QStringLiteral(" días")); };
    follow(box->value());
    QObject::connect(box, &QSpinBox::valueChanged, box, follow);
}

// The entries of cbx_programa, in this order.
enum ScheduleEntry { EntryNow, EntryOnce, EntryEvery };

QString nextRunText(const std::optional<QDateTime>& t)
{
    return t ? t->toString(QStringLiteral("dd/MM/yyyy HH:mm")) : QStringLiteral("no vuelve a ejecutarse");
}

} // namespace

w_tareas_programadas::w_tareas_programadas(StationContext& ctx, QWidget* parent) : QWidget(parent), m_ctx(ctx)
{
    setObjectName(QStringLiteral("tab_programadas"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    tb_programadas = ui::keyedToolBar(this, QStringLiteral("tb_programadas"));
    cb_alta = ui::keyedAction(tb_programadas, QStringLiteral("cb_alta"), QStringLiteral("Nueva"), QStringLiteral("Nueva tarea"));
    cb_guardar = ui::keyedAction(tb_programadas, QStringLiteral("cb_guardar"), QStringLiteral("Guardar"),
                                 QStringLiteral("Guardar la tarea"));
    cb_baja = ui::keyedAction(tb_programadas, QStringLiteral("cb_baja"), QStringLiteral("Borrar"),
                              QStringLiteral("Borrar la tarea"));
    layout->addWidget(tb_programadas);

    auto* split = new QSplitter(Qt::Horizontal, this);
    dg_tareas = new QListWidget(split);
    dg_tareas->setObjectName(QStringLiteral("dg_tareas"));
    dg_tareas->setAccessibleName(QStringLiteral("Tareas programadas"));
    dg_tareas->setMinimumWidth(dg_tareas->fontMetrics().horizontalAdvance(QStringLiteral("M")) * 14);
    split->addWidget(dg_tareas);
    split->addWidget(buildEditor());
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 4);
    layout->addWidget(split, 1);

    connect(cb_alta, &QAction::triggered, this, [this] { showJob(Job{}); });
    connect(cb_guardar, &QAction::triggered, this, &w_tareas_programadas::save);
    connect(cb_baja, &QAction::triggered, this, &w_tareas_programadas::remove);
    connect(dg_tareas, &QListWidget::currentRowChanged, this, &w_tareas_programadas::showSelected);
    m_ctx.search.registerDisplay(SearchMode::tarea_abonado, this, [this](int id) { addSubscriber(id); });

    fillFilterLists();
    showJob(Job{});
    refresh();
}

QWidget* w_tareas_programadas::buildEditor()
{
    auto* editor = new QWidget(this);
    auto* grid = new QGridLayout(editor);
    grid->setContentsMargins(6, 0, 0, 0);

    auto* general = new QFormLayout;
    sle_nombre = new QLineEdit(editor);
    sle_nombre->setObjectName(QStringLiteral("sle_nombre"));
    sle_nombre->setMaxLength(60);
    general->addRow(QStringLiteral("&Nombre:"), sle_nombre);
    cbx_alcance = new QComboBox(editor);
    cbx_alcance->setObjectName(QStringLiteral("cbx_alcance"));
    cbx_alcance->addItems({QStringLiteral("Marcar"), QStringLiteral("Doble llamada"), QStringLiteral("Llamada IP")});
    general->addRow(QStringLiteral("&Llamada:"), cbx_alcance);
    grid->addLayout(general, 0, 0);

    auto* acciones = new QGroupBox(QStringLiteral("Acciones"), editor);
    acciones->setObjectName(QStringLiteral("frm_acciones"));
    auto* al = new QVBoxLayout(acciones);
    const QList<Action> all = allActions();
    for (int i = 0; i < 5; ++i) {
        chk_accion[i] = new QCheckBox(actionText(all.at(i)), acciones);
        chk_accion[i]->setObjectName(QStringLiteral("chk_accion_%1").arg(i));
        al->addWidget(chk_accion[i]);
    }
    grid->addWidget(acciones, 1, 0);

    auto* programa = new QGroupBox(QStringLiteral("Programación"), editor);
    programa->setObjectName(QStringLiteral("frm_programa"));
    auto* pl = new QGridLayout(programa);
    cbx_programa = new QComboBox(programa);
    cbx_programa->setObjectName(QStringLiteral("cbx_programa"));
    cbx_programa->addItems({QStringLiteral("Ahora"), QStringLiteral("Una vez"), QStringLiteral("Cada N días")});
    pl->addWidget(cbx_programa, 0, 0, 1, 2);
    dp_fecha = new QDateTimeEdit(programa);
    dp_fecha->setObjectName(QStringLiteral("dp_fecha"));
    dp_fecha->setDisplayFormat(QStringLiteral("dd/MM/yyyy HH:mm"));
    dp_fecha->setCalendarPopup(true);
    dp_fecha->setMinimumWidth(dp_fecha->fontMetrics().horizontalAdvance(QStringLiteral("00/00/0000 00:00")) + 48);
    pl->addWidget(dp_fecha, 0, 2, 1, 2);
    auto* cada = new QLabel(QStringLiteral("Cada"), programa);
    spn_cada = new QSpinBox(programa);
    spn_cada->setObjectName(QStringLiteral("spn_cada"));
    spn_cada->setRange(1, 366);
    countDays(spn_cada);
    cada->setBuddy(spn_cada);
    auto* alas = new QLabel(QStringLiteral("a las"), programa);
    tp_hora = new QTimeEdit(programa);
    tp_hora->setObjectName(QStringLiteral("tp_hora"));
    tp_hora->setDisplayFormat(QStringLiteral("HH:mm"));
    alas->setBuddy(tp_hora);
    pl->addWidget(cada, 1, 0);
    pl->addWidget(spn_cada, 1, 1);
    pl->addWidget(alas, 1, 2);
    pl->addWidget(tp_hora, 1, 3);
    auto* ventana = new QLabel(QStringLiteral("&Ventana horaria:"), programa);
    sle_ventana = new QLineEdit(programa);
    sle_ventana->setObjectName(QStringLiteral("sle_ventana"));
    sle_ventana->setMaxLength(11);
    sle_ventana->setPlaceholderText(QStringLiteral("todo el día"));
    sle_ventana->setToolTip(QStringLiteral("Horas en las que se puede empezar una llamada, por ejemplo 22:00-06:00. "
                                           "Vacío: todo el día."));
    ventana->setBuddy(sle_ventana);
    pl->addWidget(ventana, 2, 0, 1, 2);
    pl->addWidget(sle_ventana, 2, 2, 1, 2);
    grid->addWidget(programa, 2, 0);

    auto* reintentos = new QGroupBox(QStringLiteral("Reintentos"), editor);
    reintentos->setObjectName(QStringLiteral("frm_reintentos"));
    auto* rl = new QFormLayout(reintentos);
    spn_seguidos = new QSpinBox(reintentos);
    spn_seguidos->setObjectName(QStringLiteral("spn_seguidos"));
    spn_seguidos->setRange(1, 10);
    spn_mas = new QSpinBox(reintentos);
    spn_mas->setObjectName(QStringLiteral("spn_mas"));
    spn_mas->setRange(0, 50);
    spn_espera = new QSpinBox(reintentos);
    spn_espera->setObjectName(QStringLiteral("spn_espera"));
    spn_espera->setRange(1, 1440);
    spn_espera->setSuffix(QStringLiteral(" min"));
    rl->addRow(QStringLiteral("Intentos seguidos:"), spn_seguidos);
    rl->addRow(QStringLiteral("Intentos más:"), spn_mas);
    rl->addRow(QStringLiteral("Espera entre ellos:"), spn_espera);
    grid->addWidget(reintentos, 3, 0);

    auto* abonados = new QGroupBox(QStringLiteral("Abonados"), editor);
    abonados->setObjectName(QStringLiteral("frm_abonados"));
    auto* bl = new QVBoxLayout(abonados);
    auto* kind = new QHBoxLayout;
    rb_lista = new QRadioButton(QStringLiteral("Lista"), abonados);
    rb_lista->setObjectName(QStringLiteral("rb_lista"));
    rb_filtro = new QRadioButton(QStringLiteral("Filtro al ejecutar"), abonados);
    rb_filtro->setObjectName(QStringLiteral("rb_filtro"));
    kind->addWidget(rb_lista);
    kind->addWidget(rb_filtro);
    kind->addStretch(1);
    bl->addLayout(kind);
    stk_abonados = new QStackedWidget(abonados);
    stk_abonados->setObjectName(QStringLiteral("stk_abonados"));
    auto* listPage = new QWidget(stk_abonados);
    auto* lp = new QVBoxLayout(listPage);
    lp->setContentsMargins(0, 0, 0, 0);
    auto* tb = ui::keyedToolBar(listPage, QStringLiteral("tb_abonados"));
    cb_agregar = ui::keyedAction(tb, QStringLiteral("cb_buscar"), QStringLiteral("Agregar"),
                                 QStringLiteral("Agregar abonados desde la lista de búsqueda"));
    cb_quitar = ui::keyedAction(tb, QStringLiteral("cb_quitar"), QStringLiteral("Quitar"),
                                QStringLiteral("Quitar los abonados elegidos"));
    lp->addWidget(tb);
    lst_abonados = new QListWidget(listPage);
    lst_abonados->setObjectName(QStringLiteral("lst_abonados"));
    lst_abonados->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lst_abonados->setAccessibleName(QStringLiteral("Abonados de la tarea"));
    lp->addWidget(lst_abonados, 1);
    stk_abonados->addWidget(listPage);

    auto* filterPage = new QWidget(stk_abonados);
    auto* fl = new QFormLayout(filterPage);
    fl->setContentsMargins(0, 0, 0, 0);
    cbx_filtro_panel = new QComboBox(filterPage);
    cbx_filtro_panel->setObjectName(QStringLiteral("cbx_filtro_panel"));
    cbx_filtro_configuracion = new QComboBox(filterPage);
    cbx_filtro_configuracion->setObjectName(QStringLiteral("cbx_filtro_configuracion"));
    fl->addRow(QStringLiteral("Modelo de panel:"), cbx_filtro_panel);
    fl->addRow(QStringLiteral("Configuración:"), cbx_filtro_configuracion);
    cbx_filtro_grupo = new QComboBox(filterPage);
    cbx_filtro_grupo->setObjectName(QStringLiteral("cbx_filtro_grupo"));
    fl->addRow(QStringLiteral("Grupo:"), cbx_filtro_grupo);
    auto* codes = new QHBoxLayout;
    sle_codigo_desde = new QLineEdit(filterPage);
    sle_codigo_desde->setObjectName(QStringLiteral("sle_codigo_desde"));
    sle_codigo_desde->setPlaceholderText(QStringLiteral("desde"));
    sle_codigo_hasta = new QLineEdit(filterPage);
    sle_codigo_hasta->setObjectName(QStringLiteral("sle_codigo_hasta"));
    sle_codigo_hasta->setPlaceholderText(QStringLiteral("hasta"));
    codes->addWidget(sle_codigo_desde);
    codes->addWidget(sle_codigo_hasta);
    fl->addRow(QStringLiteral("Códigos:"), codes);
    auto* stale = new QHBoxLayout;
    chk_sin_descarga = new QCheckBox(QStringLiteral("Sin descarga de eventos hace"), filterPage);
    chk_sin_descarga->setObjectName(QStringLiteral("chk_sin_descarga"));
    spn_sin_descarga = new QSpinBox(filterPage);
    spn_sin_descarga->setObjectName(QStringLiteral("spn_sin_descarga"));
    spn_sin_descarga->setRange(1, 3650);
    countDays(spn_sin_descarga);
    stale->addWidget(chk_sin_descarga);
    stale->addWidget(spn_sin_descarga);
    stale->addStretch(1);
    fl->addRow(stale);
    stk_abonados->addWidget(filterPage);
    bl->addWidget(stk_abonados, 1);
    grid->addWidget(abonados, 0, 1, 4, 1);

    st_proxima = new QLabel(editor);
    st_proxima->setObjectName(QStringLiteral("st_proxima"));
    grid->addWidget(st_proxima, 4, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(5, 1);

    connect(rb_lista, &QRadioButton::toggled, this, [this](bool on) { stk_abonados->setCurrentIndex(on ? 0 : 1); });
    connect(cbx_programa, &QComboBox::currentIndexChanged, this, &w_tareas_programadas::scheduleKindChanged);
    connect(cb_agregar, &QAction::triggered, this, [this] { w_buscar::abrir(m_ctx, SearchMode::tarea_abonado, this); });
    connect(cb_quitar, &QAction::triggered, this, [this] {
        for (QListWidgetItem* item : lst_abonados->selectedItems()) {
            m_subscribers.removeAll(item->data(Qt::UserRole).toInt());
            delete item;
        }
    });
    return editor;
}

void w_tareas_programadas::fillFilterLists()
{
    cbx_filtro_panel->addItem(QStringLiteral("(cualquiera)"), 0);
    cbx_filtro_configuracion->addItem(QStringLiteral("(cualquiera)"), 0);
    cbx_filtro_grupo->addItem(QStringLiteral("(todos)"), 0);
    try {
        // An operator limited to groups is offered only those: "(todos)" is
        // all of them, as the job keeps them.
        const QList<int> mine = permissions::operatorGroups(m_ctx.main.db(), m_ctx.main.currentUser());
        for (const permissions::Group& g : permissions::groups(m_ctx.main.db()))
            if (mine.isEmpty() || mine.contains(g.id_grupo))
                cbx_filtro_grupo->addItem(g.codigo + QStringLiteral(" - ") + g.descripcion, g.id_grupo);
        for (const catalogue::Entry& e : catalogue::pickList(m_ctx.main.db(), catalogue::PickList::PanelModels))
            cbx_filtro_panel->addItem(e.text, e.key);
        for (const catalogue::Entry& e : catalogue::pickList(m_ctx.main.db(), catalogue::PickList::Templates))
            cbx_filtro_configuracion->addItem(e.text, e.key);
    } catch (const db::Error& e) {
        m_ctx.messages.showError(QStringLiteral("No se pudieron leer los modelos, configuraciones y grupos.\n%1").arg(e.text()));
    }
}

void w_tareas_programadas::refresh()
{
    try {
        m_jobs = listJobs(m_ctx.main.db(), m_ctx.main.currentUser());
    } catch (const db::Error& e) {
        m_ctx.messages.showError(QStringLiteral("No se pudieron leer las tareas.\n%1").arg(e.text()));
        return;
    }
    const qint64 shown = m_id;
    const QSignalBlocker quiet(dg_tareas);
    dg_tareas->clear();
    for (const Job& j : m_jobs) {
        auto* item = new QListWidgetItem(j.name, dg_tareas);
        item->setToolTip(QStringLiteral("Próxima ejecución: %1").arg(nextRunText(j.nextRun)));
        if (j.id == shown)
            dg_tareas->setCurrentItem(item);
    }
}

void w_tareas_programadas::showSelected()
{
    const int row = dg_tareas->currentRow();
    if (row >= 0 && row < m_jobs.size())
        showJob(m_jobs.at(row));
}

void w_tareas_programadas::showJob(const Job& job)
{
    m_id = job.id;
    sle_nombre->setText(job.name);
    const QList<Action> all = allActions();
    for (int i = 0; i < 5; ++i)
        chk_accion[i]->setChecked(job.actions.contains(all.at(i)));
    cbx_alcance->setCurrentIndex(int(job.reach));
    (job.byFilter ? rb_filtro : rb_lista)->setChecked(true);
    stk_abonados->setCurrentIndex(job.byFilter ? 1 : 0);
    m_subscribers.clear();
    lst_abonados->clear();
    for (qint32 s : job.subscribers)
        addSubscriber(s);
    cbx_filtro_panel->setCurrentIndex(qMax(0, cbx_filtro_panel->findData(job.filter.panel)));
    cbx_filtro_configuracion->setCurrentIndex(qMax(0, cbx_filtro_configuracion->findData(job.filter.configuracion)));
    // A group gone since, or not offered to this operator, stays the job's:
    // "(todos)" in its place would widen the job when saved.
    if (job.filter.group > 0 && cbx_filtro_grupo->findData(job.filter.group) < 0)
        cbx_filtro_grupo->addItem(QStringLiteral("(otro grupo)"), job.filter.group);
    cbx_filtro_grupo->setCurrentIndex(qMax(0, cbx_filtro_grupo->findData(job.filter.group)));
    sle_codigo_desde->setText(job.filter.codeFrom);
    sle_codigo_hasta->setText(job.filter.codeTo);
    chk_sin_descarga->setChecked(job.filter.daysWithoutDownload > 0);
    spn_sin_descarga->setValue(job.filter.daysWithoutDownload > 0 ? job.filter.daysWithoutDownload : 7);
    const QDateTime now = m_ctx.main.now();
    const Schedule s = Schedule::parse(job.schedule).value_or(Schedule{});
    cbx_programa->setCurrentIndex(s.kind == Schedule::Kind::Once ? EntryOnce
                                  : s.kind == Schedule::Kind::Every ? EntryEvery
                                                                    : EntryNow);
    dp_fecha->setDateTime(s.kind == Schedule::Kind::Once ? s.at : QDateTime(now.date().addDays(1), QTime(22, 0)));
    spn_cada->setValue(s.kind == Schedule::Kind::Every ? s.days : 1);
    tp_hora->setTime(s.kind == Schedule::Kind::Every ? s.time : QTime(22, 0));
    sle_ventana->setText(job.window);
    spn_seguidos->setValue(job.triesAtOnce);
    spn_mas->setValue(job.moreTries);
    spn_espera->setValue(job.waitMinutes);
    st_proxima->setText(job.id > 0 ? QStringLiteral("Próxima ejecución: %1").arg(nextRunText(job.nextRun))
                                   : QStringLiteral("Tarea nueva"));
    cb_baja->setEnabled(job.id > 0);
    scheduleKindChanged();
}

void w_tareas_programadas::scheduleKindChanged()
{
    const int kind = cbx_programa->currentIndex();
    dp_fecha->setEnabled(kind == EntryOnce);
    spn_cada->setEnabled(kind == EntryEvery);
    tp_hora->setEnabled(kind == EntryEvery);
}

void w_tareas_programadas::newJobFor(const QList<qint32>& subscribers, const QString& name)
{
    Job job;
    job.name = name;
    job.actions = {Action::DownloadEvents};
    job.subscribers = subscribers;
    const QSignalBlocker quiet(dg_tareas);
    dg_tareas->setCurrentRow(-1);
    showJob(job);
}

void w_tareas_programadas::addSubscriber(qint32 id)
{
    if (m_subscribers.contains(id))
        return;
    QString label;
    try {
        label = subscriberLabel(m_ctx.main.db(), id);
    } catch (const db::Error&) {
        label = QString::number(id);
    }
    m_subscribers << id;
    auto* item = new QListWidgetItem(label, lst_abonados);
    item->setData(Qt::UserRole, id);
}

Job w_tareas_programadas::editedJob() const
{
    Job j;
    j.id = m_id;
    j.name = sle_nombre->text().trimmed();
    const QList<Action> all = allActions();
    for (int i = 0; i < 5; ++i)
        if (chk_accion[i]->isChecked())
            j.actions << all.at(i);
    j.reach = Reach(cbx_alcance->currentIndex());
    j.byFilter = rb_filtro->isChecked();
    if (!j.byFilter)
        j.subscribers = m_subscribers;
    j.filter.panel = cbx_filtro_panel->currentData().toInt();
    j.filter.configuracion = cbx_filtro_configuracion->currentData().toInt();
    j.filter.group = cbx_filtro_grupo->currentData().toInt();
    j.filter.codeFrom = sle_codigo_desde->text().trimmed();
    j.filter.codeTo = sle_codigo_hasta->text().trimmed();
    j.filter.daysWithoutDownload = chk_sin_descarga->isChecked() ? spn_sin_descarga->value() : 0;
    Schedule s;
    if (cbx_programa->currentIndex() == EntryOnce) {
        s.kind = Schedule::Kind::Once;
        s.at = dp_fecha->dateTime();
    } else if (cbx_programa->currentIndex() == EntryEvery) {
        s.kind = Schedule::Kind::Every;
        s.days = spn_cada->value();
        s.time = tp_hora->time();
    }
    j.schedule = s.text();
    j.window = sle_ventana->text().trimmed();
    j.triesAtOnce = spn_seguidos->value();
    j.moreTries = spn_mas->value();
    j.waitMinutes = spn_espera->value();
    return j;
}

bool w_tareas_programadas::save()
{
    Job job = editedJob();
    QString why;
    try {
        why = saveJob(m_ctx.main.db(), job, m_ctx.main.now(), m_ctx.main.currentUser());
    } catch (const db::Error& e) {
        why = QStringLiteral("No se pudo guardar la tarea.\n%1").arg(e.text());
    }
    if (!why.isEmpty()) {
        m_ctx.messages.showError(why);
        return false;
    }
    m_id = job.id;
    refresh();
    st_proxima->setText(QStringLiteral("Próxima ejecución: %1").arg(nextRunText(job.nextRun)));
    cb_baja->setEnabled(true);
    return true;
}

void w_tareas_programadas::remove()
{
    if (m_id <= 0)
        return;
    if (!m_ctx.messages.askYesNo(QStringLiteral("¿Borra la tarea «%1»? Lo que falta hacer de ella no se hará.")
                                     .arg(sle_nombre->text().trimmed())))
        return;
    try {
        removeJob(m_ctx.main.db(), m_id);
    } catch (const db::Error& e) {
        m_ctx.messages.showError(QStringLiteral("No se pudo borrar la tarea.\n%1").arg(e.text()));
        return;
    }
    showJob(Job{});
    refresh();
}
