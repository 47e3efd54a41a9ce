// Talking to a serial-menu product: what it sends is gathered into SerialText and searched for
// the awaited text; RomPush answers with menu keys and sends HEX files as text. Every wait
// ends when the product has been silent for the step's bound, on the operator's exit button
// (ContinueFlag, shown for the whole wait), or when the adapter has gone. A product that goes
// silent therefore never holds the window, and one that keeps talking is never cut short.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace rompush {

// A Meridan is being served (its mode names the firmware target).
bool InMeridanMode();

enum class TextWait {
    Found,   // the awaited text arrived
    Exit,    // the operator pressed the exit button
    Silent,  // the product said nothing for the whole bound
    Lost,    // the port's device has gone
};

// Appends everything waiting on the port to SerialText; answers how many characters came.
int ReadIntoSerialText();

// Waits until arrived(SerialText) holds, reading what the product sends and processing
// events; ends early on the exit button or a lost adapter, and once the product has sent
// nothing for silenceMs (firstAnswerMs, when given, bounds the wait for its first byte: a
// menu answers a key at once, however long the work it starts may take). With countProgress
// the progress bar moves on by one each time SerialText grew, up to its maximum. The caller
// clears ContinueFlag before a wait the operator may leave.
TextWait WaitForProductText(const std::function<bool(const std::string&)>& arrived, int silenceMs,
                            bool countProgress = false, int firstAnswerMs = 0);
// Waits until SerialText contains any of the texts.
TextWait WaitForAnyText(std::initializer_list<std::string_view> texts, int silenceMs,
                        bool countProgress = false, int firstAnswerMs = 0);

bool SerialTextHas(std::string_view text);

// Writes menu keys or text to the product. False when they could not all be written.
bool SendToProduct(const std::string& text);

// The exit button of the product being served, shown for as long as this lives when no view
// shows it already: "ABORT" for the Meridan, "Cancel" otherwise, at the cancel button's place.
class ExitButtonOffer {
  public:
    ExitButtonOffer();
    ~ExitButtonOffer();
    ExitButtonOffer(const ExitButtonOffer&) = delete;
    ExitButtonOffer& operator=(const ExitButtonOffer&) = delete;

  private:
    bool shown_ = false;
    bool consoleButton_ = false;
};

enum class FileSend {
    Sent,     // every line went to the port
    NoFile,   // the file cannot be opened: nothing was sent
    Exit,     // the operator pressed the exit button: the transfer was aborted
    Stalled,  // the product took nothing for the port's patience: the transfer was aborted
    Lost,     // the port's device has gone
};

// Sends a HEX file to the product as text: the progress bar counts the lines, each line goes
// out followed by a carriage return, whole or not at all, and events run between the lines
// and while the port's buffer is full. The exit button is shown throughout. A transfer that
// is left or stalls is aborted: what the port has not sent yet is dropped, and a product that
// refuses a file ("refusable") is told with a carriage return, "X", "N" and a carriage return.
// TransferReport then says why.
FileSend SendFileAsText(const std::string& path, bool refusable);
// The window is closed during a transfer: it is aborted as SendFileAsText aborts it, before
// the port closes.
void AbortTransferOnClose();

}  // namespace rompush
