// The About box AboutBox: the product picture, name and version; created once at start-up,
// hidden, and shown modally by Help > About....
//
// The box draws its own title bar, which carries the caption and no buttons: window managers
// differ in which hints make them drop a title bar's buttons (openbox keeps close, minimise and
// maximise whatever the hints say), so the box asks for no frame at all and has a fixed size.
// Dragging the title bar moves the box.
#pragma once

#include <QDialog>

#include "ui/Services.h"

class QLabel;
class QPushButton;

namespace pelmora::ui {

class TAboutBox : public QDialog {
    Q_OBJECT
  public:
    // Builds the box and runs FormCreate, which records the program in the store of `services`
    // (its result is ignored; an error goes to the error box of `services`).
    explicit TAboutBox(const Services& services, QWidget* parent = nullptr);

    QLabel* Caption = nullptr;      // the title bar: "Pelmora", no buttons
    QWidget* ClientArea = nullptr;  // 360 x 218 below the title bar; holds the controls
    QLabel* Image1 = nullptr;
    QLabel* ProductName = nullptr;
    QLabel* Version = nullptr;
    QPushButton* OKButton = nullptr;

    void FormCreate();
    void OKButtonClick();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    Services m_services;
    QPoint m_dragOffset;  // pointer position in the box while the title bar is dragged by hand
    bool m_dragging = false;
};

}  // namespace pelmora::ui
