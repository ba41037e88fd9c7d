#include "app/w_cambio_password.h"

#include "ui/ui_geometry.h"
#include "ui/ui_toolbar.h"
#include "data/db.h"
#include "data/users_store.h"

#include <QAction>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

constexpr int kPasswordLength = 4;

} // namespace

w_cambio_password::w_cambio_password(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("w_cambio_password"));
    setWindowTitle(QStringLiteral("Cambio de contraseña"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 6);
    tb_cambio = ui::keyedToolBar(this, QStringLiteral("tb_cambio"));
    ui::okCancel(tb_cambio, cb_aceptar, cb_cancelar);
    layout->addWidget(tb_cambio);
    st_aviso = new QLabel(QStringLiteral("El usuario tiene la contraseña de fábrica.\nEscriba una nueva de %1 caracteres, dos veces.")
                              .arg(kPasswordLength),
                          this);
    st_aviso->setObjectName(QStringLiteral("st_aviso"));
    layout->addWidget(st_aviso);
    auto* grid = new QGridLayout;
    st_nueva_t = new QLabel(QStringLiteral("Contraseña nueva:"), this);
    st_nueva_t->setObjectName(QStringLiteral("st_nueva_t"));
    st_repetida_t = new QLabel(QStringLiteral("Repita la contraseña:"), this);
    st_repetida_t->setObjectName(QStringLiteral("st_repetida_t"));
    sle_nueva = new QLineEdit(this);
    sle_nueva->setObjectName(QStringLiteral("sle_nueva"));
    sle_repetida = new QLineEdit(this);
    sle_repetida->setObjectName(QStringLiteral("sle_repetida"));
    for (QLineEdit* e : {sle_nueva, sle_repetida}) {
        e->setEchoMode(QLineEdit::Password);
        e->setMaxLength(kPasswordLength);
    }
    st_nueva_t->setBuddy(sle_nueva);
    st_repetida_t->setBuddy(sle_repetida);
    grid->addWidget(st_nueva_t, 0, 0);
    grid->addWidget(sle_nueva, 0, 1);
    grid->addWidget(st_repetida_t, 1, 0);
    grid->addWidget(sle_repetida, 1, 1);
    layout->addLayout(grid);
    st_error = new QLabel(this);
    st_error->setObjectName(QStringLiteral("st_error"));
    st_error->setWordWrap(true);
    st_error->setStyleSheet(QStringLiteral("color: #b00000"));
    layout->addWidget(st_error, 1);
    ui::sizeWindow(this, 4800, 2900);

    connect(sle_nueva, &QLineEdit::returnPressed, sle_repetida, qOverload<>(&QWidget::setFocus));
    connect(sle_repetida, &QLineEdit::returnPressed, this, &w_cambio_password::aceptar);
    connect(cb_aceptar, &QAction::triggered, this, &w_cambio_password::aceptar);
    connect(cb_cancelar, &QAction::triggered, this, &QDialog::reject);
    sle_nueva->setFocus();
}

QString w_cambio_password::problem(const QString& first, const QString& second)
{
    if (first.size() != kPasswordLength)
        return QStringLiteral("La contraseña debe tener %1 caracteres.").arg(kPasswordLength);
    if (db::fold(first) != db::fold(second))
        return QStringLiteral("Las dos contraseñas no son iguales.");
    if (db::fold(first) == db::fold(users::factoryPassword()))
        return QStringLiteral("La contraseña nueva no puede ser la de fábrica.");
    return QString();
}

QString w_cambio_password::password() const
{
    return sle_nueva->text().toUpper();
}

void w_cambio_password::aceptar()
{
    const QString why = problem(sle_nueva->text(), sle_repetida->text());
    st_error->setText(why);
    if (why.isEmpty()) {
        accept();
        return;
    }
    sle_repetida->clear();
    sle_nueva->selectAll();
    sle_nueva->setFocus();
}
