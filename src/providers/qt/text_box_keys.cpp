#include "providers/qt/text_box_keys.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <functional>

#include "providers/qt/qt_platform.h"

namespace rompush::platform::qt {

TextBoxKeys::TextBoxKeys(QWidget* editor, ui::TextBox& model) : QObject(editor), model_(model) {
    editor->installEventFilter(this);
    if (!model.Locked)
        return;
    if (auto* multi = qobject_cast<QPlainTextEdit*>(editor)) {
        multi->setReadOnly(true);
        multi->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    } else if (auto* single = qobject_cast<QLineEdit*>(editor)) {
        single->setReadOnly(true);
    }
}

bool TextBoxKeys::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease && model_.KeyUp) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const int code = VirtualKeyOf(key->key());
        // A key held down repeats its press, not its release: one release, one key.
        if (code != 0 && !key->isAutoRepeat()) {
            const std::function<void(int)> handler = model_.KeyUp;
            RunHandler([handler, code] { handler(code); });
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace rompush::platform::qt
