#include "ui/about.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "platform/gui/dialogs.h"
#include "ui/Unit1.h"
#include "ui/artwork.h"

namespace pelmora::ui {

namespace {

QFont arial(int pixels, bool bold) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

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

}  // namespace

TAboutBox::TAboutBox(RegistryWriter writeRegistryEntries, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_writeRegistryEntries(writeRegistryEntries) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("Pelmora"));
    setModal(true);
    setFont(arial(13, false));
    setFixedSize(360, 218);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(productPicture());
    Image1->setGeometry(8, 10, 147, 200);

    ProductName = textLabel(this, "ProductName", 170, 10, arial(19, true), QColor(0, 0, 0x80));
    setAutoSizeText(ProductName, QStringLiteral("Pelmora"));
    Version = textLabel(this, "Version", 170, 34, arial(11, true), QColor(0x80, 0, 0));

    OKButton = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton),
                               QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    QFont buttonFont(QStringLiteral("MS Sans Serif"));
    buttonFont.setPixelSize(12);
    buttonFont.setBold(true);
    OKButton->setFont(buttonFont);
    OKButton->setGeometry(222, 183, 57, 27);
    OKButton->setDefault(true);
    OKButton->setFocus(Qt::OtherFocusReason);
    connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });

    platform::runGuarded([this] { FormCreate(); });
}

void TAboutBox::FormCreate() {
    setAutoSizeText(Version, QStringLiteral("Version 2.0"));
    if (m_writeRegistryEntries != nullptr)
        static_cast<void>(m_writeRegistryEntries("Quillon", "Pelmora", "2.0"));
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

}  // namespace pelmora::ui
