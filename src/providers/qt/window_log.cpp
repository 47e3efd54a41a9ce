#include "providers/qt/window_log.h"

#include <algorithm>
#include <cinttypes>

#include "platform/platform.h"

namespace rompush::platform::qt {

namespace {
// Longer texts are logged line by line only.
constexpr std::size_t kWholeTextLimit = 2048;
// The window that is not a dialog: nothing is in front of it while it alone is shown.
constexpr const char* kMainWindow = "frmUI";

std::string ColourText(ui::Colour colour) {
    char text[12];
    std::snprintf(text, sizeof text, "&H%08" PRIX32, static_cast<std::uint32_t>(colour));
    return text;
}

std::string Joined(const std::vector<std::string>& items, const char* separator) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : separator) + items[i];
    return text;
}

const char* IconName(int style) {
    switch (style & 0x70) {
        case mb::kCritical:
            return "Critical";
        case mb::kQuestion:
            return "Question";
        case mb::kExclamation:
            return "Exclamation";
        case mb::kInformation:
            return "Information";
        default:
            return "";
    }
}

}  // namespace

bool WindowLog::Open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "a");
    return file_ != nullptr;
}

WindowLog::~WindowLog() {
    if (file_)
        std::fclose(file_);
}

void WindowLog::Note(const std::string& key, const std::string& value) {
    auto [it, added] = shown_.try_emplace(key, value);
    if (!added && it->second == value)
        return;
    it->second = value;
    Write(key, value);
}

void WindowLog::RecordKeyboard(bool held, int commandByte) {
    if (file_ == nullptr)
        return;
    Note("Keyboard.ControllerHeld", held ? "True" : "False");
    if (commandByte >= 0) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02X", commandByte & 0xFF);
        Note("Keyboard.CommandByte", hex);
    }
}

void WindowLog::Write(const std::string& key, const std::string& value) {
    // A caption may hold line breaks; the log keeps one change a line, each break (CR LF, CR
    // or LF) written as one "|".
    std::string flat;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n')
            continue;
        flat += c == '\r' || c == '\n' ? '|' : c;
    }
    std::fprintf(file_, "%s = %s\n", key.c_str(), flat.c_str());
    std::fflush(file_);
}

void WindowLog::NoteLines(const std::string& key, const std::string& text) {
    std::string& seen = texts_[key];
    if (text == seen)
        return;
    std::string& partial = partial_[key];
    std::size_t from = 0;
    if (text.compare(0, seen.size(), seen) == 0) {
        from = seen.size();  // the box grew
    } else {
        // A console that dropped its oldest lines still ends with what was seen before,
        // followed by what is new; any other change is a new text from its start.
        const std::size_t start =
            seen.find(text.substr(0, std::min<std::size_t>(text.size(), 256)));
        if (start != std::string::npos &&
            text.compare(0, seen.size() - start, seen, start, std::string::npos) == 0) {
            from = seen.size() - start;
        } else {
            partial.clear();
        }
    }
    for (std::size_t i = from; i < text.size(); ++i) {
        if (text[i] == '\n') {
            if (!partial.empty() && partial.back() == '\r')
                partial.pop_back();
            Write(key + ".Line", partial);
            partial.clear();
        } else {
            partial += text[i];
        }
    }
    seen = text;
    // The line being written (a prompt waiting for its answer).
    Note(key + ".Tail", partial);
}

void WindowLog::Record(ui::Form& form) {
    if (!file_)
        return;
    Note(form.Name + ".Caption", form.Caption);
    Note(form.Name + ".Visible", form.Visible ? "True" : "False");
    Note(form.Name + ".Enabled", form.Enabled ? "True" : "False");
    for (const ui::Control* control : form.Controls())
        RecordControl(form.Name + "." + control->Name, *control);

    if (form.Name == kMainWindow)
        return;
    const auto open = std::find_if(openForms_.begin(), openForms_.end(),
                                   [&form](const auto& entry) { return entry.first == form.Name; });
    if (!form.Visible) {
        if (open != openForms_.end())
            openForms_.erase(open);
    } else if (open == openForms_.end()) {
        openForms_.emplace_back(form.Name, form.Caption);
    } else {
        open->second = form.Caption;
    }
}

