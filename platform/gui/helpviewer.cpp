// The help window: one non-modal window per owner showing the topics of the program's help
// file, its contents page and a keyword index with a search field.
#include "platform/gui/helpviewer.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QRegularExpression>
#include <QSplitter>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "platform/qt/displayname.h"

namespace pelmora::platform {

namespace {

std::string g_helpFile = "Pelmora.hlp";

QString attribute(const QString& tag, const QString& name) {
    const QRegularExpression re(QStringLiteral("(?:^|\\s)") + name +
                                QStringLiteral("\\s*=\\s*\"([^\"]*)\""));
    const QRegularExpressionMatch m = re.match(tag);
    return m.hasMatch() ? m.captured(1) : QString();
}

class HelpWindow : public QDialog {
  public:
    HelpWindow(QWidget* owner, const QString& file) : QDialog(owner, Qt::Window) {
        setObjectName(QStringLiteral("HelpWindow"));
        setAttribute(Qt::WA_DeleteOnClose);
        resize(640, 480);
        auto* layout = new QHBoxLayout(this);
        auto* splitter = new QSplitter(this);
        layout->addWidget(splitter);
        auto* side = new QWidget(splitter);
        auto* sideLayout = new QVBoxLayout(side);
        sideLayout->setContentsMargins(0, 0, 0, 0);
        sideLayout->addWidget(new QLabel(QStringLiteral("Type a keyword:"), side));
        m_search = new QLineEdit(side);
        m_search->setObjectName(QStringLiteral("KeywordSearch"));
        sideLayout->addWidget(m_search);
        m_index = new QListWidget(side);
        m_index->setObjectName(QStringLiteral("KeywordIndex"));
        sideLayout->addWidget(m_index);
        m_browser = new QTextBrowser(splitter);
        m_browser->setObjectName(QStringLiteral("Topic"));
        m_browser->setOpenLinks(false);
        splitter->setStretchFactor(1, 1);

        QFile f(file);
        if (f.open(QIODevice::ReadOnly)) m_topics = parseHelpText(QString::fromUtf8(f.readAll()));
        m_file = file;
        setWindowTitle(QStringLiteral("Pelmora Help"));
        fillIndex(QString());
        connect(m_search, &QLineEdit::textChanged, this,
                [this](const QString& t) { fillIndex(t); });
        connect(m_index, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
            showTopicId(item->data(Qt::UserRole).toString());
        });
        // Enter in the search field opens the highlighted keyword's topic; the arrow and page
        // keys move the highlight without leaving the field.
        connect(m_search, &QLineEdit::returnPressed, this, [this] {
            if (const QListWidgetItem* item = m_index->currentItem())
                showTopicId(item->data(Qt::UserRole).toString());
        });
        m_search->installEventFilter(this);
        connect(m_browser, &QTextBrowser::anchorClicked, this,
                [this](const QUrl& url) { showTopicId(url.toString()); });
    }

    bool showContext(int context) {
        for (const HelpTopic& t : m_topics)
            if (t.context == context && context != 0) return showTopic(t), true;
        m_browser->setHtml(QStringLiteral("<p>No help topic for context %1 in %2.</p>")
                               .arg(context)
                               .arg(m_file.toHtmlEscaped()));
        return false;
    }

    void showContents() {
        if (!showTopicId(QStringLiteral("contents")) && m_topics.empty())
            m_browser->setHtml(QStringLiteral("<p>The help file %1 cannot be read.</p>")
                                   .arg(m_file.toHtmlEscaped()));
    }

