// The simulated platform: every outside service on one virtual clock, with a scripted
// operator. Waiting advances virtual time to the next thing that happens (a timer tick, a
// byte from a simulated device, an operator action), so tests run in no real time.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "sim/kbc8042.h"
#include "sim/ps2_kvm_device.h"
#include "sim/serial_line.h"
#include "sim/virtual_clock.h"

namespace rompush::platform::sim {

using rompush::sim::Kbc8042;
using rompush::sim::KvmDevice;
using rompush::sim::KvmModel;
using rompush::sim::SerialDevice;
using rompush::sim::SerialLine;
using rompush::sim::VirtualClock;

class SimSerialPort : public SerialPort {
  public:
    explicit SimSerialPort(VirtualClock& clock) : clock_(clock) {}

    // Puts a simulated device on COM<number>; returns its line.
    SerialLine& Attach(int number, std::shared_ptr<SerialDevice> device);
    // COM<number> exists but another program holds it.
    void MarkInUse(int number) { inUse_.insert(number); }
    // COM<number> exists but the user may not open it (not in the device's group).
    void MarkDenied(int number) { denied_.insert(number); }
    SerialLine* Line(int number);
    // Every open attempt in order, for tests of the port search.
    const std::vector<int>& OpenAttempts() const { return openAttempts_; }

    void SetCommPort(int number) override;
    int CommPort() const override { return number_; }
    void SetSettings(const std::string& settings) override;
    std::string Settings() const override { return settings_; }
    void SetHandshaking(int mode) override { handshaking_ = mode; }
    int Handshaking() const override { return handshaking_; }
    void SetInputLen(int characters) override { inputLen_ = characters; }
    int InputLen() const override { return inputLen_; }
    void SetInputModeText() override {}
    void SetPortOpen(bool open) override;
    bool PortOpen() const override { return open_; }
    int InBufferCount() override;
    std::string Input() override;
    int Write(const std::string& bytes) override;
    void DiscardOutput() override;
    bool DeviceLost() const override;
    void SetRThreshold(int characters) override { rThreshold_ = characters; }
    void SetSThreshold(int) override {}
    void SetOnComm(std::function<void()> handler) override { onComm_ = std::move(handler); }
    std::string DevicePath(int number) const override;
    std::string LastError() const override { return lastError_; }
    bool Probe(int number, std::string& why) override;

  private:
    VirtualClock& clock_;
    std::map<int, std::unique_ptr<SerialLine>> lines_;
    std::set<int> inUse_;
    std::set<int> denied_;
    std::vector<int> openAttempts_;
    int number_ = 1;
    std::string settings_ = "9600,N,8,1";
    int handshaking_ = 0;
    int inputLen_ = 0;
    bool open_ = false;
    int rThreshold_ = 0;
    std::function<void()> onComm_;
    std::string lastError_;
};

class SimTimer : public OneShotTimer {
  public:
    explicit SimTimer(VirtualClock& clock) : clock_(clock) {}
    void SetInterval(int ms) override;
    int Interval() const override { return interval_; }
    void SetEnabled(bool enabled) override;
    bool Enabled() const override { return enabled_; }
    void SetTickHandler(std::function<void()> handler) override { tick_ = std::move(handler); }

  private:
    void Arm();
    VirtualClock& clock_;
    int interval_ = 0;
    bool enabled_ = false;
    VirtualClock::EventId pending_ = 0;
    std::function<void()> tick_;
};

class SimEventLoop : public EventLoop {
  public:
    explicit SimEventLoop(VirtualClock& clock) : clock_(clock) {}
    void DoEvents() override;
    void WaitForEvents(int maxMs) override;
    void RequestEnd() override { endRequested_ = true; }
    bool EndRequested() const override { return endRequested_; }
    // Passes of event processing so far (a test can see that a loop yields).
    std::int64_t Passes() const { return passes_; }

