#include "records/w_configuracion_abm.h"

#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "ui/ui_toolbar.h"
#include "ui/ui_pictures.h"
#include "data/db.h"
#include "data/template_store.h"
#include "records/editor_context.h"
#include "records/w_configuracion.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QToolBar>
#include <QVBoxLayout>
#include <QtDebug>

w_configuracion_abm* w_configuracion_abm::abrir(StationContext& ctx, w_configuracion* owner)
{
    auto* w = new w_configuracion_abm(ctx, owner);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setWindowModality(Qt::ApplicationModal);
    w->show();
    return w;
}

w_configuracion_abm::w_configuracion_abm(StationContext& ctx, w_configuracion* owner) : QDialog(owner), m_ctx(ctx), m_owner(owner)
{
    setObjectName(QStringLiteral("w_configuracion_abm"));
    setWindowTitle(QStringLiteral("Configuración"));
    m_template = m_ctx.editor.configuracion;

    st_configuracion_t = new QLabel(QStringLiteral("Nombre de la configuración:"), this);
    st_configuracion_t->setObjectName(QStringLiteral("st_configuracion_t"));
    sle_configuracion = new QLineEdit(this);
    sle_configuracion->setObjectName(QStringLiteral("sle_configuracion"));
    sle_configuracion->setMaxLength(50);
    st_configuracion_t->setBuddy(sle_configuracion);

    tb_configuracion = ui::keyedToolBar(this, QStringLiteral("tb_configuracion"));
    ui::okCancel(tb_configuracion, cb_aceptar, cb_cancelar);

    auto* layout = new QVBoxLayout(this);
    const int m = ui::twips(120);
    layout->setContentsMargins(m, m, m, m / 2);
    layout->setSpacing(ui::twips(60));
    layout->addWidget(st_configuracion_t);
    layout->addWidget(sle_configuracion);
    layout->addStretch(1);
    layout->addWidget(tb_configuracion);

    connect(cb_aceptar, &QAction::triggered, this, [this] {
        if (saveData())
            accept();
    });
    connect(cb_cancelar, &QAction::triggered, this, [this] { QDialog::reject(); });
    connect(sle_configuracion, &QLineEdit::returnPressed, cb_aceptar, &QAction::trigger);

    if (!copying()) {
        try {
            sle_configuracion->setText(templates::name(m_ctx.main.db(), m_template).value_or(QString()));
        } catch (const db::Error& e) {
            qWarning("w_configuracion_abm: %s", qPrintable(e.text()));
        }
        sle_configuracion->selectAll();
    }
    m_nombre = sle_configuracion->text();
    ui::sizeWindow(this, 4000, 2300);
    ui::centreOnScreen(this);
    sle_configuracion->setFocus();
}

bool w_configuracion_abm::saveData()
{
    const QString name = sle_configuracion->text().toUpper();
    const int source = m_owner ? m_owner->m_template : 0;
    int shown = m_template;
    // A name of blanks is as empty as no name; template 1 keeps its name.
    bool ok = !name.trimmed().isEmpty() && (copying() ? source >= 1 : m_template >= 2);
    if (ok) {
        try {
            const QSqlDatabase c = m_ctx.main.db();
            if (copying())
                shown = templates::copy(c, source, name, m_ctx.main.currentUser());
            else
                templates::rename(c, m_template, name);
        } catch (const db::Error& e) {
            qWarning("w_configuracion_abm::saveData: %s", qPrintable(e.text()));
            ok = false;
        }
    }
    if (!ok) {
        m_ctx.main.showMessage(701);
        sle_configuracion->setFocus();
        return false;
    }
    if (m_owner)
        m_owner->showTemplate(shown);
    return true;
}

bool w_configuracion_abm::hasUnsavedChanges() const
{
    return result() != QDialog::Accepted && sle_configuracion->text() != m_nombre;
}

void w_configuracion_abm::reject()
{
    if (ui::mayClose(m_ctx.messages, *this))
        QDialog::reject();
}
