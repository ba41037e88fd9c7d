#include "migration/w_migracion.h"

#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "data/db.h"
#include "data/messages.h"
#include "migration/catalogue_merge.h"
#include "migration/novedades.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {
// The merge runs on the interface thread; the window is repainted when the
// shown percentage changes and window-system events (expose, resize) are
// handled this often, user input excepted.
constexpr int kEventsEveryMs = 100;
} // namespace

w_migracion::w_migracion(StationContext& ctx, QWidget* parent) : QDialog(parent), m_ctx(ctx)
{
    setObjectName(QStringLiteral("w_migracion"));
    setWindowTitle(QStringLiteral("Migración"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(ui::twipsSize(4800, 2500));
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(4);

    Label1 = new QLabel(QStringLiteral("Este proceso puede tardar varios minutos, dependiendo de la cantidad de "
                                       "información almacenada."),
                        this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    layout->addWidget(Label1);

    Label2 = new QLabel(QStringLiteral("Importante:"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    QFont bold = Label2->font();
    bold.setBold(true);
    Label2->setFont(bold);
    QPalette red = Label2->palette();
    red.setColor(QPalette::WindowText, QColor(200, 0, 0));
    Label2->setPalette(red);
    Label3 = new QLabel(QStringLiteral("No lo detenga porque puede perder datos."), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setWordWrap(true);
    layout->addWidget(Label2);
    layout->addWidget(Label3);
    layout->addStretch(1);

    st_migracion = new QLabel(this);
    st_migracion->setObjectName(QStringLiteral("st_migracion"));
    layout->addWidget(st_migracion);

    auto* bar = new QHBoxLayout;
    pb_migracion = new QProgressBar(this);
    pb_migracion->setObjectName(QStringLiteral("pb_migracion"));
    pb_migracion->setRange(0, 100);
    pb_migracion->setValue(0);
    pb_migracion->setTextVisible(false);
    st_progreso = new QLabel(this);
    st_progreso->setObjectName(QStringLiteral("st_progreso"));
    st_progreso->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    st_progreso->setMinimumWidth(st_progreso->fontMetrics().horizontalAdvance(QStringLiteral("100 %")) + 4);
    bar->addWidget(pb_migracion, 1);
    bar->addWidget(st_progreso);
    layout->addLayout(bar);

    ui::centreOnScreen(this);

    tmr_migracion = new QTimer(this);
    tmr_migracion->setObjectName(QStringLiteral("tmr_migracion"));
    tmr_migracion->setSingleShot(true);
    tmr_migracion->setInterval(1000);
    connect(tmr_migracion, &QTimer::timeout, this, &w_migracion::tmr_migracion_Timer);
    tmr_migracion->start();
}

void w_migracion::tmr_migracion_Timer()
{
    tmr_migracion->stop();
    if (m_started)
        return;
    m_started = true;
    migrate();
}

void w_migracion::showCaption(const QString& caption)
{
    st_migracion->setText(caption);
    keepAlive(true);
}

void w_migracion::showProgress(double progress)
{
    const int shown = migration::roundPercent(progress);
    if (shown != m_shown) {
        m_shown = shown;
        pb_migracion->setValue(shown);
        st_progreso->setText(migration::percentText(progress));
        keepAlive(true);
    } else {
        keepAlive(false);
    }
}

void w_migracion::keepAlive(bool force)
{
    if (force) {
        st_migracion->repaint();
        st_progreso->repaint();
        pb_migracion->repaint();
    }
    if (!m_sinceEvents.isValid() || m_sinceEvents.elapsed() >= kEventsEveryMs) {
        // Expose and paint events only: clicks and keys wait, as the window
        // must not be stopped halfway.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        m_sinceEvents.restart();
    }
}

void w_migracion::migrate()
{
    pb_migracion->setValue(0);
    m_shown = -1;
    m_sinceEvents.invalidate();
    QString failure;
    try {
        migration::CatalogueMerge merge(QSqlDatabase::database(mdl_main::UpdateConnection, false),
                                        m_ctx.main.db());
        merge.onTable = [this](const QString& caption) { showCaption(caption); };
        merge.onProgress = [this](double progress) { showProgress(progress); };
        merge.run();
    } catch (const db::Error& e) {
        failure = e.text();
    }

    if (!failure.isEmpty()) {
        // The rows before the failure stay merged and the update file stays,
        // so the next start offers it again.
        db::close(mdl_main::UpdateConnection);
        m_finished = true;
        m_ctx.messages.showError(failure);
        if (endProgram)
            endProgram(1);
        done(QDialog::Rejected);
        return;
    }

    pb_migracion->setValue(100);
    st_progreso->setText(QStringLiteral("100 %"));
    repaint();
    // A file that cannot be deleted is offered again at the next start; a
    // second run leaves the same catalogue.
    migration::removeUpdateFile(m_ctx.main);
    m_finished = true;
    m_succeeded = true;
    m_ctx.messages.show(QStringLiteral("Atención"), QStringLiteral("La migración finalizó exitosamente"),
                        MessageService::Icon::Information);
    done(QDialog::Accepted);
}

void w_migracion::closeEvent(QCloseEvent* e)
{
    if (!m_finished) {
        e->ignore();
        return;
    }
    QDialog::closeEvent(e);
}

void w_migracion::reject()
{
    // Escape does not stop the migration either.
    if (m_finished)
        QDialog::reject();
}

void w_migracion::mergeUpdate(StationContext& ctx, ShellUi& shell, QWidget* parent)
{
    if (migration::mergeUpdate(ctx.main, shell) != migration::UpdateCheck::Accepted)
        return;
    w_migracion w(ctx, parent);
    w.endProgram = [&shell](int code) { shell.endProgram(code); };
    w.exec();
}