void WindowLog::RecordControl(const std::string& key, const ui::Control& control) {
    Note(key + ".Caption", control.Caption);
    Note(key + ".Enabled", control.Enabled ? "True" : "False");
    Note(key + ".Visible", control.Visible ? "True" : "False");
    Note(key + ".BackColor", ColourText(control.BackColor));
    // A place is measured in the frame or picture the control sits in; the container's name
    // lets a script add up the places to where the control is in the window.
    if (control.Container)
        Note(key + ".Container", control.Container->Name);
    switch (control.Kind) {
        case ui::ControlKind::ComboBox: {
            // Its entries, and its choice as the operator reads it.
            const auto& list = static_cast<const ui::ComboBox&>(control);
            Note(key + ".List", Joined(list.Items, "|"));
            Note(key + ".Text", list.Text());
            break;
        }
        case ui::ControlKind::TextBox: {
            // Short texts whole, and the lines of a long one (the console) as it completes
            // them.
            const auto& box = static_cast<const ui::TextBox&>(control);
            if (box.Text.size() <= kWholeTextLimit)
                Note(key + ".Text", box.Text);
            if (box.MultiLine)
                NoteLines(key, box.Text);
            break;
        }
        case ui::ControlKind::StatusBar: {
            const auto& bar = static_cast<const ui::StatusBar&>(control);
            for (std::size_t i = 0; i < bar.Panels.size(); ++i)
                Note(key + ".Panel" + std::to_string(i + 1), bar.Panels[i].Text);
            break;
        }
        case ui::ControlKind::OptionButton:
            Note(key + ".Value",
                 static_cast<const ui::OptionButton&>(control).Value ? "True" : "False");
            break;
        case ui::ControlKind::ProgressBar: {
            const auto& bar = static_cast<const ui::ProgressBar&>(control);
            Note(key + ".Value", std::to_string(bar.Value) + " of " + std::to_string(bar.Max));
            break;
        }
        default:
            break;
    }
    Note(key + ".Place", std::to_string(control.Left) + " " + std::to_string(control.Top) + " " +
                             std::to_string(control.Width) + " " + std::to_string(control.Height));
}

void WindowLog::EndPass() {
    if (!file_)
        return;
    std::string front;
    if (!openBoxes_.empty()) {
        front = openBoxes_.back();
    } else if (!openForms_.empty()) {
        front = openForms_.back().first + ": " + openForms_.back().second;
    }
    Note("Dialog", front);
}

void WindowLog::MessageBoxShown(const std::string& title, const std::string& text, int style) {
    if (!file_)
        return;
    // Every box is written whole, also one that says the same as the one before.
    Write("MsgBox.Title", title);
    Write("MsgBox.Text", text);
    Write("MsgBox.Icon", IconName(style));
    const std::vector<int> buttons = mb::AnswersOf(style);
    std::vector<std::string> names;
    for (const int answer : buttons)
        names.push_back(mb::AnswerCaption(answer));
    Write("MsgBox.Buttons", Joined(names, " "));
    const bool secondIsDefault = (style & mb::kDefaultButton2) != 0 && buttons.size() > 1;
    Write("MsgBox.Default", names[secondIsDefault ? 1 : 0]);
    openBoxes_.push_back("MsgBox: " + title);
    EndPass();
}

void WindowLog::MessageBoxAnswered(int answer) {
    if (!file_ || openBoxes_.empty())
        return;
    openBoxes_.pop_back();
    Write("MsgBox.Answer", mb::AnswerCaption(answer));
    EndPass();
}

void WindowLog::FileDialogShown(const std::string& kind, const std::string& title) {
    if (!file_)
        return;
    Write("FileDialog.Title", title);
    openBoxes_.push_back(kind + ": " + title);
    EndPass();
}

void WindowLog::FileDialogAnswered(const std::string& path) {
    if (!file_ || openBoxes_.empty())
        return;
    openBoxes_.pop_back();
    Write("FileDialog.Answer", path);
    EndPass();
}

}  // namespace rompush::platform::qt
