#include "menus/product_text.h"

#include <algorithm>
#include <fstream>

#include "core/state.h"
#include "core/trace.h"
#include "platform/platform.h"
#include "serial/comm.h"

namespace rompush {

namespace {
platform::Services P() {
    return platform::Current();
}

// How long one pass of a wait sleeps at most when nothing arrives: the port's data, a click
// and the timer wake it earlier.
constexpr int kWaitSliceMs = 100;

void MoveProgressOn() {
    auto& bar = frmUI().ProgressBar1;
    if (bar.Value < bar.Max)
        ++bar.Value;
}

// Drops what the port has not sent yet; a product waiting for a file is told that none comes.
// The carriage return first ends a line cut short, so "XN" reaches the product as a line of
// its own.
void AbortTransfer(bool refusable) {
    auto& serial = *P().serial;
    serial.DiscardOutput();
    if (refusable) {
        for (const char* key : {"\r", "X", "N", "\r"})
            serial.Write(key);
    }
    TraceLine("--    file transfer aborted");
}
}  // namespace

bool InMeridanMode() {
    const std::string& mode = g.cmd.ProductMode;
    return mode == "MAIN" || mode == "USB" || mode == "QRX";
}

int ReadIntoSerialText() {
    auto& serial = *P().serial;
    int read = 0;
    while (serial.InBufferCount() > 0) {
        const std::string in = serial.Input();
        if (in.empty())
            break;
        g.menus.SerialText += in;
        read += static_cast<int>(in.size());
    }
    return read;
}

ExitButtonOffer::ExitButtonOffer() {
    auto& f = frmUI();
    if (f.btnCANCEL.Visible)
        return;
    shown_ = true;
    consoleButton_ = f.btnShowDiagnostic.Visible;
    f.btnCANCEL.Caption = InMeridanMode() ? "ABORT" : "Cancel";
    f.btnCANCEL.Move(4530, 5250, 1815, 375);
    f.btnCANCEL.Enabled = true;
    f.btnCANCEL.Visible = true;
}

ExitButtonOffer::~ExitButtonOffer() {
    if (!shown_)
        return;
    auto& f = frmUI();
    f.btnCANCEL.Visible = false;
    // The exit button's handler hides the console button; the view had it.
    f.btnShowDiagnostic.Visible = consoleButton_;
}

TextWait WaitForProductText(const std::function<bool(const std::string&)>& arrived, int silenceMs,
                            bool countProgress, int firstAnswerMs) {
    auto& events = *P().events;
    const ExitButtonOffer exitButton;
    std::int64_t lastHeard = P().clock->NowMs();
    bool heard = false;
    for (;;) {
        if (ReadIntoSerialText() > 0) {
            heard = true;
            lastHeard = P().clock->NowMs();
            if (countProgress)
                MoveProgressOn();
        }
        if (arrived(g.menus.SerialText))
            return TextWait::Found;
        if (g.cmd.ContinueFlag)
            return TextWait::Exit;
        if (PortLost())
            return TextWait::Lost;
        const int bound = !heard && firstAnswerMs > 0 ? firstAnswerMs : silenceMs;
        const std::int64_t left = lastHeard + bound - P().clock->NowMs();
        if (left <= 0) {
            TraceLine("Nothing heard for " + std::to_string(bound) + " ms");
            return TextWait::Silent;
        }
        events.WaitForEvents(static_cast<int>(std::min<std::int64_t>(left, kWaitSliceMs)));
    }
}

TextWait WaitForAnyText(std::initializer_list<std::string_view> texts, int silenceMs,
                        bool countProgress, int firstAnswerMs) {
    return WaitForProductText(
        [texts](const std::string& received) {
            return std::any_of(texts.begin(), texts.end(), [&](std::string_view text) {
                return received.find(text) != std::string::npos;
            });
        },
        silenceMs, countProgress, firstAnswerMs);
}

bool SerialTextHas(std::string_view text) {
    return g.menus.SerialText.find(text) != std::string::npos;
}

bool SendToProduct(const std::string& text) {
    return WritePort(text) == PortWrite::Sent;
}

FileSend SendFileAsText(const std::string& path, bool refusable) {
    std::ifstream counting(path, std::ios::binary);
    if (!counting)
        return FileSend::NoFile;
    int lines = 0;
    std::string line;
    while (std::getline(counting, line))
        ++lines;
    counting.close();

    std::ifstream file(path, std::ios::binary);
    if (!file)
        return FileSend::NoFile;
    auto& m = g.menus;
    auto& bar = frmUI().ProgressBar1;
    bar.Min = 0;
    bar.Max = std::max(lines, 1);
    bar.Value = 0;
    const ExitButtonOffer exitButton;
    g.cmd.ContinueFlag = false;
    m.TransferReport.clear();
    m.TransferRefusable = refusable;
    m.TransferRunning = true;
    struct Running {
        ~Running() { g.menus.TransferRunning = false; }
    } running;

    auto left = [] { return g.cmd.ContinueFlag; };
    PortWrite written = PortWrite::Sent;
    int number = 0;
    while (written == PortWrite::Sent && std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();  // the product ends each line at the carriage return sent below
        bar.Value = std::min(++number, bar.Max);
        written = WritePort(line + "\r", left);
        if (written == PortWrite::Sent) {
            P().events->DoEvents();
            if (left())
                written = PortWrite::Stopped;
        }
    }
    switch (written) {
        case PortWrite::Sent:
            return FileSend::Sent;
        case PortWrite::Lost:
            m.TransferReport = "the serial port has gone.";
            return FileSend::Lost;
        case PortWrite::Stopped:
            // The button has done its work: what follows may wait for the product again.
            g.cmd.ContinueFlag = false;
            m.TransferReport = "stopped by the operator.";
            AbortTransfer(refusable);
            return FileSend::Exit;
        case PortWrite::Stalled:
            m.TransferReport = "the " + g.dev.DevDisplayName + " took no data for " +
                               std::to_string(kOutputPatienceMs / 1000) + " seconds.";
            AbortTransfer(refusable);
            return FileSend::Stalled;
    }
    return FileSend::Lost;
}

void AbortTransferOnClose() {
    if (!g.menus.TransferRunning)
        return;
    g.menus.TransferRunning = false;
    AbortTransfer(g.menus.TransferRefusable);
}

}  // namespace rompush
