// The KVT remote control switch: its revisions and button mapping, HEX file download after a
// power cycle, and remapping its front buttons.
#pragma once

#include <string>

#include "menus/product_text.h"

namespace rompush {

// Reads the KVT's revisions and button mapping from what it sent when it powered up.
void KVT_Boot();
// Serves the main window's buttons for the KVT: SELECT HEX FILE, GET LAST USED, REMAP KVT
// BUTTONS and PROGRAM (the download). SCAN leaves the KVT and puts the normal window back; so
// does a port whose adapter has gone, with a message.
void KvtMenu();
// Re-labels the main window for the KVT.
void KvtUI();
// One remap dialogue with the KVT's remap menu: button number, then its computer port, saved
// with "Y". False, with nothing saved, when the KVT refused the entry.
bool SendButtonMapping(const std::string& button, const std::string& port);

// The operations KvtMenu runs, by UiCommand 2, 7, 6 and 5.
void KvtSelectFile();
void KvtLastUsed();
void KvtDownload();
void KvtRemap();

// An entry of ButtonMap: trimmed, then filled with blanks on the right to 4 characters.
std::string MapEntry(const std::string& text);

// The fields of the KVT's "KVT Rev 1.2 NPV" line: the revision runs to the blank, the status
// code follows it. A line without the blank holds a three-character revision followed
// directly by the code.
struct KvtRevisionLine {
    std::string revision;
    std::string status;
};
KvtRevisionLine ReadKvtRevision(const std::string& afterRev);

// What the KVT operations share: how long each wait on the KVT may take, and the way out of
// one.
namespace kvt {
// The operator's time to switch the KVT off and on again.
constexpr int kPowerCycleBoundMs = 120000;
// A KVT that is on answers a key at once.
constexpr int kAnswerBoundMs = 10000;
// The boot loader erases its flash before it takes the file; the application restarts after
// a download.
constexpr int kEraseBoundMs = 30000;
constexpr int kReadingBoundMs = 30000;

// Shows "text" on the row's label and blinks it twice, to ask for a power cycle.
void AskForPowerCycle(const std::string& text, bool programRow);
// Shows the exit button for a wait the operator may leave.
void OfferExit();
void WithdrawExit();
// After a wait that did not find its text: says why, and puts the KVT view back with its
// buttons usable and the port cleared of the KVT's partial text.
void LeaveWait(TextWait result, bool powerCycle);
}  // namespace kvt

}  // namespace rompush
