#include "platform/qt/window_log.h"

namespace rompush::platform::qt {

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
    // A caption may hold line breaks; the log keeps one change a line.
    std::string flat = value;
    for (char& c : flat) {
        if (c == '\r' || c == '\n')
            c = '|';
    }
    std::fprintf(file_, "%s = %s\n", key.c_str(), flat.c_str());
    std::fflush(file_);
}

void WindowLog::Record(ui::Form& form) {
    if (!file_)
        return;
    Note(form.Name + ".Caption", form.Caption);
    Note(form.Name + ".Visible", form.Visible ? "True" : "False");
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
        // A one-line box's text (a console's text would fill the log).
        if (control->Kind == ui::ControlKind::TextBox) {
            const auto* box = static_cast<const ui::TextBox*>(control);
            if (!box->MultiLine)
                Note(key + ".Text", box->Text);
        }
        Note(key + ".Place", std::to_string(control->Left) + " " + std::to_string(control->Top) +
                                 " " + std::to_string(control->Width) + " " +
                                 std::to_string(control->Height));
    }
}

}  // namespace rompush::platform::qt
