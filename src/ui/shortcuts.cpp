#include "ui/shortcuts.h"

#include <filesystem>
#include <string>

#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "core/wait.h"
#include "platform/platform.h"
#include "ui/main_window.h"

namespace rompush {

namespace {
constexpr int kKeyT = 0x54;
// A wait for the keys' release sleeps at most this long; the key events wake it at once.
constexpr int kReleaseSliceMs = 50;
}  // namespace

bool OwnWindowInFront() {
    std::string title = platform::Current().desktop->ForegroundWindowTitle();
    if (title.size() > 1024)
        title.resize(1024);
    return Trim(title).substr(0, 7) == kProgramName;
}

// Both keys of a shortcut held together in one of the program's windows. Each key's own
// "pressed since" memory is no help here: a T pressed alone long ago and a Ctrl pressed alone
// now would read as Ctrl+T.
bool ShortcutDown(int key1, int key2) {
    return platform::Current().desktop->KeysDownTogether(key1, key2);
}

void WaitForRelease(int key1, int key2) {
    while (ShortcutDown(key1, key2))
        platform::Current().events->WaitForEvents(kReleaseSliceMs);
}

std::string PlainCaption() {
    return " RomPush Utility";
}

bool KeyIsDown(std::int32_t virtualKey) {
    return platform::Current().desktop->AsyncKeyDown(virtualKey);
}

void TraceQuestion() {
    auto& form = frmUI();
    const int answer = platform::Current().dialogs->MsgBox(
        "        FOR DIAGNOSTICS ONLY  \r\n  \r\nStart program trace and save to file?  ",
        platform::mb::kYesNo + platform::mb::kQuestion, "RomPush Utility");
    if (answer != platform::mb::kAnswerYes) {
        g.trace.TraceOn = false;
        form.Caption = PlainCaption();
        return;
    }
    platform::FileDialogRequest request;
    request.fileName = "*.txt";
    request.title = "SAVE TRACE FILE";
    request.filter = "Text Files (*.txt)|*.txt|All Files (*.*)|*.*";
    request.initDir = platform::Current().system->HomeFolder();
    const std::string path = platform::Current().dialogs->ShowSave(request);
    if (path == "*.txt") {
        g.trace.TraceOn = false;
        form.Caption = PlainCaption();
        return;
    }
    std::error_code ignored;
    std::filesystem::current_path(platform::Current().system->ProgramFolder(), ignored);
    Delay(100);
    // Tracing is switched on only with the file open; a file that cannot be written is said
    // and leaves tracing off.
    if (!OpenTraceFile(path)) {
        g.trace.TraceOn = false;
        form.Caption = PlainCaption();
        platform::Current().dialogs->MsgBox("The trace file cannot be opened:\r\n" + path,
                                            platform::mb::kExclamation + platform::mb::kOk,
                                            "RomPush Utility");
        return;
    }
    g.trace.TraceOn = true;
    TraceRaw(std::string("RomPush Ver ") + kVersion);
    TraceRaw("");
    form.Caption = std::string(" ") + kProgramName + " TRACE FILE: " + path;
}

void TraceShortcut() {
    const bool traceKeys = ShortcutDown(kCtrl, kKeyT);
    if (traceKeys && OwnWindowInFront()) {
        WaitForRelease(kCtrl, kKeyT);
        TraceQuestion();
    }
}

}  // namespace rompush
