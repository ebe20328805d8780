#include "output/gui/ReportPreview.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDataStream>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "output/Printer.h"
#include "output/ReportPainter.h"
#include "output/gui/SystemPrinter.h"
#include "platform/gui/dialogs.h"
#include "platform/gui/windowframe.h"

namespace pelmora::output {

// ---------------------------------------------------------------------------------------------
// Progress window

TQRProgressWindow::TQRProgressWindow(QWidget* parent)
    : QWidget(parent), m_text(new QLabel(this)), m_cancel(new QPushButton(this)) {
    setObjectName(QStringLiteral("QRProgressForm"));
    platform::useDialogFrame(this);
    m_text->setObjectName(QStringLiteral("Info"));
    m_text->setMinimumWidth(260);
    m_cancel->setObjectName(QStringLiteral("CancelButton"));
    m_cancel->setText(QStringLiteral("Cancel"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(m_cancel, 0, Qt::AlignHCenter);
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_cancelled = true; });
}

void TQRProgressWindow::open(const QString& caption, const QString& text) {
    m_cancelled = false;
    m_steps = 0;
    setWindowTitle(caption);
    setMinimumWidth(platform::captionMinimumWidth(this));
    m_text->setText(text);
    show();
    QCoreApplication::processEvents();
}

bool TQRProgressWindow::step() {
    emit stepped(++m_steps);
    QCoreApplication::processEvents();
    return !m_cancelled;
}

void TQRProgressWindow::close() {
    hide();
}

// The close box is the Cancel button: the run stops at its next step and then closes the window.
void TQRProgressWindow::closeEvent(QCloseEvent* event) {
    m_cancelled = true;
    event->ignore();
}

// ---------------------------------------------------------------------------------------------
// Preview window

class PageView : public QWidget {
  public:
    PageView(const PageGeometry& geometry, QWidget* parent)
        : QWidget(parent), m_geometry(geometry) {
        setObjectName(QStringLiteral("PageView"));
    }
    void setPage(const QPicture* page) {
        m_page = page;
        update();
    }
    void setZoom(double zoom) {
        m_zoom = zoom;
        resize((m_geometry.paper * zoom).toSize());
        update();
    }
    double zoom() const { return m_zoom; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.fillRect(rect(), Qt::white);
        if (m_page) drawRecordedPage(painter, *m_page, m_geometry.paper, QRectF(rect()));
    }

  private:
    const PageGeometry& m_geometry;
    const QPicture* m_page = nullptr;
    double m_zoom = 1.0;
};

namespace {

QToolButton* toolButton(QWidget* parent, const char* name, const QString& hint, QIcon icon) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(hint);
    button->setStatusTip(hint);
    button->setIcon(std::move(icon));
    button->setAutoRaise(true);
    return button;
}

// The zoom and print pictures, drawn here so that they look alike on every desktop.
enum class Picture { FitPage, Hundred, PageWidth, Print };

QIcon drawnIcon(Picture picture) {
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 1.2));
    p.setBrush(Qt::white);
    switch (picture) {
        case Picture::FitPage:
            p.drawRect(QRectF(7.5, 3.5, 10, 14));
            p.drawLine(QPointF(3, 20.5), QPointF(21, 20.5));
            p.drawLine(QPointF(3, 1), QPointF(3, 20.5));
            p.drawLine(QPointF(21, 1), QPointF(21, 20.5));
            break;
        case Picture::Hundred: {
            QFont font = p.font();
            font.setPixelSize(10);
            font.setBold(true);
            p.setFont(font);
            p.drawRect(QRectF(1.5, 4.5, 21, 15));
            p.drawText(QRectF(1.5, 4.5, 21, 15), Qt::AlignCenter, QStringLiteral("1:1"));
            break;
        }
        case Picture::PageWidth:
            p.drawRect(QRectF(4.5, 3.5, 15, 18));
            p.drawLine(QPointF(1, 12), QPointF(23, 12));
            p.drawLine(QPointF(1, 12), QPointF(4, 9));
            p.drawLine(QPointF(1, 12), QPointF(4, 15));
            p.drawLine(QPointF(23, 12), QPointF(20, 9));
            p.drawLine(QPointF(23, 12), QPointF(20, 15));
            break;
        case Picture::Print:
            p.drawRect(QRectF(6.5, 2.5, 11, 8));
            p.setBrush(QColor(190, 190, 190));
            p.drawRoundedRect(QRectF(2.5, 9.5, 19, 9), 2, 2);
            p.setBrush(Qt::white);
            p.drawRect(QRectF(6.5, 14.5, 11, 7));
            break;
    }
    return QIcon(pixmap);
}

QIcon themed(const char* name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(QString::fromLatin1(name),
                            QApplication::style()->standardIcon(fallback));
}

constexpr quint32 kReportFileMagic = 0x504d5250;  // "PMRP"

}  // namespace

