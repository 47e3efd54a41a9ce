// The diagnostic trace: one line when a traced procedure is entered, detail lines with values,
// command markers. Every line is guarded by TraceOn and indented by TraceIndent, which grows by
// 8 blanks for each traced procedure the program is inside.
#pragma once

#include <string>

namespace rompush {

// Entered at the top of a traced procedure: writes the entry line indented 8 blanks deeper and
// takes the 8 blanks away again on every way out of the procedure.
class TraceScope {
  public:
    explicit TraceScope(const std::string& entryText);
    ~TraceScope();
    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;

  private:
    bool indented_;
};

// TraceIndent + text, when tracing.
void TraceLine(const std::string& text);
// The text without indentation (command markers, the version line), when tracing.
void TraceRaw(const std::string& text);
// "", "-----uicmd" + name, "" written by the command buttons.
void TraceCommandMarker(const std::string& commandName);

// Booleans are traced as "True" and "False".
inline const char* BoolText(bool value) {
    return value ? "True" : "False";
}

// Opens the trace file (created or truncated) as the trace channel. False, with tracing left
// as it was, when the file cannot be opened.
bool OpenTraceFile(const std::string& path);

}  // namespace rompush
