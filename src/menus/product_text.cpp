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
}  // namespace

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

TextWait WaitForProductText(const std::function<bool(const std::string&)>& arrived, int boundMs,
                            bool countProgress) {
    auto& events = *P().events;
    const std::int64_t deadline = P().clock->NowMs() + boundMs;
    for (;;) {
        if (ReadIntoSerialText() > 0 && countProgress)
            MoveProgressOn();
        if (arrived(g.menus.SerialText))
            return TextWait::Found;
        if (g.cmd.ContinueFlag)
            return TextWait::Exit;
        if (PortLost())
            return TextWait::Lost;
        const std::int64_t left = deadline - P().clock->NowMs();
        if (left <= 0) {
            TraceLine("No answer within " + std::to_string(boundMs) + " ms");
            return TextWait::Silent;
        }
        events.WaitForEvents(static_cast<int>(std::min<std::int64_t>(left, kWaitSliceMs)));
    }
}

TextWait WaitForAnyText(std::initializer_list<std::string_view> texts, int boundMs,
                        bool countProgress) {
    return WaitForProductText(
        [texts](const std::string& received) {
            return std::any_of(texts.begin(), texts.end(), [&](std::string_view text) {
                return received.find(text) != std::string::npos;
            });
        },
        boundMs, countProgress);
}

bool SerialTextHas(std::string_view text) {
    return g.menus.SerialText.find(text) != std::string::npos;
}

void SendToProduct(const std::string& text) {
    P().serial->Output(text);
}

bool SendFileAsText(const std::string& path) {
    std::ifstream counting(path, std::ios::binary);
    if (!counting)
        return false;
    int lines = 0;
    std::string line;
    while (std::getline(counting, line))
        ++lines;
    counting.close();

    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    auto& bar = frmUI().ProgressBar1;
    bar.Min = 0;
    bar.Max = std::max(lines, 1);
    bar.Value = 0;
    auto& serial = *P().serial;
    int number = 0;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();  // the product ends each line at the carriage return sent below
        bar.Value = std::min(++number, bar.Max);
        for (char c : line)
            serial.Output(std::string(1, c));
        serial.Output("\r");
        P().events->DoEvents();
        if (PortLost())
            break;
    }
    return true;
}

}  // namespace rompush
