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
#include "sim/serial_line.h"
#include "sim/virtual_clock.h"

namespace rompush::platform::sim {

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
    void Output(const std::string& bytes) override;
    bool DeviceLost() const override;
    void SetRThreshold(int characters) override { rThreshold_ = characters; }
    void SetSThreshold(int) override {}
    void SetOnComm(std::function<void()> handler) override { onComm_ = std::move(handler); }
    std::string DevicePath(int number) const override;
    std::string LastError() const override { return lastError_; }

  private:
    VirtualClock& clock_;
    std::map<int, std::unique_ptr<SerialLine>> lines_;
    std::set<int> inUse_;
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

  private:
    bool foreign_ = false;
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
    std::vector<std::string> mutexes_;
    int mutexFailures_ = 0;
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

    // Runs fn (an operator action) at virtual time atMs.
    void At(std::int64_t atMs, std::function<void()> fn) {
        clock.ScheduleAtMs(atMs, std::move(fn));
    }
};

}  // namespace rompush::platform::sim