  private:
    void EndIfRequested();
    VirtualClock& clock_;
    bool endRequested_ = false;
    std::int64_t passes_ = 0;
};

struct ShownMessage {
    std::string prompt;
    int style;
    std::string title;
    int answer;
    std::int64_t atMs;
};

class SimDialogs : public Dialogs {
  public:
    explicit SimDialogs(VirtualClock& clock) : clock_(clock) {}
    // The operator's next answers to message boxes, in order. With none queued the box is
    // answered with its first button.
    void AnswerNext(int answer) { answers_.push_back(answer); }
    // The operator's next choices in file dialogs; with none queued the dialog is cancelled.
    void ChooseNextFile(const std::string& path) { files_.push_back(path); }
    const std::vector<ShownMessage>& Messages() const { return messages_; }
    const std::vector<FileDialogRequest>& FileDialogs() const { return fileDialogs_; }

    int MsgBox(const std::string& prompt, int style, const std::string& title) override;
    std::string ShowSave(const FileDialogRequest& request) override;
    std::string ShowOpen(const FileDialogRequest& request) override;

  private:
    std::string Choose(const FileDialogRequest& request);
    VirtualClock& clock_;
    std::deque<int> answers_;
    std::deque<std::string> files_;
    std::vector<ShownMessage> messages_;
    std::vector<FileDialogRequest> fileDialogs_;
};

class SimDesktop : public Desktop {
  public:
    // Whose window is in front: by default the program's main window.
    void SetForeignWindowActive(bool foreign) { foreign_ = foreign; }
    void SetTitleSource(std::function<std::string()> source) { title_ = std::move(source); }
    void Press(int virtualKey);
    void Release(int virtualKey);

    std::string ForegroundWindowTitle() override;
    bool AsyncKeyDown(int virtualKey) override;
    bool KeysDownTogether(int key1, int key2) override;
    void SetMousePointer(MousePointer pointer) override { pointer_ = pointer; }
    MousePointer GetMousePointer() const override { return pointer_; }

    // The operator's mouse over a control: at x, y of its client area. A control never placed
    // is not shown (CursorClient answers false).
    void PlaceCursor(const std::string& control, int x, int y) { cursor_[control] = {x, y}; }
    void RemoveCursor() { cursor_.clear(); }
    bool CursorClient(const std::string& control, int& x, int& y) override;
    void SetCursorClient(const std::string& control, int x, int y) override;
    // Every move the program made: control, x, y.
    struct CursorMove {
        std::string control;
        int x, y;
    };
    const std::vector<CursorMove>& CursorMoves() const { return cursorMoves_; }

  private:
    bool foreign_ = false;
    std::map<std::string, std::pair<int, int>> cursor_;
    std::vector<CursorMove> cursorMoves_;
    std::function<std::string()> title_;
    std::set<int> down_;
    std::set<int> pressedSinceQuery_;
    std::set<std::pair<int, int>> pairsSinceQuery_;
    MousePointer pointer_ = MousePointer::Default;
};

class SimSystem : public System {
  public:
    SimSystem(std::string programFolder, std::string homeFolder)
        : programFolder_(std::move(programFolder)), homeFolder_(std::move(homeFolder)) {}
    std::string ProgramFolder() const override { return programFolder_; }
    std::string HomeFolder() const override { return homeFolder_; }
    // The program's own files: by default in the program folder, as in a build folder.
    std::vector<std::string> DataFolders() const override {
        return dataFolders_.empty() ? std::vector<std::string>{programFolder_} : dataFolders_;
    }
    void SetDataFolders(std::vector<std::string> folders) { dataFolders_ = std::move(folders); }
    void CreateNamedMutex(const std::string& name) override {
        if (mutexFailures_ > 0) {
            --mutexFailures_;
            throw PlatformError("Out of memory");
        }
        mutexes_.push_back(name);
    }
    const std::vector<std::string>& Mutexes() const { return mutexes_; }
    // The next n attempts to create a mutex fail (an early start-up error).
    void FailNextMutexes(int n) { mutexFailures_ = n; }

  private:
    std::string programFolder_;
    std::string homeFolder_;
    std::vector<std::string> dataFolders_;
    std::vector<std::string> mutexes_;
    int mutexFailures_ = 0;
};

// The keyboard controller behind "PS/2": a simulated 8042 with a device on its keyboard
// port, reached through both port-access providers. Both providers are available unless a
// test takes them away.
class SimKeyboardPorts : public KeyboardPorts {
  public:
    // The pause between polls, in microseconds.
    static constexpr std::int64_t kPollPauseUs = 20;

