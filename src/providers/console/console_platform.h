// The program in a terminal: the Linux serial port, clock and poll loop of the headless
// platform, with the operator's side answered from the command line. Message boxes are printed
// and answered by the options (a question the options do not answer gets its cautious answer
// and is remembered, so the front end can name the option that would have answered it); the
// open-file dialog returns the file named on the command line; no key is ever down.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "providers/posix/folder_lock.h"
#include "providers/posix/poll_loop.h"
#include "providers/posix/port_map.h"
#include "providers/posix/serial_port.h"
#include "providers/posix/steady_clock.h"

namespace rompush::platform::console {

class ConsoleDialogs : public Dialogs {
  public:
    // Where the texts of message boxes go (one call per box, CR LF already made plain).
    using Notice = std::function<void(const std::string& title, const std::string& text)>;

    ConsoleDialogs(bool assumeYes, std::string fileToOpen, Notice notice)
        : assumeYes_(assumeYes), fileToOpen_(std::move(fileToOpen)), notice_(std::move(notice)) {}

    int MsgBox(const std::string& prompt, int style, const std::string& title) override;
    // Nothing is saved from a terminal run: the dialog counts as cancelled.
    std::string ShowSave(const FileDialogRequest& request) override { return request.fileName; }
    // The file of the command line; cancelled when there is none.
    std::string ShowOpen(const FileDialogRequest& request) override;

    // Questions that got "No" or "Cancel" because --yes was not given, in order.
    const std::vector<std::string>& Refused() const { return refused_; }

  private:
    bool assumeYes_;
    std::string fileToOpen_;
    Notice notice_;
    std::vector<std::string> refused_;
};

class ConsoleDesktop : public Desktop {
  public:
    std::string ForegroundWindowTitle() override { return ""; }
    bool AsyncKeyDown(int) override { return false; }
    bool KeysDownTogether(int, int) override { return false; }
    void SetMousePointer(MousePointer pointer) override { pointer_ = pointer; }
    MousePointer GetMousePointer() const override { return pointer_; }
    bool CursorClient(const std::string&, int&, int&) override { return false; }
    void SetCursorClient(const std::string&, int, int) override {}

  private:
    MousePointer pointer_ = MousePointer::Default;
};

class ConsoleSystem : public System {
  public:
    // folder "" : the window's program folder (beside the executable when it is writable,
    // otherwise $XDG_CONFIG_HOME/rompush), so both share the settings file and port map.
    explicit ConsoleSystem(const std::string& folder);
    std::string ProgramFolder() const override { return programFolder_; }
    std::vector<std::string> DataFolders() const override;
    std::string HomeFolder() const override;
    void CreateNamedMutex(const std::string& name) override;
    void HoldSettings(bool hold) override;

    // The folder a run with that --folder value uses, created when missing.
    static std::string ResolveFolder(const std::string& folder);

  private:
    std::string programFolder_;
    posix::FolderLock settingsLock_;
};

// The poll loop, with a look at the window models after every pass of event processing: the
// terminal shows what the window would show at those moments.
class ConsoleEventLoop : public EventLoop {
  public:
    ConsoleEventLoop(posix::PollEventLoop& loop, std::function<void()> afterEvents)
        : loop_(loop), afterEvents_(std::move(afterEvents)) {}
    void DoEvents() override;
    void WaitForEvents(int maxMs) override;
    void RequestEnd() override { loop_.RequestEnd(); }
    bool EndRequested() const override { return loop_.EndRequested(); }

  private:
    posix::PollEventLoop& loop_;
    std::function<void()> afterEvents_;
};

// The whole platform of a terminal run, installed for as long as it lives: the serial port
// of that port map, the steady clock and poll loop, the operator's side answered from the
// command line, the program folder and the keyboard port given.
class ConsolePlatform {
  public:
    ConsolePlatform(posix::PortMap map, std::function<void()> afterEvents, ConsoleDialogs dialogs,
                    const std::string& folder, std::unique_ptr<KeyboardPorts> keyboard);
    ~ConsolePlatform();
    ConsolePlatform(const ConsolePlatform&) = delete;
    ConsolePlatform& operator=(const ConsolePlatform&) = delete;

    posix::SteadyClock clock;
    posix::PosixSerialPort serial;
    posix::PollTimer timer{clock};
    posix::PollEventLoop loop{timer, &serial};
    ConsoleEventLoop events;
    ConsoleDialogs dialogs;
    ConsoleDesktop desktop;
    ConsoleSystem system;
    std::unique_ptr<KeyboardPorts> keyboard;
};

}  // namespace rompush::platform::console
