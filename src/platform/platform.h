// Everything outside the program: the serial port, the one-shot timer and the clock, event
// processing, message boxes and file dialogs, the desktop (keys, active window, mouse pointer)
// and the operating system. The logic only ever talks to these interfaces; the Qt/Linux
// implementation drives real hardware, the simulated one runs on a virtual clock for tests.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace rompush::platform {

// A run-time error raised by a platform object (a port that cannot be opened, a malformed
// settings string). Procedures that run "with errors ignored" catch it and go on.
class PlatformError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Thrown out of event processing once the main window has been closed and shut down, so the
// program unwinds from whatever wait it was in and ends.
// Deliberately not a std::exception, so that no "errors ignored" handler swallows it.
class ProgramEnded {
  public:
    const char* what() const noexcept { return "program ended"; }
};

// What an operator knows a serial device by: its device, and for a USB adapter or modem the
// maker's texts and numbers and its stable /dev/serial/by-id name. Fields not known are "".
struct PortDescription {
    std::string device;               // the device a port number maps to, "" when none
    std::string byId;                 // /dev/serial/by-id/... naming the same device
    std::string vendorId, productId;  // USB ids, four hex digits each
    std::string manufacturer, product, serial;
    std::string group;  // the group that owns the device (the one to be in to open it)

    // One line: "/dev/ttyUSB0  FTDI FT232R USB UART, serial A9X1 (0403:6001)  by-id ...".
    std::string Summary() const;
};

// The one serial port object of the main window (MSComm1).
class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // Port number 1..n. Changing it while the port is open raises PlatformError.
    virtual void SetCommPort(int number) = 0;
    virtual int CommPort() const = 0;
    // "115200,N,8,1" form. A malformed string raises PlatformError and keeps the old one.
    virtual void SetSettings(const std::string& settings) = 0;
    virtual std::string Settings() const = 0;
    // 0 none, 1 XON/XOFF, 2 RTS/CTS.
    virtual void SetHandshaking(int mode) = 0;
    virtual int Handshaking() const = 0;
    virtual void SetInputLen(int characters) = 0;
    virtual int InputLen() const = 0;
    virtual void SetInputModeText() = 0;

    // Opening a port that is missing, in use or forbidden raises PlatformError with the
    // reason. Closing a closed port does nothing.
    virtual void SetPortOpen(bool open) = 0;
    virtual bool PortOpen() const = 0;

    // Bytes waiting in the receive buffer; 0 when the port is closed or has vanished.
    virtual int InBufferCount() = 0;
    // Up to InputLen characters from the receive buffer; "" when nothing waits.
    virtual std::string Input() = 0;
    // Hands bytes to the port's transmit buffer without waiting, as many as it has room for,
    // and answers how many it took from the front: fewer than given (0 too) while the buffer
    // is full, as when the device stops reading or flow control holds the line; -1 when the
    // port is closed or its device has gone. A byte taken is sent, unless DiscardOutput drops
    // it; no byte is ever dropped without the caller knowing.
    virtual int Write(const std::string& bytes) = 0;
    // Drops what waits in the transmit buffer and has not gone out yet.
    virtual void DiscardOutput() = 0;
    // True while the port is open but its device has gone (a USB adapter pulled out): nothing
    // will arrive any more, so no wait for an answer needs to run to its end.
    virtual bool DeviceLost() const = 0;

    // Receive event: with a threshold of 1 the handler runs (from event processing) for
    // every character received. 0 raises no events.
    virtual void SetRThreshold(int characters) = 0;
    virtual void SetSThreshold(int characters) = 0;
    virtual void SetOnComm(std::function<void()> handler) = 0;

    // The device a port number maps to ("" when none), for the port list's tooltip.
    virtual std::string DevicePath(int number) const = 0;
    // Why the last open failed, for the trace.
    virtual std::string LastError() const = 0;

    // What the device of a port number is, for the port list's tooltip and the COM PORT
    // dialog. The default knows only the device.
    virtual PortDescription Describe(int number) const {
        PortDescription d;
        d.device = DevicePath(number);
        return d;
    }
    // Whether COM<number> could be opened now, tried without touching the open port (whose
    // own device counts as available while it is there); why it could not otherwise. The
    // port list that follows plugging asks this of every number it searches.
    virtual bool Probe(int number, std::string& why) {
        why = "cannot be tried";
        (void)number;
        return false;
    }
    // What the last open did about the driver's low-latency mode, for the trace ("" when
    // there is nothing to say).
    virtual std::string LatencyNote() const { return ""; }
};

