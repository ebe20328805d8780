// The report engine's windows: the progress window of a preparation or print run, the
// preview window that shows the prepared pages and prints them, and the preview operation.
#pragma once

#include <QDialog>
#include <QPicture>
#include <QWidget>
#include <vector>

#include "output/ReportEngine.h"

class QLabel;
class QPushButton;
class QScrollArea;
class QToolButton;

namespace pelmora::platform {
class Dialogs;
}  // namespace pelmora::platform

namespace pelmora::output {

// A small non-modal window with a text and a Cancel button. step() lets waiting events
// through, so the other windows stay responsive meanwhile; it announces each step first
// (the pages of a print run: step n comes before page n), so that a test can act at one.
class TQRProgressWindow : public QWidget, public ProgressSink {
    Q_OBJECT
  public:
    explicit TQRProgressWindow(QWidget* parent = nullptr);
    void open(const QString& caption, const QString& text) override;
    bool step() override;
    void close() override;

    bool cancelled() const { return m_cancelled; }
    QPushButton* cancelButton() const { return m_cancel; }

  signals:
    void stepped(int step);  // from 1 after each open()

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QLabel* m_text;
    QPushButton* m_cancel;
    bool m_cancelled = false;
    int m_steps = 0;
};

class PageView;
class PrintBackend;

class TQRPreview : public QDialog {
    Q_OBJECT
  public:
    // The Save and Load buttons follow the printer object's switches as they are now. Errors
    // and the file dialogs go through `dialogs`; print jobs are started on `printer`.
    TQRPreview(std::vector<QPicture> pages, PageGeometry geometry, QString title,
               platform::Dialogs& dialogs, PrintBackend& printer, QWidget* parent = nullptr);

    int currentPage() const { return m_page; }  // from 1
    int pageCount() const { return static_cast<int>(m_pages.size()); }
    double zoom() const;  // 1.0 is 100 %

    void showPage(int page);
    void zoomToFit();
    void zoomTo100();
    void zoomToWidth();
    // Prints every page through the preview's print backend, with a progress window.
    void print();

    const std::vector<QPicture>& pages() const { return m_pages; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    enum class ZoomMode { Fit, Width, Fixed };
    void applyZoom();
    void updateControls();
    void saveReport();
    void loadReport();

    std::vector<QPicture> m_pages;
    PageGeometry m_geometry;
    QString m_title;
    platform::Dialogs& m_dialogs;
    PrintBackend& m_printer;
    int m_page = 1;
    ZoomMode m_mode = ZoomMode::Fit;
    QScrollArea* m_scroll;
    PageView* m_view;
    QToolButton* m_first;
    QToolButton* m_prev;
    QToolButton* m_next;
    QToolButton* m_last;
    QLabel* m_indicator;
};

// Prepares the pages of `report` with a progress window, then shows them in the preview window,
// modally, whose boxes and file dialogs are `dialogs` and whose print jobs go to `printer`; the
// pages are discarded when the window closes. Returns at once after a cancelled preparation, and
// when a preparation or preview of any report is already running.
void previewReport(TQuickReport& report, platform::Dialogs& dialogs, PrintBackend& printer);
// True while a preparation or preview of any report runs.
bool previewRunning();

}  // namespace pelmora::output
