#include "admin/w_log.h"

#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "ui/ui_pictures.h"
#include "data/db.h"
#include "data/messages.h"
#include "data/history_store.h"
#include "data/oplog_store.h"
#include "data/permissions.h"
#include "data/users_store.h"
#include "records/search_context.h"
#include "records/w_buscar.h"
#include "records/w_historial.h"
#include "reports/ui_reportes.h"

#include <QAction>
#include <QDateEdit>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtDebug>

namespace {

const QString kDayFormat = QStringLiteral("dd/MM/yyyy");

} // namespace

w_log::w_log(StationContext& ctx, QWidget* parent) : QWidget(parent), m_ctx(ctx)
{
    setObjectName(QStringLiteral("w_log"));
    setWindowTitle(QStringLiteral("Log de operaciones"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 4);
    layout->setSpacing(2);
    tb_log = new QToolBar(this);
    tb_log->setObjectName(QStringLiteral("tb_log"));
    tb_log->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tb_log->setIconSize(QSize(16, 16));
    cb_usuario = boton(QStringLiteral("cb_usuario"), QStringLiteral("cb_usuarios"), QStringLiteral("Usuario"),
                       QStringLiteral("Buscar usuario"));
    cb_imprimir = boton(QStringLiteral("cb_imprimir"), QStringLiteral("cb_imprimir"), QStringLiteral("Imprimir"),
                        QStringLiteral("Imprime Reporte"));
    cb_imprimir->setEnabled(m_ctx.main.may(permissions::Right::Imprimir));
    cb_baja = boton(QStringLiteral("cb_baja"), QStringLiteral("cb_baja"), QStringLiteral("Borrar"),
                    QStringLiteral("Borrar log hasta la fecha seleccionada"));
    layout->addWidget(tb_log);

    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::StyledPanel);
    auto* g = new QGridLayout(frame);
    g->setContentsMargins(8, 6, 8, 6);
    g->setHorizontalSpacing(8);
    auto label = [frame](const char* name, const QString& text) {
        auto* l = new QLabel(text, frame);
        l->setObjectName(QLatin1String(name));
        return l;
    };
    st_desde_t = label("st_desde_t", QStringLiteral("Desde:"));
    st_hasta_t = label("st_hasta_t", QStringLiteral("Hasta:"));
    st_usuario_t = label("st_usuario_t", QStringLiteral("Usuario:"));
    st_usuario = label("st_usuario", QString());
    st_usuario->setFrameShape(QFrame::Panel);
    st_usuario->setFrameShadow(QFrame::Sunken);
    st_usuario->setMinimumWidth(st_usuario->fontMetrics().horizontalAdvance(QStringLiteral("MMMMMMMMMMMM")));
    Label1 = label("Label1", QStringLiteral("Borrar log Hasta:"));
    dp_desde = datePicker("dp_desde");
    dp_hasta = datePicker("dp_hasta");
    dp_borrar = datePicker("dp_borrar");
    st_desde_t->setBuddy(dp_desde);
    st_hasta_t->setBuddy(dp_hasta);
    Label1->setBuddy(dp_borrar);

    img_todos = new QToolButton(frame);
    img_todos->setObjectName(QStringLiteral("img_todos"));
    img_todos->setAutoRaise(true);
    img_todos->setIcon(ui::icon(QStringLiteral("cb_cancelar")));
    img_todos->setToolTip(QStringLiteral("Todos los Usuarios"));

    auto* rule = new QFrame(frame);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);

    g->addWidget(st_desde_t, 0, 0);
    g->addWidget(dp_desde, 0, 1, Qt::AlignLeft);
    g->addWidget(st_hasta_t, 1, 0);
    g->addWidget(dp_hasta, 1, 1, Qt::AlignLeft);
    g->addWidget(st_usuario_t, 2, 0);
    auto* who = new QHBoxLayout;
    who->setSpacing(2);
    who->addWidget(st_usuario, 1);
    who->addWidget(img_todos);
    g->addLayout(who, 2, 1);
    g->addWidget(rule, 3, 0, 1, 2);
    g->addWidget(Label1, 4, 0);
    g->addWidget(dp_borrar, 4, 1, Qt::AlignLeft);
    g->setColumnStretch(1, 1);
    g->setRowStretch(5, 1);
    layout->addWidget(frame, 1);

    ui::sizeWindow(this, 3500, 3200);

    // The button sits beside the user's name, between the dates.
    setTabOrder(dp_hasta, img_todos);
    setTabOrder(img_todos, dp_borrar);
    connect(img_todos, &QToolButton::clicked, this, [this] { showUser(0); });
    m_ctx.search.registerDisplay(SearchMode::log_usuario, this, [this](int id) { showUser(id); });

    try {
        m_ownLinesOnly = permissions::grantOf(m_ctx.main.db(), m_ctx.main.currentUser()).limited;
    } catch (const db::Error& e) {
        qWarning("w_log: %s", qPrintable(e.text()));
        m_ownLinesOnly = true; // unknown groups: the narrow view
    }
    cb_usuario->setEnabled(!m_ownLinesOnly);
    img_todos->setEnabled(!m_ownLinesOnly);
    showDefaults();
}

