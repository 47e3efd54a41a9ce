// The main window lost from outside: its X connection broken (the X server ended, or the
// program's client killed with xkill or xdotool windowkill) or its window destroyed by another
// program. The operator can then neither see nor close the window, so the program ends as when
// the window is closed: the main window's shut-down gives the keyboard controller back and
// closes the port first.
#pragma once

#include <QAbstractNativeEventFilter>
#include <functional>

class QWidget;

namespace rompush::platform::qt {

// Watches the X events for the destruction of the main window's X window and then runs the
// close handler, as a close of the window would. Installs itself on the application while it
// lives.
class WindowLossWatch : public QAbstractNativeEventFilter {
  public:
    // mainWindow: the main window's widget now (nullptr before it is built); onLost: its
    // close handler.
    WindowLossWatch(std::function<QWidget*()> mainWindow, std::function<void()> onLost);
    ~WindowLossWatch() override;
    WindowLossWatch(const WindowLossWatch&) = delete;
    WindowLossWatch& operator=(const WindowLossWatch&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    std::function<QWidget*()> mainWindow_;
    std::function<void()> onLost_;
    bool lost_ = false;
};

// Qt ends a program whose X connection broke by calling exit() from inside its event
// processing, past every handler of the program. While a guard lives, `shutDown` runs on that
// exit (once), so the controller is given back before the process goes. The guard is
// dropped before the objects the shut-down uses are, so a normal end does not run it.
class ExitShutDownGuard {
  public:
    explicit ExitShutDownGuard(std::function<void()> shutDown);
    ~ExitShutDownGuard();
    ExitShutDownGuard(const ExitShutDownGuard&) = delete;
    ExitShutDownGuard& operator=(const ExitShutDownGuard&) = delete;
};

}  // namespace rompush::platform::qt
