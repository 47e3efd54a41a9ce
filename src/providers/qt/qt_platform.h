// The window-system half of the Linux platform: event processing, the main window's timer,
// message boxes and file dialogs, the desktop (keys, active window, mouse pointer) and the
// operating-system services. The serial port and the clock come from the posix half.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "providers/posix/folder_lock.h"

class QString;
class QWidget;

namespace rompush::platform::qt {

// Texts are 8-bit in the program: one byte per character.
QString FromLatin1(const std::string& text);
std::string ToLatin1(const QString& text);

// Runs one of the program's handlers for a window event. Nothing may unwind through Qt's
// event delivery: ProgramEnded is caught here (event processing raises it again once the
// handler's event has been delivered), and run-time errors are ignored as the program's
// handlers ignore them.
void RunHandler(const std::function<void()>& handler);
// Runs a window's close handler. While it runs, a request to end the program does not
// interrupt it: the shut-down it performs finishes before the program unwinds.
void RunCloseHandler(const std::function<void()>& handler);

class QtEventLoop : public EventLoop {
  public:
    QtEventLoop();
    ~QtEventLoop() override;

    // Brings the windows up to date with their models before events are processed.
    void SetRenderer(std::function<void()> render) { render_ = std::move(render); }
    // Wakes event processing when fd has bytes to read and runs onReadable; fd < 0 stops
    // watching. Called again whenever the serial port opens or closes.
    void WatchReadable(int fd, std::function<void()> onReadable);
    // Asked before each sleep: true when input is already waiting to be handled, so the
    // wait only processes events and returns.
    void SetInputPending(std::function<bool()> pending) { inputPending_ = std::move(pending); }

    void DoEvents() override;
    void WaitForEvents(int maxMs) override;
    void RequestEnd() override { endRequested_ = true; }
    bool EndRequested() const override { return endRequested_; }

  private:
    void Render();
    void ThrowIfEnded() const;

    // DoEvents brings the windows up to date at most this often; waits always do.
    static constexpr std::chrono::milliseconds kRenderInterval{10};
    std::chrono::steady_clock::time_point lastRender_{};
    std::function<void()> render_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> onReadable_;
    std::function<bool()> inputPending_;
    bool endRequested_ = false;
};

class QtTimer : public OneShotTimer {
  public:
    QtTimer();
    void SetInterval(int ms) override;
    int Interval() const override { return interval_; }
    void SetEnabled(bool enabled) override;
    bool Enabled() const override { return enabled_; }
    void SetTickHandler(std::function<void()> handler) override { tick_ = std::move(handler); }

  private:
    void Restart();

    QTimer timer_;
    int interval_ = 0;
    bool enabled_ = false;
    std::function<void()> tick_;
};

class WindowLog;

class QtDialogs : public Dialogs {
  public:
    int MsgBox(const std::string& prompt, int style, const std::string& title) override;
    std::string ShowSave(const FileDialogRequest& request) override;
    std::string ShowOpen(const FileDialogRequest& request) override;
    // The window log that records each box and dialog with its answer; nullptr none.
    void SetWindowLog(WindowLog* log) { log_ = log; }

  private:
    int Ask(const std::string& prompt, int style, const std::string& title);

    WindowLog* log_ = nullptr;
};

// Converts a filter of "description|pattern|description|pattern" pairs to Qt's form,
// one "description (patterns)" per line pair; "*.*" means every file.
QString ConvertFileFilter(const std::string& filter);
// The virtual key code of a Qt key, 0 for keys the program never asks about.
int VirtualKeyOf(int qtKey);

class QtDesktop : public Desktop, public QObject {
  public:
    QtDesktop();
    ~QtDesktop() override;
    std::string ForegroundWindowTitle() override;
    bool AsyncKeyDown(int virtualKey) override;
    bool KeysDownTogether(int key1, int key2) override;
    void SetMousePointer(MousePointer pointer) override;
    MousePointer GetMousePointer() const override { return pointer_; }
    // The widget that shows a main-window control, by the control's name (nullptr when none
    // is shown); the renderer knows them.
    void SetControlLookup(std::function<QWidget*(const std::string&)> lookup) {
        lookup_ = std::move(lookup);
    }
    bool CursorClient(const std::string& control, int& x, int& y) override;
    void SetCursorClient(const std::string& control, int x, int y) override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* VisibleControl(const std::string& control) const;

    std::function<QWidget*(const std::string&)> lookup_;
    std::set<int> down_;
    std::set<int> pressedSinceQuery_;
    // Pairs of keys that were down at the same moment since they were last asked about.
    std::set<std::pair<int, int>> pairsSinceQuery_;
    MousePointer pointer_ = MousePointer::Default;
};

// Beside the executable, then the data folder of an install (<prefix>/share/rompush for
// <prefix>/bin/rompush): where the help and the pictures are.
std::vector<std::string> ProgramDataFolders();

class QtSystem : public System {
  public:
    QtSystem();
    std::string ProgramFolder() const override { return programFolder_; }
    std::string HomeFolder() const override;
    std::vector<std::string> DataFolders() const override;
    void CreateNamedMutex(const std::string& name) override;
    void HoldSettings(bool hold) override {
        if (hold) {
            settingsLock_.Hold(programFolder_);
        } else {
            settingsLock_.Release();
        }
    }

  private:
    std::string programFolder_;
    posix::FolderLock settingsLock_;
};

}  // namespace rompush::platform::qt
