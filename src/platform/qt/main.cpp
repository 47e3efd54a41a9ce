// rompush: the program on a Linux desktop. Puts the Qt window system and the Linux serial
// port, clock and folders under the program's logic, shows its windows and runs it until the
// main window is closed.
#include <QApplication>
#include <QStyleFactory>
#include <cstdlib>

#include "core/main_loop.h"
#include "core/state.h"
#include "platform/platform.h"
#include "platform/posix/port_map.h"
#include "platform/posix/serial_port.h"
#include "platform/posix/steady_clock.h"
#include "platform/qt/form_renderer.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/window_log.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The windows' colours come from their models; Fusion draws them as given.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // Closing a window never ends the program by itself: the main window's shut-down does.
    QApplication::setQuitOnLastWindowClosed(false);

    namespace platform = rompush::platform;
    platform::qt::QtSystem system;
    platform::posix::SteadyClock clock;
    platform::qt::QtEventLoop events;
    platform::qt::QtTimer timer;
    platform::qt::QtDialogs dialogs;
    platform::qt::QtDesktop desktop;
    platform::posix::PosixSerialPort serial{platform::posix::PortMap(system.ProgramFolder())};

    // Received bytes wake the event processing; bytes already collected keep it from sleeping.
    serial.SetFdWatcher([&events, &serial](int fd) {
        events.WatchReadable(fd, [&serial] { serial.OnReadable(); });
    });
    events.SetInputPending(
        [&serial] { return serial.TakeReadProgress() && serial.Buffered() > 0; });

    platform::qt::FormRenderer renderer(events);
    renderer.AddForm([] { return &rompush::frmUI(); });
    renderer.AddForm([]() -> rompush::ui::Form* { return &rompush::g.forms->frmComParameters; });
    // ROMPUSH_WINDOW_LOG names a file that records every change the windows show, for
    // scripts that drive the program through its real window.
    platform::qt::WindowLog windowLog;
    const char* windowLogPath = std::getenv("ROMPUSH_WINDOW_LOG");
    const bool logging = windowLogPath && *windowLogPath && windowLog.Open(windowLogPath);
    events.SetRenderer([&renderer, &windowLog, logging] {
        renderer.Sync();
        if (logging) {
            windowLog.Record(rompush::frmUI());
            windowLog.Record(rompush::g.forms->frmComParameters);
        }
    });

    platform::Install({.serial = &serial,
                       .timer = &timer,
                       .clock = &clock,
                       .events = &events,
                       .dialogs = &dialogs,
                       .desktop = &desktop,
                       .system = &system});

    try {
        rompush::Main();
    } catch (const platform::ProgramEnded&) {
    }
    // Nothing may call back into the windows once they are gone.
    events.SetRenderer(nullptr);
    serial.SetFdWatcher(nullptr);
    events.WatchReadable(-1, nullptr);
    return 0;
}
