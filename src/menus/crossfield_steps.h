// What the Crossfield's operations share: how long each kind of wait may take, and the end of
// the Crossfield mode when the product stops answering.
#pragma once

#include <string>

#include "menus/product_text.h"

namespace rompush::cfx {

// Bounds of the waits for the product's text: how long it may be silent, in milliseconds. A
// menu answers in well under a second even at 9600 baud; the power-on text and a restart
// take a few seconds; flashing and the copy to the other boards are quiet longest between
// their progress dots. The first answer to a menu key always comes within kPromptMs.
constexpr int kPromptMs = 15000;
constexpr int kPowerOnMs = 30000;
constexpr int kFlashMs = 180000;
constexpr int kCopyMs = 300000;

// True when the awaited text came. Otherwise the Crossfield mode is to end: the dispatcher
// stops and the entry puts the port back; a message says why, unless the operator left.
bool Awaited(TextWait result, const std::string& step);

// The last character received is ">" or "?": the product waits for an answer.
bool AtPromptOrQuestion(const std::string& received);

// MenuText keeps only its last "Serial options menu" block, cut one character after its last
// ">".
void KeepLastMenuBlock();
// What was received goes to MenuText (and so to the console log), and SerialText is emptied.
void KeepReceived();

// Key "2" toggles the Crossfield's rate between 9600 and 57600 baud until its next power-up;
// the port follows once it has said so, and a return at the new rate brings its menu back.
bool ToggleRate(const std::string& baud);

// Sends a refusal to a product that waits for a file, as the console does.
void RefuseFile();

}  // namespace rompush::cfx
