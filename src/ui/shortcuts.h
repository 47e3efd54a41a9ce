// The hidden keyboard shortcuts, read while one of the program's own windows is in front, and
// the trace question that Ctrl+T asks. The command loop and the product loops that stand in for
// it look at them on every pass.
#pragma once

#include <cstdint>
#include <string>

namespace rompush {

constexpr int kCtrl = 0x11;
constexpr int kF12 = 0x7B;

bool KeyIsDown(std::int32_t virtualKey);
// One of the program's own windows is the foreground window.
bool OwnWindowInFront();
// Both keys of a shortcut held together.
bool ShortcutDown(int key1, int key2);
// Waits, processing events, until the shortcut's keys are no longer held together.
void WaitForRelease(int key1, int key2);
// The main window's caption while no trace runs.
std::string PlainCaption();
// Asks whether to start a trace and opens the trace file.
void TraceQuestion();
// Ctrl+T in one of the program's windows: the trace question, once the keys are released.
// Run on every pass of the command loop and of the product loops that stand in for it.
void TraceShortcut();

}  // namespace rompush
