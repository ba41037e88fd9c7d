#include "records/ui_record_form.h"

#include "data/db.h"
#include "data/messages.h"
#include "records/w_buscar.h"
#include "ui/ui_pictures.h"

#include <QAction>
#include <QToolBar>
#include <QtDebug>

RecordForm::RecordForm(StationContext& ctx, SearchMode mode, QWidget* parent)
    : QWidget(parent), m_ctx(ctx), m_mode(mode)
{
    tb_abm = new QToolBar(this);
    tb_abm->setObjectName(QStringLiteral("tb_abm"));
    // Text under the pictures: every button fits the window's width.
    tb_abm->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tb_abm->setIconSize(QSize(16, 16));
    cb_buscar = boton(QStringLiteral("cb_buscar"), QStringLiteral("Buscar"), QStringLiteral("Buscar Abonado"));
    cb_alta = boton(QStringLiteral("cb_alta"), QStringLiteral("Alta"), QStringLiteral("Nuevo Abonado"));
    cb_baja = boton(QStringLiteral("cb_baja"), QStringLiteral("Baja"), QStringLiteral("Eliminar Abonado"));
    cb_modificar = boton(QStringLiteral("cb_modificar"), QStringLiteral("Editar"), QStringLiteral("Modificar Abonado"));
    tb_abm->addSeparator();
    cb_aceptar = boton(QStringLiteral("cb_aceptar"), QStringLiteral("Aceptar"), QStringLiteral("Aceptar"));
    cb_cancelar = boton(QStringLiteral("cb_cancelar"), QStringLiteral("Cancelar"), QStringLiteral("Cancelar"));
}

QAction* RecordForm::boton(const QString& key, const QString& caption, const QString& tip)
{
    QAction* a = tb_abm->addAction(ui::icon(key), caption);
    a->setObjectName(key);
    a->setToolTip(tip);
    connect(a, &QAction::triggered, this, [this, key] { dispatch(key); });
    return a;
}

void RecordForm::dispatch(const QString& key)
{
    if (key == QLatin1String("cb_buscar")) {
        w_buscar::abrir(m_ctx, m_mode, this);
    } else if (key == QLatin1String("cb_alta")) {
        m_isNew = true;
        showData(0);
        enableControls(QStringLiteral("alta"));
        editingStarted();
    } else if (key == QLatin1String("cb_baja")) {
        if (m_ctx.messages.askYesNo(QStringLiteral("¿Está seguro de borrar este item?")))
            deleteRecord();
    } else if (key == QLatin1String("cb_modificar")) {
        m_isNew = false;
        enableControls(QStringLiteral("modificar"));
        editingStarted();
    } else if (key == QLatin1String("cb_aceptar")) {
        save();
    } else if (key == QLatin1String("cb_cancelar")) {
        showData(shownRecord());
    }
}

bool RecordForm::saveShown(const std::function<std::optional<int>()>& write,
                           const std::function<void(const QString& why)>& report)
{
    std::optional<int> id;
    try {
        id = write();
    } catch (const db::Error& e) {
        qWarning("%s::save: %s", qPrintable(objectName()), qPrintable(e.text()));
        // A full disk, a lost server or a busy record is what the operator
        // must read first; other failures under the form's own message.
        if (e.fault() != db::Fault::Other)
            m_ctx.messages.showError(e.text());
        else
            report(e.text());
        return false;
    }
    if (!id)
        return false;
    shownRecord() = *id;
    showData(*id);
    return true;
}

void RecordForm::removeShown(const std::function<void(int id)>& remove)
{
    if (shownRecord() <= 0)
        return;
    try {
        remove(shownRecord());
    } catch (const db::Error& e) {
        qWarning("%s::deleteRecord: %s", qPrintable(objectName()), qPrintable(e.text()));
        m_ctx.messages.showError(QStringLiteral("No se pudo eliminar el item\n%1").arg(e.text()));
        return;
    }
    shownRecord() = 0;
    showData(0);
}
