// The labels of the windows size to their text.
#pragma once

class QLabel;
class QString;

namespace pelmora::ui {

// Sets a label's text and sizes the label to it.
void setAutoSizeText(QLabel* label, const QString& text);

}  // namespace pelmora::ui
