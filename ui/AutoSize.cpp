#include "ui/AutoSize.h"

#include <QLabel>

namespace pelmora::ui {

void setAutoSizeText(QLabel* label, const QString& text) {
    label->setText(text);
    label->adjustSize();
}

}  // namespace pelmora::ui