// Tells when serial devices may have appeared or gone, or the port map changed: a USB adapter
// plugged in or pulled out, a link added to the port map. The window's idle command loop asks
// it on every pass and rebuilds the port list when it says so.
class PortChanges {
  public:
    virtual ~PortChanges() = default;
    // True once for every burst of changes since the last call, when the burst has settled.
    virtual bool Changed() = 0;
};

// The main window's one-shot timer (Timer1). Like the window timer it models, it keeps
// ticking every Interval ms while enabled; its tick handler disables it.
class OneShotTimer {
  public:
    virtual ~OneShotTimer() = default;
    virtual void SetInterval(int ms) = 0;
    virtual int Interval() const = 0;
    // Enabling (again) starts a fresh interval.
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetTickHandler(std::function<void()> handler) = 0;
};

class Clock {
  public:
    virtual ~Clock() = default;
    // Monotonic milliseconds.
    virtual std::int64_t NowMs() const = 0;
};

class EventLoop {
  public:
    virtual ~EventLoop() = default;
    // Processes the pending window, timer and serial events and returns at once.
    virtual void DoEvents() = 0;
    // Sleeps until an event arrives or maxMs have passed, then processes the pending events.
    // Every wait loop calls this on each pass, so a wait never spins a core.
    virtual void WaitForEvents(int maxMs) = 0;
    // Asked by the main window's shut-down: the next event processing throws ProgramEnded.
    virtual void RequestEnd() = 0;
    virtual bool EndRequested() const = 0;
};

// Message box styles and answers, as the operator sees them.
namespace mb {
constexpr int kOk = 0, kOkCancel = 1, kYesNo = 4, kRetryCancel = 5;
constexpr int kCritical = 16, kQuestion = 32, kExclamation = 48, kInformation = 64;
constexpr int kDefaultButton2 = 256;
constexpr int kAnswerOk = 1, kAnswerCancel = 2, kAnswerRetry = 4, kAnswerYes = 6, kAnswerNo = 7;

// The buttons a style shows, left to right, as the answers they give.
inline std::vector<int> AnswersOf(int style) {
    switch (style & 0x0F) {
        case kOkCancel:
            return {kAnswerOk, kAnswerCancel};
        case kYesNo:
            return {kAnswerYes, kAnswerNo};
        case kRetryCancel:
            return {kAnswerRetry, kAnswerCancel};
        default:
            return {kAnswerOk};
    }
}
// The caption of the button that gives the answer.
inline std::string AnswerCaption(int answer) {
    switch (answer) {
        case kAnswerOk:
            return "OK";
        case kAnswerCancel:
            return "Cancel";
        case kAnswerRetry:
            return "Retry";
        case kAnswerYes:
            return "Yes";
        case kAnswerNo:
            return "No";
        default:
            return std::to_string(answer);
    }
}
}  // namespace mb

struct FileDialogRequest {
    std::string fileName;  // preset name, returned unchanged when the dialog is cancelled
    std::string title;
    std::string filter;  // "Text Files (*.txt)|*.txt|All Files (*.*)|*.*"
    std::string initDir;
};

class Dialogs {
  public:
    virtual ~Dialogs() = default;
    virtual int MsgBox(const std::string& prompt, int style, const std::string& title) = 0;
    virtual std::string ShowSave(const FileDialogRequest& request) = 0;
    virtual std::string ShowOpen(const FileDialogRequest& request) = 0;
};

enum class MousePointer { Default, Hourglass };

class Desktop {
  public:
    virtual ~Desktop() = default;
    // Title of the active window, "" when none of the program's windows is active.
    virtual std::string ForegroundWindowTitle() = 0;
    // Non-zero answer of the asynchronous key state: down now, or pressed since the
    // previous query. Key codes: 0x11 Ctrl, 0x54 T, 0x7B F12.
    virtual bool AsyncKeyDown(int virtualKey) = 0;
    // True when both keys are down now, or were down at the same moment since the previous
    // call for the same pair while one of the program's windows was active. Keys pressed one
    // after the other, or in another program's window, never make a pair.
    virtual bool KeysDownTogether(int key1, int key2) = 0;
    virtual void SetMousePointer(MousePointer pointer) = 0;
    virtual MousePointer GetMousePointer() const = 0;
    // The mouse cursor in the client coordinates (pixels) of a main-window control, named as
    // its model names it ("btnPROGRAM"). CursorClient answers false when the control is not
    // shown or the cursor position cannot be known.
    virtual bool CursorClient(const std::string& control, int& x, int& y) = 0;
    virtual void SetCursorClient(const std::string& control, int x, int y) = 0;
};

