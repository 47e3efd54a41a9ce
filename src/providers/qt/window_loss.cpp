#include "providers/qt/window_loss.h"

#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QWidget>
#include <cstdlib>

#include "providers/qt/qt_platform.h"

namespace rompush::platform::qt {

WindowLossWatch::WindowLossWatch(std::function<QWidget*()> mainWindow, std::function<void()> onLost)
    : mainWindow_(std::move(mainWindow)), onLost_(std::move(onLost)) {
    QCoreApplication::instance()->installNativeEventFilter(this);
}

WindowLossWatch::~WindowLossWatch() {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeNativeEventFilter(this);
}

bool WindowLossWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (lost_ || eventType != "xcb_generic_event_t" || message == nullptr)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    // Bit 7 marks an event sent by another client; a destruction is one all the same.
    if ((event->response_type & 0x7F) != XCB_DESTROY_NOTIFY)
        return false;
    const auto* destroyed = static_cast<const xcb_destroy_notify_event_t*>(message);
    QWidget* main = mainWindow_ ? mainWindow_() : nullptr;
    if (main == nullptr || main->internalWinId() == 0 ||
        destroyed->window != static_cast<xcb_window_t>(main->internalWinId()))
        return false;
    // The program only ever hides its main window; destroyed, it was destroyed from outside.
    // The close handler runs once this event has been delivered, as a click on the window's
    // close box would run it.
    lost_ = true;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [this] { RunCloseHandler(onLost_); }, Qt::QueuedConnection);
    return false;
}

namespace {
// What the exit hook runs: set while a guard lives. The hook itself can only be a plain
// function, registered with atexit once.
std::function<void()> exitShutDown;

void RunExitShutDown() {
    const std::function<void()> shutDown = std::move(exitShutDown);
    exitShutDown = nullptr;
    if (!shutDown)
        return;
    try {
        shutDown();
    } catch (...) {
        // The process is ending; the shut-down did what it could.
    }
}
}  // namespace

ExitShutDownGuard::ExitShutDownGuard(std::function<void()> shutDown) {
    static const bool registered = std::atexit(RunExitShutDown) == 0;
    (void)registered;
    exitShutDown = std::move(shutDown);
}

ExitShutDownGuard::~ExitShutDownGuard() {
    exitShutDown = nullptr;
}

}  // namespace rompush::platform::qt