TQRPreview::TQRPreview(std::vector<QPicture> pages, PageGeometry geometry, QString title,
                       platform::Dialogs& dialogs, PrintBackend& printer, QWidget* parent)
    : QDialog(parent),
      m_pages(std::move(pages)),
      m_geometry(std::move(geometry)),
      m_title(std::move(title)),
      m_dialogs(dialogs),
      m_printer(printer) {
    setObjectName(QStringLiteral("QRStandardPreview"));
    // Modal and opened maximised: a close box only, so that it cannot be minimised out of sight
    // while the main window waits for it.
    platform::useDialogFrame(this);
    setWindowTitle(QStringLiteral("Print Preview"));

    auto* fit =
        toolButton(this, "ZoomToFit", QStringLiteral("Fit in Window"), drawnIcon(Picture::FitPage));
    auto* full = toolButton(this, "ZoomTo100", QStringLiteral("100%"), drawnIcon(Picture::Hundred));
    auto* width = toolButton(this, "ZoomToWidth", QStringLiteral("Page Width"),
                             drawnIcon(Picture::PageWidth));
    m_first = toolButton(this, "FirstPage", QStringLiteral("First page"),
                         themed("go-first", QStyle::SP_MediaSkipBackward));
    m_prev = toolButton(this, "PrevPage", QStringLiteral("Previous page"),
                        themed("go-previous", QStyle::SP_ArrowLeft));
    m_indicator = new QLabel(this);
    m_indicator->setObjectName(QStringLiteral("PageIndicator"));
    m_next = toolButton(this, "NextPage", QStringLiteral("Next page"),
                        themed("go-next", QStyle::SP_ArrowRight));
    m_last = toolButton(this, "LastPage", QStringLiteral("Last page"),
                        themed("go-last", QStyle::SP_MediaSkipForward));
    auto* printButton =
        toolButton(this, "PrintButton", QStringLiteral("Print report"), drawnIcon(Picture::Print));
    auto* save = toolButton(this, "SaveReport", QStringLiteral("Save report"),
                            themed("document-save", QStyle::SP_DialogSaveButton));
    auto* load = toolButton(this, "LoadReport", QStringLiteral("Load report"),
                            themed("document-open", QStyle::SP_DialogOpenButton));
    auto* exitButton = new QPushButton(QStringLiteral("&Exit"), this);
    exitButton->setObjectName(QStringLiteral("ExitButton"));
    exitButton->setAutoDefault(false);
    save->setVisible(QRPrinter().showSaveButton());
    load->setVisible(QRPrinter().showLoadButton());

    auto* bar = new QHBoxLayout;
    for (QWidget* w :
         std::initializer_list<QWidget*>{fit, full, width, m_first, m_prev, m_indicator, m_next,
                                         m_last, printButton, save, load, exitButton})
        bar->addWidget(w);
    bar->addStretch(1);

    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("ScrollBox"));
    m_scroll->setAlignment(Qt::AlignCenter);
    m_scroll->setBackgroundRole(QPalette::Dark);
    m_view = new PageView(m_geometry, m_scroll);
    m_scroll->setWidget(m_view);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_scroll, 1);

    connect(fit, &QToolButton::clicked, this, &TQRPreview::zoomToFit);
    connect(full, &QToolButton::clicked, this, &TQRPreview::zoomTo100);
    connect(width, &QToolButton::clicked, this, &TQRPreview::zoomToWidth);
    connect(m_first, &QToolButton::clicked, this, [this] { showPage(1); });
    connect(m_prev, &QToolButton::clicked, this, [this] { showPage(m_page - 1); });
    connect(m_next, &QToolButton::clicked, this, [this] { showPage(m_page + 1); });
    connect(m_last, &QToolButton::clicked, this, [this] { showPage(pageCount()); });
    connect(printButton, &QToolButton::clicked, this, &TQRPreview::print);
    connect(save, &QToolButton::clicked, this, &TQRPreview::saveReport);
    connect(load, &QToolButton::clicked, this, &TQRPreview::loadReport);
    connect(exitButton, &QPushButton::clicked, this, &QDialog::reject);

    showPage(1);
    applyZoom();
}

double TQRPreview::zoom() const {
    return m_view->zoom();
}

void TQRPreview::showPage(int page) {
    if (m_pages.empty()) {
        m_page = 0;
        m_view->setPage(nullptr);
    } else {
        m_page = std::clamp(page, 1, pageCount());
        m_view->setPage(&m_pages[m_page - 1]);
    }
    updateControls();
}

void TQRPreview::updateControls() {
    m_indicator->setText(QStringLiteral("Page %1 of %2").arg(m_page).arg(pageCount()));
    m_prev->setEnabled(m_page > 1);
    m_next->setEnabled(m_page < pageCount());
    m_first->setEnabled(pageCount() > 0);
    m_last->setEnabled(pageCount() > 0);
}

void TQRPreview::zoomToFit() {
    m_mode = ZoomMode::Fit;
    applyZoom();
}

void TQRPreview::zoomTo100() {
    m_mode = ZoomMode::Fixed;
    m_view->setZoom(1.0);
}

