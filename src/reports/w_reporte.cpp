#include "reports/w_reporte.h"

#include "ui/ui_geometry.h"
#include "ui/ui_pictures.h"
#include "data/messages.h"
#include "session/mdl_main.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QPrintDialog>
#include <QAbstractScrollArea>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QStandardPaths>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

w_reporte::w_reporte(StationContext& ctx, QWidget* parent) : QWidget(parent), m_ctx(ctx)
{
    setObjectName(QStringLiteral("w_reporte"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    tb_reporte = new QToolBar(this);
    tb_reporte->setObjectName(QStringLiteral("tb_reporte"));
    tb_reporte->setIconSize(QSize(20, 20));
    tb_reporte->setToolButtonStyle(Qt::ToolButtonIconOnly);
    layout->addWidget(tb_reporte);

    pv_reporte = new QPrintPreviewWidget(this);
    pv_reporte->setObjectName(QStringLiteral("pv_reporte"));
    pv_reporte->setViewMode(QPrintPreviewWidget::SinglePageView);
    layout->addWidget(pv_reporte, 1);
    // The page view inside the preview takes the focus (arrows and page keys scroll it).
    for (QWidget* view : pv_reporte->findChildren<QAbstractScrollArea*>())
        view->setAccessibleName(QStringLiteral("Vista previa"));
    connect(pv_reporte, &QPrintPreviewWidget::paintRequested, this, &w_reporte::paintRequested);
    connect(pv_reporte, &QPrintPreviewWidget::previewChanged, this, &w_reporte::showPageNumber);

    addButton(QStringLiteral("Primera"), QStringLiteral("cb_primera"), QStringLiteral("Primera página"),
              [this] { pv_reporte->setCurrentPage(1); });
    addButton(QStringLiteral("Anterior"), QStringLiteral("cb_anterior"), QStringLiteral("Página anterior"),
              [this] { pv_reporte->setCurrentPage(currentPage() - 1); });
    st_pagina = new QLabel(tb_reporte);
    st_pagina->setObjectName(QStringLiteral("st_pagina"));
    st_pagina->setContentsMargins(8, 0, 8, 0);
    tb_reporte->addWidget(st_pagina);
    addButton(QStringLiteral("Siguiente"), QStringLiteral("cb_siguiente"), QStringLiteral("Página siguiente"),
              [this] { pv_reporte->setCurrentPage(currentPage() + 1); });
    addButton(QStringLiteral("Última"), QStringLiteral("cb_ultima"), QStringLiteral("Última página"),
              [this] { pv_reporte->setCurrentPage(pv_reporte->pageCount()); });
    tb_reporte->addSeparator();
    addButton(QStringLiteral("Ajustar al ancho"), QStringLiteral("cb_ancho"), QStringLiteral("Ajustar al ancho"),
              [this] { pv_reporte->fitToWidth(); });
    addButton(QStringLiteral("Página completa"), QStringLiteral("cb_pagina"), QStringLiteral("Página completa"),
              [this] { pv_reporte->fitInView(); });
    addButton(QStringLiteral("Acercar"), QStringLiteral("cb_acercar"), QStringLiteral("Acercar"),
              [this] { pv_reporte->zoomIn(); });
    addButton(QStringLiteral("Alejar"), QStringLiteral("cb_alejar"), QStringLiteral("Alejar"),
              [this] { pv_reporte->zoomOut(); });
    tb_reporte->addSeparator();
    addButton(QStringLiteral("Imprimir"), QStringLiteral("cb_imprimir"), QStringLiteral("Imprimir Reporte"),
              [this] { print(); });
    auto* pdf = new QAction(ui::icon(QStringLiteral("pdf")), QStringLiteral("Exportar a PDF"), this);
    pdf->setObjectName(QStringLiteral("cb_exportar"));
    pdf->setToolTip(QStringLiteral("Exportar el reporte a un archivo PDF"));
    connect(pdf, &QAction::triggered, this, &w_reporte::exportAsked);
    tb_reporte->addAction(pdf);
    // The two actions that leave the window say what they do.
    for (const char* key : {"cb_imprimir", "cb_exportar"})
        if (auto* b = qobject_cast<QToolButton*>(tb_reporte->widgetForAction(findChild<QAction*>(key))))
            b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    // Whoever opened the report, printing and exporting take the right.
    for (const char* key : {"cb_imprimir", "cb_exportar"})
        findChild<QAction*>(key)->setEnabled(m_ctx.main.may(permissions::Right::Imprimir));

    resize(sizeHint());
}

QSize w_reporte::sizeHint() const
{
    return ui::twipsSize(10000, 6000);
}

void w_reporte::addButton(const QString& caption, const QString& key, const QString& tip,
                          const std::function<void()>& run)
{
    auto* a = new QAction(ui::icon(key), caption, this);
    a->setObjectName(key);
    a->setToolTip(tip);
    connect(a, &QAction::triggered, this, [this, run] {
        run();
        // Paging by the buttons does not always signal a change of page.
        showPageNumber();
    });
    tb_reporte->addAction(a);
}

void w_reporte::setReport(const Layout& layout)
{
    m_layout = layout;
    layoutFor(reports::PageSetup());
    setWindowTitle(m_doc.title);
    pv_reporte->updatePreview();
    pv_reporte->fitToWidth();
    pv_reporte->setCurrentPage(1);
    showPageNumber();
}

void w_reporte::layoutFor(const reports::PageSetup& setup)
{
    if (m_layout && (m_doc.pages.isEmpty() || !(m_doc.setup == setup)))
        m_doc = m_layout(setup);
}

int w_reporte::currentPage() const
{
    return pv_reporte->currentPage();
}

void w_reporte::paintRequested(QPrinter* printer)
{
    // The layout carries the margins; lay it out again when the paper changed.
    printer->setFullPage(true);
    layoutFor(reports::PageSetup::fromPageLayout(printer->pageLayout()));
    reports::render(m_doc, *printer);
}

void w_reporte::showPageNumber()
{
    const int count = pv_reporte->pageCount() > 0 ? pv_reporte->pageCount() : int(m_doc.pageCount());
    st_pagina->setText(QStringLiteral("Página %1 de %2").arg(qMax(1, currentPage())).arg(count));
}

void w_reporte::print()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(m_doc.title);
    QPrintDialog dialog(&printer, this);
    dialog.setWindowTitle(QStringLiteral("Imprimir"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    printer.setFullPage(true);
    layoutFor(reports::PageSetup::fromPageLayout(printer.pageLayout()));
    reports::render(m_doc, printer, printer.fromPage(), printer.toPage());
}

bool w_reporte::exportPdf(const QString& fileName)
{
    // The export is always on the report's own paper.
    const reports::Document doc = m_layout ? m_layout(reports::PageSetup()) : m_doc;
    if (!reports::writePdf(doc, fileName)) {
        m_ctx.messages.showError(QStringLiteral("No se pudo exportar el reporte a %1").arg(QDir::toNativeSeparators(fileName)));
        return false;
    }
    return true;
}

void w_reporte::exportAsked()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Exportar a PDF"),
                                                QDir(dir).filePath(m_doc.title + QStringLiteral(".pdf")),
                                                QStringLiteral("Documentos PDF (*.pdf)"));
    if (file.isEmpty())
        return;
    if (!file.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        file += QStringLiteral(".pdf");
    exportPdf(file);
}
