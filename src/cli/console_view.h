// The window on a terminal: after every pass of event processing it looks at the main window's
// models and prints what changed: the status line (lblPASS on frmPASS), the error text that
// DisplayError put on a step's label, and the progress bar (ProgressBar1) as a bar on a
// terminal or as plain lines otherwise. Nothing is worked out here: it shows what the
// procedures wrote.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace rompush::cli {

class ConsoleView {
  public:
    // prefix starts every line ("COM3: " when several ports share the terminal); bar: draw the
    // progress bar in place (a terminal), else plain lines every tenth.
    ConsoleView(std::FILE* out, bool bar, std::string prefix);

    // Shows what changed in the window since the last look.
    void Render();
    // A line of the front end's own (the identified device, a refusal).
    void Line(const std::string& text);
    // A message box's text.
    void Notice(const std::string& title, const std::string& text);

    // A command starts: the status line texts shown from now on are collected anew.
    void BeginCommand();
    bool Shown(const std::string& statusText) const;
    // The status line texts shown since the command started.
    const std::vector<std::string>& ShownTexts() const { return shown_; }

    // The last error the window showed: its code and the text on the step's label.
    int ErrorCode() const { return errorCode_; }
    const std::string& ErrorText() const { return errorText_; }

  private:
    void Print(const std::string& text);
    void DrawBar(int percent);
    void ClearBar();

    std::FILE* out_;
    bool bar_;
    std::string prefix_;
    std::string caption_;
    std::vector<std::string> shown_;
    int percent_ = -1;
    bool barDrawn_ = false;
    int errorCode_ = 0;
    std::string errorText_;
};

}  // namespace rompush::cli
