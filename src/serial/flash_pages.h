// What erase, program and verify share about flash pages: the image bytes, the CRC of a page
// of the image, the device's CRC answer and the progress bar.
#pragma once

#include <cstdint>
#include <string>

namespace rompush::flash {

// The image cell as the byte the device holds; a cell past the image reads as erased (&HFF).
std::uint8_t ImageByte(std::int32_t index);
// CRC-16 of count image cells from first on, each taken as a byte, starting from 0.
std::int32_t ImageCrc(std::int32_t first, int count);
// True when the last answer is a CRC_PAGE answer (&H5D at index 2) whose CRC differs from crc.
// Any other answer says nothing about the page and is passed over.
bool DeviceCrcDiffers(std::int32_t crc);
// The answer code two bytes before the end of the last answer equals code. An answer too short
// to hold a code there is not that answer.
bool AnswerCodeBeforeEndIs(std::uint8_t code);
// Reads the selected HEX file into the image again; True when it is good for the device. A
// file that fails shows its own error. With no file selected there is no image to write or
// compare, which is reported as a file that cannot be read (1001), never passed over.
bool LoadSelectedFile();
// Locks SCAN, the HEX file button, ERASE, VERIFY and PROGRAM while the flash is worked on.
void LockCommandButtons();
// One step further, never past the bar's maximum.
void StepProgress();
void HideProgress();
// Lets the window handle its events between pages; True when the pages may go on (no error).
bool NextPageAllowed();
// The end of a run over the pages: on success the bar goes back to 0 and the banner shows
// doneText; the bar is hidden either way.
void FinishPages(const std::string& doneText);

}  // namespace rompush::flash
