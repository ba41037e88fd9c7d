#pragma once
// Report window: the pages of one report in a print preview, with paging,
// zoom, printing and export to PDF. One window per report; printing the same
// report again shows the new result in the same window.

#include "reports/layout.h"
#include "session/station_context.h"

#include <QWidget>
#include <functional>

class QAction;
class QLabel;
class QPrinter;
class QPrintPreviewWidget;
class QToolBar;

class w_reporte : public QWidget {
    Q_OBJECT
    StationContext& m_ctx;

public:
    // Lays the report out for a paper.
    using Layout = std::function<reports::Document(const reports::PageSetup&)>;

    explicit w_reporte(StationContext& ctx, QWidget* parent = nullptr);

    // Shows a new result (the report is regenerated from it).
    void setReport(const Layout& layout);
    const reports::Document& document() const { return m_doc; }
    int currentPage() const;

    // Writes the report to `fileName`; shows an error and returns false when it cannot.
    bool exportPdf(const QString& fileName);

    QSize sizeHint() const override;

    QToolBar* tb_reporte;
    QPrintPreviewWidget* pv_reporte;
    QLabel* st_pagina;

private:
    void addButton(const QString& caption, const QString& key, const QString& tip,
                   const std::function<void()>& run);
    void paintRequested(QPrinter* printer);
    void layoutFor(const reports::PageSetup& setup);
    void showPageNumber();
    void print();
    void exportAsked();

    Layout m_layout;
    reports::Document m_doc;
};
