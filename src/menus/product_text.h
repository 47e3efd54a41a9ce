// Talking to a serial-menu product: what it sends is gathered into SerialText and searched for
// the awaited text; RomPush answers with menu keys and sends HEX files as text. Every wait
// has a bound fit for its step and an exit: the operator's exit button (ContinueFlag), and an
// adapter that has gone. A product that goes silent therefore never holds the window.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace rompush {

enum class TextWait {
    Found,   // the awaited text arrived
    Exit,    // the operator pressed the exit button
    Silent,  // the bound passed without it
    Lost,    // the port's device has gone
};

// Appends everything waiting on the port to SerialText; answers how many characters came.
int ReadIntoSerialText();

// Waits until arrived(SerialText) holds, reading what the product sends and processing
// events; ends early on the exit button or a lost adapter, and after boundMs without the
// text. With countProgress the progress bar moves on by one each time SerialText grew, up to
// its maximum. The caller clears ContinueFlag before a wait the operator may leave.
TextWait WaitForProductText(const std::function<bool(const std::string&)>& arrived, int boundMs,
                            bool countProgress = false);
// Waits until SerialText contains any of the texts.
TextWait WaitForAnyText(std::initializer_list<std::string_view> texts, int boundMs,
                        bool countProgress = false);

bool SerialTextHas(std::string_view text);

// Writes menu keys or text to the product.
void SendToProduct(const std::string& text);

// Sends a HEX file to the product as text: the progress bar counts the lines, each line's
// characters go one per write, then a carriage return; events run after every line. False
// (nothing sent) when the file cannot be opened.
bool SendFileAsText(const std::string& path);

}  // namespace rompush
