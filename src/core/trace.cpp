#include "core/trace.h"

#include "core/state.h"

namespace rompush {

namespace {
constexpr std::size_t kIndentStep = 8;

void WriteLine(const std::string& line) {
    if (!g.trace.TraceOn || !g.trace.File)
        return;
    *g.trace.File << line << "\r\n";
    g.trace.File->flush();  // a trace is read after things went wrong: lose no line
}
}  // namespace

TraceScope::TraceScope(const std::string& entryText) : indented_(g.trace.TraceOn) {
    if (!indented_)
        return;
    g.trace.TraceIndent = std::string(kIndentStep, ' ') + g.trace.TraceIndent;
    WriteLine(g.trace.TraceIndent + entryText);
}

TraceScope::~TraceScope() {
    // Only the blanks this procedure added are taken away, so a trace switched on in the middle
    // of a procedure cannot shift the lines of its callers.
    if (indented_ && g.trace.TraceIndent.size() >= kIndentStep) {
        g.trace.TraceIndent.erase(0, kIndentStep);
    }
}

void TraceLine(const std::string& text) {
    if (g.trace.TraceOn)
        WriteLine(g.trace.TraceIndent + text);
}

void TraceRaw(const std::string& text) {
    WriteLine(text);
}

void TraceCommandMarker(const std::string& commandName) {
    if (!g.trace.TraceOn)
        return;
    WriteLine("");
    WriteLine("-----uicmd" + commandName);
    WriteLine("");
}

bool OpenTraceFile(const std::string& path) {
    auto file = std::make_shared<std::ofstream>(path, std::ios::binary | std::ios::trunc);
    if (!file->is_open())
        return false;
    g.trace.File = std::move(file);
    g.trace.FilePath = path;
    return true;
}

}  // namespace rompush