void TQRPreview::zoomToWidth() {
    m_mode = ZoomMode::Width;
    applyZoom();
}

void TQRPreview::applyZoom() {
    const QSizeF area = m_scroll->maximumViewportSize();
    const QSizeF paper = m_geometry.paper;
    if (paper.isEmpty() || area.isEmpty()) return;
    const double widthRatio = area.width() / paper.width();
    const double heightRatio = area.height() / paper.height();
    switch (m_mode) {
        case ZoomMode::Fit:
            m_view->setZoom(0.98 * std::min(widthRatio, heightRatio));
            break;
        case ZoomMode::Width:
            m_view->setZoom(0.98 * widthRatio);
            break;
        case ZoomMode::Fixed:
            break;
    }
}

void TQRPreview::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    applyZoom();
}

void TQRPreview::print() {
    QString error;
    std::unique_ptr<PrintJob> job =
        m_printer.startJob(printJobName(m_title), m_geometry.pageSize, error);
    if (!job) {
        m_dialogs.errorBox(error.toStdString());
        return;
    }
    TQRProgressWindow progress(this);
    progress.open(QRPrinter().progressCaption(), "Printing report " + m_title);
    const PrintOutcome outcome = printPages(m_pages, m_geometry.paper, *job, &progress);
    progress.close();
    if (outcome == PrintOutcome::Failed) {
        const QString failure = job->failure();
        m_dialogs.errorBox(failure.isEmpty() ? std::string("Printing failed")
                                             : failure.toStdString());
    }
}

// A saved report holds the recorded pages and the paper they were laid out on.
void TQRPreview::saveReport() {
    platform::FileDialogOptions options;
    options.title = "Save report";
    options.defaultExt = "QRP";
    options.filter = "Report files (*.QRP)|*.QRP|All Files (*.*)|*.*";
    options.overwritePrompt = true;
    const std::optional<std::string> path = m_dialogs.saveFileName(options);
    if (!path) return;
    QFile file(QFile::decodeName(QByteArray::fromStdString(*path)));
    if (!file.open(QIODevice::WriteOnly)) {
        m_dialogs.errorBox("Cannot create file " + *path);
        return;
    }
    QDataStream out(&file);
    out << kReportFileMagic << m_geometry.pageSize.size(QPageSize::Point) << m_geometry.paper
        << m_geometry.leftMargin << m_geometry.topMargin << quint32(m_pages.size());
    for (const QPicture& page : m_pages) out << page;
    if (out.status() != QDataStream::Ok || !file.flush()) m_dialogs.errorBox("Stream write error");
}

void TQRPreview::loadReport() {
    platform::FileDialogOptions options;
    options.title = "Load report";
    options.defaultExt = "QRP";
    options.filter = "Report files (*.QRP)|*.QRP|All Files (*.*)|*.*";
    const std::optional<std::string> path = m_dialogs.openFileName(options);
    if (!path) return;
    QFile file(QFile::decodeName(QByteArray::fromStdString(*path)));
    if (!file.open(QIODevice::ReadOnly)) {
        m_dialogs.errorBox("Cannot open file " + *path);
        return;
    }
    QDataStream in(&file);
    quint32 magic = 0;
    quint32 count = 0;
    PageGeometry geometry;
    QSizeF points;
    in >> magic >> points >> geometry.paper >> geometry.leftMargin >> geometry.topMargin >> count;
    std::vector<QPicture> pages;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        QPicture page;
        in >> page;
        pages.push_back(std::move(page));
    }
    if (magic != kReportFileMagic || in.status() != QDataStream::Ok) {
        m_dialogs.errorBox(*path + " is not a saved report");
        return;
    }
    geometry.pageSize = QPageSize(points, QPageSize::Point, QString(), QPageSize::FuzzyMatch);
    geometry.rightMargin = 0;
    geometry.bottomMargin = geometry.topMargin;
    m_geometry = std::move(geometry);
    m_pages = std::move(pages);
    showPage(1);
    applyZoom();
}

// ---------------------------------------------------------------------------------------------
// The preview operation

namespace {
bool g_previewRunning = false;
}  // namespace

bool previewRunning() {
    return g_previewRunning;
}

void previewReport(TQuickReport& report, platform::Dialogs& dialogs, PrintBackend& printer) {
    if (g_previewRunning) return;
    g_previewRunning = true;
    struct Release {
        ~Release() { g_previewRunning = false; }
    } release;

    TQRProgressWindow progress;
    PrepareOptions options;
    options.progress = &progress;
    options.paper = defaultPaperSize();
    std::optional<PreparedReport> prepared = prepareReport(report, options);
    if (!prepared) return;
    TQRPreview preview(recordPages(*prepared), prepared->geometry, report.ReportTitle, dialogs,
                       printer, QApplication::activeWindow());
    // Maximised; the geometry also covers desktops that leave window states to no manager.
    if (const QScreen* screen = preview.screen()) preview.setGeometry(screen->availableGeometry());
    preview.setWindowState(Qt::WindowMaximized);
    preview.exec();
}

}  // namespace pelmora::output
