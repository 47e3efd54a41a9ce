#include "providers/sim/sim_platform.h"

#include <algorithm>

#include "sim/device_host.h"

namespace rompush::platform::sim {

// ---- serial port ------------------------------------------------------------------------

SerialLine& SimSerialPort::Attach(int number, std::shared_ptr<SerialDevice> device) {
    auto line = std::make_unique<SerialLine>(clock_, std::move(device));
    SerialLine& ref = *line;
    lines_[number] = std::move(line);
    return ref;
}

SerialLine* SimSerialPort::Line(int number) {
    auto it = lines_.find(number);
    return it == lines_.end() ? nullptr : it->second.get();
}

void SimSerialPort::SetCommPort(int number) {
    if (open_)
        throw PlatformError("Port already open");
    if (number < 1 || number > 255)
        throw PlatformError("Invalid port number");
    number_ = number;
}

void SimSerialPort::SetSettings(const std::string& settings) {
    if (rompush::sim::BaudOf(settings) <= 0)
        throw PlatformError("Invalid setting");
    settings_ = settings;
    if (open_) {
        if (SerialLine* line = Line(number_))
            line->HostOpened(settings_);
    }
}

void SimSerialPort::SetPortOpen(bool open) {
    if (!open) {
        if (open_) {
            if (SerialLine* line = Line(number_))
                line->HostClosed();
        }
        open_ = false;
        return;
    }
    if (open_)
        throw PlatformError("Port already open");
    openAttempts_.push_back(number_);
    SerialLine* line = Line(number_);
    if (!line || line->Unplugged()) {
        lastError_ = "COM" + std::to_string(number_) + ": no such device";
        throw PlatformError(lastError_);
    }
    if (inUse_.count(number_)) {
        lastError_ = "COM" + std::to_string(number_) + ": in use by another program";
        throw PlatformError(lastError_);
    }
    if (denied_.count(number_)) {
        lastError_ = "COM" + std::to_string(number_) + " (sim:COM" + std::to_string(number_) +
                     "): permission denied";
        throw PlatformError(lastError_);
    }
    open_ = true;
    line->SetOnHostByte([this] {
        if (rThreshold_ > 0 && onComm_)
            onComm_();
    });
    line->HostOpened(settings_);
}

int SimSerialPort::InBufferCount() {
    SerialLine* line = open_ ? Line(number_) : nullptr;
    if (!line || line->Unplugged())
        return 0;
    return static_cast<int>(line->HostReceived().size());
}

std::string SimSerialPort::Input() {
    std::string out;
    SerialLine* line = open_ ? Line(number_) : nullptr;
    if (!line || line->Unplugged())
        return out;
    auto& rx = line->HostReceived();
    const int limit = inputLen_ > 0 ? inputLen_ : static_cast<int>(rx.size());
    while (!rx.empty() && static_cast<int>(out.size()) < limit) {
        out.push_back(static_cast<char>(rx.front()));
        rx.pop_front();
    }
    return out;
}

int SimSerialPort::Write(const std::string& bytes) {
    SerialLine* line = open_ ? Line(number_) : nullptr;
    if (!line || line->Unplugged())
        return -1;
    return static_cast<int>(line->HostWrite(bytes));
}

void SimSerialPort::DiscardOutput() {
    if (SerialLine* line = open_ ? Line(number_) : nullptr)
        line->DiscardHostOutput();
}

bool SimSerialPort::DeviceLost() const {
    const auto it = lines_.find(number_);
    return open_ && it != lines_.end() && it->second->Unplugged();
}

bool SimSerialPort::Probe(int number, std::string& why) {
    const auto it = lines_.find(number);
    why = it == lines_.end() || it->second->Unplugged() ? "no such device"
          : open_ && number == number_                  ? ""
          : inUse_.count(number)                        ? "in use by another program"
          : denied_.count(number)                       ? "permission denied"
                                                        : "";
    return why.empty();
}

std::string SimSerialPort::DevicePath(int number) const {
    return lines_.count(number) ? "sim:COM" + std::to_string(number) : "";
}

// ---- timer ------------------------------------------------------------------------------

void SimTimer::Arm() {
    if (pending_)
        clock_.Cancel(pending_);
    pending_ = 0;
    if (!enabled_ || interval_ <= 0)
        return;
    pending_ = clock_.ScheduleInUs(static_cast<std::int64_t>(interval_) * 1000, [this] {
        pending_ = 0;
        if (tick_)
            tick_();
        if (enabled_ && !pending_)
            Arm();  // keeps ticking until the handler disables it
    });
}

void SimTimer::SetInterval(int ms) {
    interval_ = ms;
    Arm();
}

void SimTimer::SetEnabled(bool enabled) {
    enabled_ = enabled;
    Arm();
}

// ---- event loop -------------------------------------------------------------------------

void SimEventLoop::EndIfRequested() {
    if (endRequested_)
        throw ProgramEnded();
}

void SimEventLoop::DoEvents() {
    ++passes_;
    EndIfRequested();
    clock_.RunDue();
    EndIfRequested();
}

void SimEventLoop::WaitForEvents(int maxMs) {
    ++passes_;
    EndIfRequested();
    if (!clock_.RunDue()) {
        std::int64_t until = clock_.NowUs() + static_cast<std::int64_t>(maxMs) * 1000;
        if (auto next = clock_.NextDueUs(); next && *next < until)
            until = *next;
        clock_.AdvanceToUs(until);
        clock_.RunDue();
    }
    EndIfRequested();
}

// ---- dialogs ----------------------------------------------------------------------------

int SimDialogs::MsgBox(const std::string& prompt, int style, const std::string& title) {
    int answer;
    if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
    } else {
        switch (style & 7) {
            case mb::kYesNo:
                answer = mb::kAnswerYes;
                break;
            case mb::kRetryCancel:
                answer = mb::kAnswerRetry;
                break;
            default:
                answer = mb::kAnswerOk;
                break;
        }
    }
    messages_.push_back({prompt, style, title, answer, clock_.NowMs()});
    return answer;
}