    // On the virtual clock: a poll pause moves it on and runs what fell due.
    explicit SimKeyboardPorts(VirtualClock& clock);
    // On any time source, with the pause it takes: the real program's demonstration.
    SimKeyboardPorts(std::function<std::int64_t()> nowUs, std::function<void()> pollPause);

    Kbc8042& Controller() { return controller_; }
    // Puts a device of that model on the keyboard port (identity "" the model's usual one).
    KvmDevice& AttachDevice(KvmModel model, const std::string& identity = "");
    // The device attached by AttachDevice (nullptr when none).
    KvmDevice* Device() { return device_.get(); }
    void DetachDevice();

    std::uint8_t CommandByte() { return controller_.CommandByte(); }
    const std::vector<std::uint8_t>& OsReceived() const { return controller_.OsReceived(); }
    // Bytes the attached device received, its flash and its configuration record.
    const std::vector<std::uint8_t>& DeviceReceived() const { return device_->Received(); }
    std::vector<std::uint8_t>& DeviceFlash() { return device_->Flash(); }
    KvmDevice::Config& DeviceConfig() { return device_->Configuration(); }

    // Provider faults: the driver-backed provider cannot be initialised; the direct provider
    // reaches no port (reads 0xFF, writes lost).
    void SetWinIoAvailable(bool available) { winIoAvailable_ = available; }
    void SetDirectAvailable(bool available) { directAvailable_ = available; }
    // A PC without a keyboard controller: both providers reach the ports, but nothing is
    // behind them (every read gives 0xFF, writes are lost).
    void SetControllerAbsent(bool absent) { absent_ = absent; }
    bool WinIoOpen() const { return winIoOpen_; }
    bool ControllerHeld() const { return held_; }
    // Poll pauses taken so far.
    std::int64_t PollPauses() const { return pollPauses_; }

    bool InitializeWinIo() override;
    void ShutdownWinIo() override;
    bool GetPortVal(std::uint16_t port, std::uint32_t& value, int size) override;
    bool SetPortVal(std::uint16_t port, std::uint32_t value, int size) override;
    std::uint16_t Inp32(std::uint16_t port) override;
    void Out32(std::uint16_t port, std::uint16_t value) override;
    bool DirectAccess() override;
    std::string LastError() const override { return lastError_; }
    void SetControllerHeld(bool held) override { held_ = held; }
    void PollPause() override;

  private:
    Kbc8042 controller_;
    std::function<void()> pollPause_;
    std::shared_ptr<KvmDevice> device_;
    bool winIoAvailable_ = true;
    bool directAvailable_ = true;
    bool absent_ = false;
    bool winIoOpen_ = false;
    bool held_ = false;
    std::int64_t pollPauses_ = 0;
    std::string lastError_;
};

// Plugging as a test makes it: Plugged() reports a change at the next question.
class SimPortChanges : public PortChanges {
  public:
    void Plugged() { changed_ = true; }
    bool Changed() override {
        const bool changed = changed_;
        changed_ = false;
        return changed;
    }

  private:
    bool changed_ = false;
};

// The help viewer: records the files it was asked to show; it can be made to have no viewer.
class SimHelpViewer : public HelpViewer {
  public:
    bool ShowContents(const std::string& path) override {
        shown_.push_back(path);
        return available_;
    }
    const std::vector<std::string>& Shown() const { return shown_; }
    void SetAvailable(bool available) { available_ = available; }

  private:
    std::vector<std::string> shown_;
    bool available_ = true;
};

// The whole simulated platform, installed as the current one while it lives.
class SimPlatform {
  public:
    SimPlatform(const std::string& programFolder, const std::string& homeFolder);
    ~SimPlatform();

    VirtualClock clock;
    SimSerialPort serial{clock};
    SimTimer timer{clock};
    SimEventLoop events{clock};
    SimDialogs dialogs{clock};
    SimDesktop desktop;
    SimSystem system;
    SimKeyboardPorts keyboard{clock};
    SimHelpViewer help;
    SimPortChanges ports;

    // Runs fn (an operator action) at virtual time atMs.
    void At(std::int64_t atMs, std::function<void()> fn) {
        clock.ScheduleAtMs(atMs, std::move(fn));
    }
};

}  // namespace rompush::platform::sim
