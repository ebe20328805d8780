// The About box AboutBox: the product picture, name and version; created once at start-up,
// hidden, and shown modally by Help > About....
#pragma once

#include <QDialog>
#include <string_view>

class QLabel;
class QPushButton;

namespace pelmora::ui {

class TAboutBox : public QDialog {
    Q_OBJECT
  public:
    // The step that records the program in the system's store: (maker, product, version);
    // its result is ignored. Start-up passes app::WriteRegistryEntries.
    using RegistryWriter = bool (*)(std::string_view maker, std::string_view product,
                                    std::string_view version);

    // Builds the box and runs FormCreate (an error in it goes to the error box).
    explicit TAboutBox(RegistryWriter writeRegistryEntries = nullptr, QWidget* parent = nullptr);

    QLabel* Image1 = nullptr;
    QLabel* ProductName = nullptr;
    QLabel* Version = nullptr;
    QPushButton* OKButton = nullptr;

    void FormCreate();
    void OKButtonClick();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    RegistryWriter m_writeRegistryEntries;
};

}  // namespace pelmora::ui