// The PC's keyboard controller (an 8042 at I/O ports 0x60 and 0x64), reached through one of
// two port-access providers. Both read and write single bytes; which one is used is the
// logic's choice (UseWinIo).
class KeyboardPorts {
  public:
    virtual ~KeyboardPorts() = default;

    // The driver-backed provider. InitializeWinIo answers whether access was obtained;
    // GetPortVal and SetPortVal answer whether the byte was transferred.
    virtual bool InitializeWinIo() = 0;
    virtual void ShutdownWinIo() = 0;
    virtual bool GetPortVal(std::uint16_t port, std::uint32_t& value, int size) = 0;
    virtual bool SetPortVal(std::uint16_t port, std::uint32_t value, int size) = 0;

    // The direct provider: no initialisation. Without port access reads give 0xFF and writes
    // do nothing; DirectAccess() says whether the ports can be reached at all, so that an
    // operation can report that instead of waiting on a controller it cannot see.
    virtual std::uint16_t Inp32(std::uint16_t port) = 0;
    virtual void Out32(std::uint16_t port, std::uint16_t value) = 0;
    virtual bool DirectAccess() = 0;

    // Why the last attempt to obtain access failed, for the trace.
    virtual std::string LastError() const = 0;

    // Told while the program holds the controller (interrupts off), so that whatever ends
    // the program (a signal, the window closed) can give it back first.
    virtual void SetControllerHeld(bool held) = 0;

    // The pause between two polls of the controller's status port: a few tens of
    // microseconds (about 20), short against the millisecond a PS/2 byte takes on the wire, so
    // a wait neither spins a core nor falls noticeably behind the device. The waits call it
    // after processing events on each pass; on the simulated platform it moves the virtual
    // clock on by the same amount, so counted polls also take time there.
    virtual void PollPause() = 0;
};

class System {
  public:
    virtual ~System() = default;
    // Folder of the settings file, port map and backups; always writable.
    virtual std::string ProgramFolder() const = 0;
    // Initial folder of the trace and console save dialogs.
    virtual std::string HomeFolder() const = 0;
    // Where the read-only files that come with the program (help, pictures) are looked for,
    // in order: beside the executable, then the data folder of an installed copy.
    virtual std::vector<std::string> DataFolders() const = 0;
    // Creates and holds a named mutex; a second copy of the program still runs.
    virtual void CreateNamedMutex(const std::string& name) = 0;
    // Holds the program folder's settings file for one read-and-rewrite against other copies
    // of the program (several terminal runs at once, or one beside the window), so that no
    // copy's entry is lost; released with false. The default holds nothing.
    virtual void HoldSettings(bool hold) { (void)hold; }
};

// The desktop's viewer of the HTML help files.
class HelpViewer {
  public:
    virtual ~HelpViewer() = default;
    // Shows the help file (an existing HTML file) at its table of contents, in front of the
    // program's windows. False when no viewer could be started.
    virtual bool ShowContents(const std::string& path) = 0;
};

// The set of platform objects the program runs on.
struct Services {
    SerialPort* serial = nullptr;
    OneShotTimer* timer = nullptr;
    Clock* clock = nullptr;
    EventLoop* events = nullptr;
    Dialogs* dialogs = nullptr;
    Desktop* desktop = nullptr;
    System* system = nullptr;
    KeyboardPorts* keyboard = nullptr;
    HelpViewer* help = nullptr;
    // Only the window follows plugging; nullptr: the port list is built at start-up and by
    // the COM PORT dialog only.
    PortChanges* ports = nullptr;
};

// Installs the platform the program runs on (the real one in rompush, a simulated one in
// tests) and returns it.
void Install(const Services& services);
const Services& Current();

}  // namespace rompush::platform
