// What the Meridan's detection, command loop and operations share: the bounded waits for the
// product's text, the information view, and the texts of the target being served.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace rompush::meridan {

// How long the product may stay silent in each step before RomPush gives up on it.
constexpr int kBootMs = 15000;        // power-on text, the menu after the space, a restart
constexpr int kAnswerMs = 5000;       // a menu key's answer
constexpr int kSectorMs = 15000;      // one flash sector programmed and verified
constexpr int kUsbFlashMs = 15000;    // the USB controller between two progress dots
constexpr int kQrxSilenceMs = 60000;  // one transmitter between two progress dots
constexpr int kCopyMs = 30000;        // one data controller receiving the firmware

// Waits until arrived(SerialText) holds. The product may talk as long as it keeps talking:
// silenceMs bounds each quiet spell, not the whole step. The exit button (shown as "ABORT"
// while the wait runs, when no other view shows it) ends the wait.
// False when the text never came: LeaveReason then says why and the Meridan mode ends.
bool Await(const std::function<bool(const std::string&)>& arrived, int silenceMs,
           bool countProgress = false);
bool AwaitText(std::string_view text, int silenceMs, bool countProgress = false);
bool AwaitAnyText(std::string_view first, std::string_view second, int silenceMs,
                  bool countProgress = false);
// SerialText ends in one of the prompt characters (">" or "?").
bool EndsInPrompt(const std::string& text);

// Lays the information view out: the detected-product box (font "@SimSun" for the product's
// own text), the information and note boxes, the console button and the cancel button.
void ShowInfoView(const std::string& detected, const std::string& info, const std::string& note,
                  const std::string& cancelCaption);
// Waits for the operator's CONTINUE (or ABORT); what the product sends meanwhile is kept in
// SerialText. Operators take their time: this wait has no bound.
void WaitForOperator();

// MenuText keeps only its last "Serial options menu" block.
void KeepLastMenuBlock();
// The key of a menu digit.
std::string MenuKey(int digit);
// The Meridan's help text of the PROGRAM button for the current target.
std::string ProgramHelpText();

}  // namespace rompush::meridan
