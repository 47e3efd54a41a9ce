// rompush: the program on a Linux desktop. Puts the Qt window system and the Linux serial
// port, keyboard controller, clock and folders under the program's logic, shows its windows
// and runs it until the main window is closed.
//
// For demonstrations without a keyboard-port device, --sim-ps2=<model> or the environment
// setting ROMPUSH_SIM_PS2=<model> (monolink, orbit-tiny, orbit-mini, prisma) puts a simulated
// keyboard controller with that device behind "PS/2", on the real clock. Its flash and
// configuration live in memory for the run.
#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "app/main_loop.h"
#include "core/state.h"
#include "platform/platform.h"
#include "providers/posix/port_map.h"
#include "providers/posix/port_watcher.h"
#include "providers/posix/serial_port.h"
#include "providers/posix/steady_clock.h"
#include "providers/qt/button_map_dialog.h"
#include "providers/qt/config_dialogs.h"
#include "providers/qt/crossfield_dialogs.h"
#include "providers/qt/form_renderer.h"
#include "providers/qt/help_dialogs.h"
#include "providers/qt/qt_platform.h"
#include "providers/qt/window_log.h"
#include "providers/qt/window_loss.h"
#include "providers/sim/sim_platform.h"
#include "providers/sim/steady_keyboard.h"

namespace {

// The simulated keyboard-port device asked for, if any: the command line first.
std::optional<rompush::sim::KvmModel> SimulatedPs2Model(int argc, char** argv) {
    const char* name = std::getenv("ROMPUSH_SIM_PS2");
    constexpr const char* kSwitch = "--sim-ps2=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], kSwitch, std::strlen(kSwitch)) == 0)
            name = argv[i] + std::strlen(kSwitch);
    }
    if (name == nullptr || *name == '\0')
        return std::nullopt;
    auto model = rompush::sim::KvmModelByName(name);
    if (!model)
        std::fprintf(stderr,
                     "rompush: no simulated keyboard-port device \"%s\" (monolink, "
                     "orbit-tiny, orbit-mini, prisma); using the real keyboard controller\n",
                     name);
    return model;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The windows' colours come from their models; Fusion draws them as given.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // Closing a window never ends the program by itself: the main window's shut-down does.
    QApplication::setQuitOnLastWindowClosed(false);
    // The desktop's menu entry and the windows' icon, where the program's files are.
    QGuiApplication::setDesktopFileName(QStringLiteral("rompush"));
    for (const std::string& folder : rompush::platform::qt::ProgramDataFolders()) {
        const QString icon = QFile::decodeName(QByteArray::fromStdString(folder + "/rompush.png"));
        if (QFile::exists(icon)) {
            QApplication::setWindowIcon(QIcon(icon));
            break;
        }
    }

    namespace platform = rompush::platform;
    platform::qt::QtSystem system;
    platform::posix::SteadyClock clock;
    platform::qt::QtEventLoop events;
    platform::qt::QtTimer timer;
    platform::qt::QtDialogs dialogs;
    platform::qt::QtDesktop desktop;
    platform::qt::QtHelpViewer help;
    platform::posix::PosixSerialPort serial{platform::posix::PortMap(system.ProgramFolder())};
    // The port list follows adapters plugged in and pulled out while the window is idle (its
    // idle passes ask; they run several times a second anyway).
    platform::posix::PortWatcher portWatcher(system.ProgramFolder());

    const auto keyboard = platform::sim::SteadyClockKeyboard(SimulatedPs2Model(argc, argv));

    // Received bytes wake the event processing; bytes already collected keep it from sleeping.
    serial.SetFdWatcher([&events, &serial](int fd) {
        events.WatchReadable(fd, [&serial] { serial.OnReadable(); });
    });
    events.SetInputPending(
        [&serial] { return serial.TakeReadProgress() && serial.Buffered() > 0; });

    platform::qt::FormRenderer renderer(events);
    renderer.AddForm([] { return &rompush::frmUI(); });
    desktop.SetControlLookup(
        [&renderer](const std::string& name) { return renderer.MainWindowControl(name); });
    renderer.AddForm([]() -> rompush::ui::Form* { return &rompush::g.forms->frmComParameters; });
    platform::qt::AddConfigDialogs(renderer);
    platform::qt::AddHelpDialogs(renderer);
    platform::qt::AddCrossfieldDialogs(renderer);
    platform::qt::AddButtonMapDialog(renderer);
    // ROMPUSH_WINDOW_LOG names a file that records every change the windows show, for
    // scripts that drive the program through its real window.
    platform::qt::WindowLog windowLog;
    const char* windowLogPath = std::getenv("ROMPUSH_WINDOW_LOG");
    const bool logging = windowLogPath && *windowLogPath && windowLog.Open(windowLogPath);
    if (logging)
        dialogs.SetWindowLog(&windowLog);
    // The simulated controller of --sim-ps2 tells the log its command byte, so a script sees
    // the PC's keyboard locked out and given back.
    auto* simulatedKeyboard = dynamic_cast<platform::sim::SimKeyboardPorts*>(keyboard.get());
    const auto recordWindows = [&windowLog, logging, simulatedKeyboard] {
        if (!logging)
            return;
        windowLog.Record(rompush::frmUI());
        windowLog.Record(rompush::g.forms->frmComParameters);
        platform::qt::RecordConfigDialogs(windowLog);
        platform::qt::RecordHelpDialogs(windowLog);
        platform::qt::RecordCrossfieldDialogs(windowLog);
        platform::qt::RecordButtonMapDialog(windowLog);
        windowLog.RecordKeyboard(rompush::g.ps2.ControllerHeld,
                                 simulatedKeyboard ? simulatedKeyboard->CommandByte() : -1);
        windowLog.EndPass();
    };
    events.SetRenderer([&renderer, &recordWindows] {
        renderer.Sync();
        recordWindows();
    });

    platform::Install({.serial = &serial,
                       .timer = &timer,
                       .clock = &clock,
                       .events = &events,
                       .dialogs = &dialogs,
                       .desktop = &desktop,
                       .system = &system,
                       .keyboard = keyboard.get(),
                       .help = &help,
                       .ports = &portWatcher});

    // A main window lost from outside (its X connection, or the window destroyed) is closed
    // as the operator would close it.
    const auto closeMainWindow = [] {
        if (rompush::frmUI().Unload)
            rompush::frmUI().Unload();
    };
    platform::qt::WindowLossWatch windowLoss([&renderer] { return renderer.MainWindow(); },
                                             closeMainWindow);
    platform::qt::ExitShutDownGuard onBrokenConnection([&] {
        // The windows cannot be reached any more: only their models and the log are.
        events.SetRenderer(nullptr);
        closeMainWindow();
        recordWindows();
    });

    try {
        rompush::Main();
    } catch (const platform::ProgramEnded&) {
    }
    recordWindows();
    // Nothing may call back into the windows once they are gone.
    desktop.SetControlLookup(nullptr);
    dialogs.SetWindowLog(nullptr);
    events.SetRenderer(nullptr);
    serial.SetFdWatcher(nullptr);
    events.WatchReadable(-1, nullptr);
    return 0;
}
