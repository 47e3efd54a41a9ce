#include "platform/qt/window_log.h"

#include <algorithm>

namespace rompush::platform::qt {

namespace {
// Longer texts are logged line by line only.
constexpr std::size_t kWholeTextLimit = 2048;
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
    // A caption may hold line breaks; the log keeps one change a line.
    std::string flat = value;
    for (char& c : flat) {
        if (c == '\r' || c == '\n')
            c = '|';
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
    for (const ui::Control* control : form.Controls()) {
        const std::string key = form.Name + "." + control->Name;
        Note(key + ".Caption", control->Caption);
        Note(key + ".Enabled", control->Enabled ? "True" : "False");
        Note(key + ".Visible", control->Visible ? "True" : "False");
        // A place is measured in the frame or picture the control sits in; the container's
        // name lets a script add up the places to where the control is in the window.
        if (control->Container)
            Note(key + ".Container", control->Container->Name);
        // A list's choice, as the operator reads it.
        if (control->Kind == ui::ControlKind::ComboBox)
            Note(key + ".Text", static_cast<const ui::ComboBox*>(control)->Text());
        // A text box's text: short ones whole, and the lines of a long one (the console) as
        // it completes them.
        if (control->Kind == ui::ControlKind::TextBox) {
            const auto* box = static_cast<const ui::TextBox*>(control);
            if (box->Text.size() <= kWholeTextLimit)
                Note(key + ".Text", box->Text);
            if (box->MultiLine)
                NoteLines(key, box->Text);
        }
        Note(key + ".Place", std::to_string(control->Left) + " " + std::to_string(control->Top) +
                                 " " + std::to_string(control->Width) + " " +
                                 std::to_string(control->Height));
    }
}

}  // namespace rompush::platform::qt
