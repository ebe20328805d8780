#include "ui/AboutBox.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <qdrawutil.h>
#include <QStyle>

#include "platform/gui/dialogs.h"
#include "platform/qt/fonts.h"
#include "platform/registry.h"
#include "ui/AutoSize.h"
#include "ui/Colours.h"
#include "ui/Artwork.h"
#include "ui/ErrorPolicy.h"

namespace pelmora::ui {

namespace {

QLabel* textLabel(QWidget* parent, const char* name, int left, int top, const QFont& font,
                  const QColor& colour) {
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setAttribute(Qt::WA_TranslucentBackground);
    l->setTextFormat(Qt::PlainText);
    l->setFont(font);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, colour);
    l->setPalette(p);
    l->move(left, top);
    return l;
}

constexpr int kBorder = 2;          // the raised edge around the box
constexpr int kCaptionHeight = 18;  // the title bar
const QSize kClientSize(360, 218);

}  // namespace

TAboutBox::TAboutBox(const Services& services, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_services(services) {
    setObjectName(QStringLiteral("AboutBox"));
    const QString caption = QStringLiteral("Pelmora");
    setWindowTitle(caption);
    setModal(true);
    setFont(platform::arialFont(13, false));
    setPalette(classicPalette());  // the navy and maroon texts on the box's designed grey
    setFixedSize(kClientSize.width() + 2 * kBorder,
                 kClientSize.height() + kCaptionHeight + 2 * kBorder);

    Caption = new QLabel(caption, this);
    Caption->setObjectName(QStringLiteral("Caption"));
    Caption->setTextFormat(Qt::PlainText);
    Caption->setFont(platform::arialFont(13, true));
    Caption->setIndent(4);
    Caption->setAutoFillBackground(true);
    Caption->setBackgroundRole(QPalette::Highlight);
    Caption->setForegroundRole(QPalette::HighlightedText);
    Caption->setGeometry(kBorder, kBorder, kClientSize.width(), kCaptionHeight);
    Caption->installEventFilter(this);

    ClientArea = new QWidget(this);
    ClientArea->setObjectName(QStringLiteral("ClientArea"));
    ClientArea->setGeometry(QRect(QPoint(kBorder, kBorder + kCaptionHeight), kClientSize));
    QWidget* client = ClientArea;

    Image1 = new QLabel(client);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(productPicture());
    Image1->setGeometry(8, 10, 147, 200);

    ProductName = textLabel(client, "ProductName", 170, 10, platform::arialFont(19, true), kNavy);
    setAutoSizeText(ProductName, QStringLiteral("Pelmora"));
    Version = textLabel(client, "Version", 170, 34, platform::arialFont(11, true), kMaroon);

    OKButton = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton),
                               QStringLiteral("OK"), client);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    QFont buttonFont(QStringLiteral("MS Sans Serif"));
    buttonFont.setPixelSize(12);
    buttonFont.setBold(true);
    OKButton->setFont(buttonFont);
    OKButton->setGeometry(222, 183, 57, 27);
    OKButton->setDefault(true);
    OKButton->setFocus(Qt::OtherFocusReason);
    connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });

    runGuarded(*m_services.dialogs, [this] { FormCreate(); });
}

void TAboutBox::FormCreate() {
    setAutoSizeText(Version, QStringLiteral("Version 2.0"));
    if (m_services.registry != nullptr)
        static_cast<void>(m_services.registry->WriteRegistryEntries(m_services.programPath,
                                                                    "Quillon", "Pelmora", "2.0"));
}

void TAboutBox::OKButtonClick() {
    hide();
    done(QDialog::Accepted);
}

void TAboutBox::keyPressEvent(QKeyEvent* event) {
    // The box has no cancel button: Escape does not close it.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TAboutBox::showEvent(QShowEvent* event) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    OKButton->setFocus(Qt::OtherFocusReason);
    QDialog::showEvent(event);
}

void TAboutBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    qDrawWinPanel(&painter, rect(), palette(), false, &palette().brush(QPalette::Window));
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched != Caption || (type != QEvent::MouseButtonPress && type != QEvent::MouseMove &&
                               type != QEvent::MouseButtonRelease))
        return QDialog::eventFilter(watched, event);
    // The title bar moves the box: through the window system where it can, else by hand.
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (type == QEvent::MouseButtonPress) {
        if (mouse->button() != Qt::LeftButton) return true;
        m_dragging = windowHandle() == nullptr || !windowHandle()->startSystemMove();
        m_dragOffset = mouse->globalPosition().toPoint() - pos();
    } else if (type == QEvent::MouseMove) {
        if (m_dragging && (mouse->buttons() & Qt::LeftButton))
            move(mouse->globalPosition().toPoint() - m_dragOffset);
    } else {
        m_dragging = false;
    }
    return true;
}

}  // namespace pelmora::ui
