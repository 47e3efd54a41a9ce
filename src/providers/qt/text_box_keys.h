// The keys of a text box the program reads key by key (the serial console): each key
// released goes to the model's KeyUp handler as a virtual key code; a locked box keeps its
// text while it keeps a caret the operator can see.
#pragma once

#include <QObject>

#include "ui/controls.h"

class QWidget;

namespace rompush::platform::qt {

class TextBoxKeys : public QObject {
  public:
    // Watches editor (a child of the box's view, which owns this object through it).
    TextBoxKeys(QWidget* editor, ui::TextBox& model);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    ui::TextBox& model_;
};

}  // namespace rompush::platform::qt