void w_log::showDefaults()
{
    const QDate today = m_ctx.main.now().date();
    dp_hasta->setDate(today);
    // Today's day number in the previous month, or that month's last day when
    // it has no such day (31 March gives the end of February).
    dp_desde->setDate(today.addMonths(-1));
    dp_borrar->setDate(dp_desde->date());
    showUser(0);
}

QAction* w_log::boton(const QString& key, const QString& picture, const QString& caption, const QString& tip)
{
    QAction* a = tb_log->addAction(ui::icon(picture), caption);
    a->setObjectName(key);
    a->setToolTip(tip);
    connect(a, &QAction::triggered, this, [this, key] { dispatch(key); });
    return a;
}

QDateEdit* w_log::datePicker(const char* name)
{
    auto* d = new QDateEdit(this);
    d->setObjectName(QLatin1String(name));
    d->setCalendarPopup(true);
    d->setDisplayFormat(kDayFormat);
    return d;
}

void w_log::showUser(int id)
{
    if (m_ownLinesOnly)
        id = m_ctx.main.currentUser();
    QString name;
    if (id >= 1) {
        try {
            if (const auto a = users::find(m_ctx.main.db(), id))
                name = a->usuario;
            else
                id = 0; // an account deleted since it was picked: all operators
        } catch (const db::Error& e) {
            qWarning("w_log::showUser: %s", qPrintable(e.text()));
            id = 0;
        }
    }
    m_user = m_ownLinesOnly ? m_ctx.main.currentUser() : qMax(id, 0);
    st_usuario->setText(m_user > 0 ? name : QStringLiteral("TODOS"));
}

void w_log::dispatch(const QString& key)
{
    const QDate desde = dp_desde->date();
    const QDate hasta = dp_hasta->date();
    const QDate borrar = dp_borrar->date();
    if (key == QLatin1String("cb_usuario")) {
        w_buscar::abrir(m_ctx, SearchMode::log_usuario, this);
    } else if (key == QLatin1String("cb_imprimir")) {
        const oplog::Filter filter{desde, hasta, m_user};
        if (m_ctx.printLog)
            m_ctx.printLog(m_ctx, filter);
        else
            reports::showLogReport(m_ctx, filter);
    } else if (key == QLatin1String("cb_baja")) {
        deleteUpTo(borrar);
    }
}

void w_log::deleteUpTo(const QDate& borrar)
{
    const QSqlDatabase c = m_ctx.main.db();
    // The questions name the first day that stays.
    const QString first = borrar.addDays(1).toString(kDayFormat);
    if (m_ctx.messages.askYesNo(QStringLiteral("Se borrará el Log hasta el %1\n¿Continúa?").arg(first))) {
        try {
            oplog::purge(c, borrar);
        } catch (const db::Error& e) {
            // Rolled back; the log stays as it was.
            qWarning("w_log: purge failed: %s", qPrintable(e.text()));
        }
    }
    // The value history has a question of its own, and only who may delete
    // records purges it.
    if (!m_ctx.main.may(permissions::Right::Borrar))
        return;
    if (!m_ctx.messages.askYesNo(QStringLiteral("Se borrará el historial de valores hasta el %1\n¿Continúa?").arg(first)))
        return;
    try {
        history::purge(c, borrar);
        // A history window open meanwhile must not go on listing purged rows.
        w_historial::refreshOpen();
    } catch (const db::Error& e) {
        qWarning("w_log: history purge failed: %s", qPrintable(e.text()));
        m_ctx.messages.showError(QStringLiteral("No se pudo borrar el historial de valores.\n%1").arg(e.text()));
    }
}