std::string SimDialogs::Choose(const FileDialogRequest& request) {
    fileDialogs_.push_back(request);
    if (files_.empty())
        return request.fileName;
    std::string path = files_.front();
    files_.pop_front();
    return path;
}

std::string SimDialogs::ShowSave(const FileDialogRequest& request) {
    return Choose(request);
}
std::string SimDialogs::ShowOpen(const FileDialogRequest& request) {
    return Choose(request);
}

// ---- desktop ----------------------------------------------------------------------------

void SimDesktop::Press(int virtualKey) {
    // A key pressed in another program's window goes to that program: it pairs with nothing.
    if (!foreign_) {
        for (int other : down_)
            pairsSinceQuery_.insert(std::minmax(other, virtualKey));
    }
    down_.insert(virtualKey);
    pressedSinceQuery_.insert(virtualKey);
}

void SimDesktop::Release(int virtualKey) {
    down_.erase(virtualKey);
}

std::string SimDesktop::ForegroundWindowTitle() {
    if (foreign_)
        return "Some Other Application";
    return title_ ? title_() : std::string();
}

bool SimDesktop::AsyncKeyDown(int virtualKey) {
    const bool latched = pressedSinceQuery_.erase(virtualKey) > 0;
    return down_.count(virtualKey) > 0 || latched;
}

bool SimDesktop::KeysDownTogether(int key1, int key2) {
    const bool paired = pairsSinceQuery_.erase(std::minmax(key1, key2)) > 0;
    return paired || (down_.count(key1) > 0 && down_.count(key2) > 0);
}

bool SimDesktop::CursorClient(const std::string& control, int& x, int& y) {
    auto it = cursor_.find(control);
    if (it == cursor_.end())
        return false;
    x = it->second.first;
    y = it->second.second;
    return true;
}

void SimDesktop::SetCursorClient(const std::string& control, int x, int y) {
    cursorMoves_.push_back({control, x, y});
    cursor_.clear();
    cursor_[control] = {x, y};
}

// ---- keyboard controller ----------------------------------------------------------------

SimKeyboardPorts::SimKeyboardPorts(VirtualClock& clock)
    : SimKeyboardPorts([&clock] { return clock.NowUs(); },
                       [&clock] {
                           // Whatever fell due meanwhile runs, also in waits that process
                           // no events (the give-back at shut-down).
                           clock.AdvanceToUs(clock.NowUs() + kPollPauseUs);
                           clock.RunDue();
                       }) {}

SimKeyboardPorts::SimKeyboardPorts(std::function<std::int64_t()> nowUs,
                                   std::function<void()> pollPause)
    : controller_(std::move(nowUs)), pollPause_(std::move(pollPause)) {}

KvmDevice& SimKeyboardPorts::AttachDevice(KvmModel model, const std::string& identity) {
    device_ = std::make_shared<KvmDevice>(model, identity, controller_.Timing());
    controller_.Attach(device_);
    return *device_;
}

void SimKeyboardPorts::DetachDevice() {
    device_.reset();
    controller_.Attach(nullptr);
}

bool SimKeyboardPorts::InitializeWinIo() {
    if (!winIoAvailable_) {
        lastError_ = "/dev/port: Permission denied";
        return false;
    }
    winIoOpen_ = true;
    return true;
}

void SimKeyboardPorts::ShutdownWinIo() {
    winIoOpen_ = false;
}

bool SimKeyboardPorts::GetPortVal(std::uint16_t port, std::uint32_t& value, int size) {
    if (!winIoOpen_ || size != 1) {
        value = 0xFF;
        return false;
    }
    value = absent_ ? 0xFF : controller_.Read(port);
    return true;
}

bool SimKeyboardPorts::SetPortVal(std::uint16_t port, std::uint32_t value, int size) {
    if (!winIoOpen_ || size != 1)
        return false;
    if (!absent_)
        controller_.Write(port, static_cast<std::uint8_t>(value));
    return true;
}

std::uint16_t SimKeyboardPorts::Inp32(std::uint16_t port) {
    if (!DirectAccess() || absent_)
        return 0xFF;
    return controller_.Read(port);
}

void SimKeyboardPorts::Out32(std::uint16_t port, std::uint16_t value) {
    if (DirectAccess() && !absent_)
        controller_.Write(port, static_cast<std::uint8_t>(value));
}

bool SimKeyboardPorts::DirectAccess() {
    if (!directAvailable_)
        lastError_ = "ioperm: Operation not permitted; /dev/port: Permission denied";
    return directAvailable_;
}

void SimKeyboardPorts::PollPause() {
    ++pollPauses_;
    if (pollPause_)
        pollPause_();
}

// ---- the whole platform -----------------------------------------------------------------

SimPlatform::SimPlatform(const std::string& programFolder, const std::string& homeFolder)
    : system(programFolder, homeFolder) {
    Install({.serial = &serial,
             .timer = &timer,
             .clock = &clock,
             .events = &events,
             .dialogs = &dialogs,
             .desktop = &desktop,
             .system = &system,
             .keyboard = &keyboard,
             .help = &help,
             .ports = &ports});
}

SimPlatform::~SimPlatform() {
    Install(Services{});
}

}  // namespace rompush::platform::sim