    void showSearch() {
        m_search->clear();
        m_search->setFocus();
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_search && event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp ||
                key == Qt::Key_PageDown) {
                QApplication::sendEvent(m_index, event);
                return true;
            }
        }
        return QDialog::eventFilter(watched, event);
    }

  private:
    bool showTopicId(const QString& id) {
        for (const HelpTopic& t : m_topics)
            if (t.id == id) return showTopic(t), true;
        return false;
    }

    void showTopic(const HelpTopic& t) {
        setWindowTitle(QStringLiteral("Pelmora Help - ") + t.title);
        m_browser->setHtml(QStringLiteral("<h2>") + t.title.toHtmlEscaped() +
                           QStringLiteral("</h2>") + t.html);
    }

    void fillIndex(const QString& prefix) {
        m_index->clear();
        QList<QPair<QString, QString>> entries;
        for (const HelpTopic& t : m_topics)
            for (const QString& k : t.keywords)
                if (k.startsWith(prefix, Qt::CaseInsensitive)) entries.append({k, t.id});
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            return a.first.compare(b.first, Qt::CaseInsensitive) < 0;
        });
        for (const auto& [keyword, id] : entries) {
            auto* item = new QListWidgetItem(keyword, m_index);
            item->setData(Qt::UserRole, id);
        }
        if (m_index->count() > 0) m_index->setCurrentRow(0);
    }

    std::vector<HelpTopic> m_topics;
    QString m_file;
    QLineEdit* m_search;
    QListWidget* m_index;
    QTextBrowser* m_browser;
};

class QtHelpViewer final : public HelpViewer {
  public:
    bool winHelp(QWidget* owner, const std::string& helpFile, unsigned command,
                 unsigned long data) override {
        if (command == HELP_QUIT) {
            if (m_window) m_window->close();
            return true;
        }
        if (command != HELP_CONTEXT && command != HELP_FINDER && command != HELP_PARTIALKEY)
            return false;
        const QString file = platform::displayName(helpFile);
        if (!m_window || m_file != file) {
            if (m_window) m_window->close();
            m_window = new HelpWindow(owner, file);
            m_file = file;
        }
        if (command == HELP_CONTEXT)
            m_window->showContext(static_cast<int>(data));
        else if (command == HELP_FINDER)
            m_window->showContents();
        else
            m_window->showSearch();
        m_window->show();
        m_window->raise();
        m_window->activateWindow();
        return true;
    }

  private:
    QPointer<HelpWindow> m_window;
    QString m_file;
};

}  // namespace

HelpViewer& qtHelpViewer() {
    static QtHelpViewer instance;
    return instance;
}

const std::string& applicationHelpFile() {
    return g_helpFile;
}
void setApplicationHelpFile(std::string path) {
    g_helpFile = std::move(path);
}

namespace {

// The text without its comments; an unterminated comment runs to the end.
QString withoutComments(const QString& text) {
    QString out;
    qsizetype from = 0;
    for (;;) {
        const qsizetype open = text.indexOf(QStringLiteral("<!--"), from);
        if (open < 0) break;
        out += QStringView(text).mid(from, open - from);
        const qsizetype close = text.indexOf(QStringLiteral("-->"), open + 4);
        if (close < 0) return out;
        from = close + 3;
    }
    out += QStringView(text).mid(from);
    return out;
}

}  // namespace

std::vector<HelpTopic> parseHelpText(const QString& source) {
    const QString text = withoutComments(source);
    std::vector<HelpTopic> topics;
    const QRegularExpression open(QStringLiteral("<topic\\b([^>]*)>"));
    qsizetype from = 0;
    for (;;) {
        const QRegularExpressionMatch m = open.match(text, from);
        if (!m.hasMatch()) break;
        const qsizetype bodyStart = m.capturedEnd(0);
        const qsizetype close = text.indexOf(QStringLiteral("</topic>"), bodyStart);
        const qsizetype bodyEnd = close < 0 ? text.size() : close;
        HelpTopic t;
        const QString tag = m.captured(1);
        t.id = attribute(tag, QStringLiteral("id"));
        t.title = attribute(tag, QStringLiteral("title"));
        t.context = attribute(tag, QStringLiteral("context")).toInt();
        for (const QString& k : attribute(tag, QStringLiteral("keywords")).split(QLatin1Char(';')))
            if (!k.trimmed().isEmpty()) t.keywords << k.trimmed();
        t.html = text.mid(bodyStart, bodyEnd - bodyStart).trimmed();
        topics.push_back(std::move(t));
        if (close < 0) break;
        from = close + 8;
    }
    return topics;
}

}  // namespace pelmora::platform
