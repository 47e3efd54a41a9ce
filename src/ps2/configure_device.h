// CONFIGURE DEVICE: the ERASE command of an Orbit Tiny, Orbit Mini or Prisma. The device's
// settings are read into the dialog "Configure Device", the operator edits them, and OK writes
// them back.
#pragma once

namespace rompush {

// Runs the whole dialog with the main window disabled. A record that could not be read leaves
// ErrorCode 5001 (or only the message that the port cannot be reached) and opens no dialog;
// Cancel, or closing the dialog, writes nothing. ErrorCode is 0 once the dialog has opened.
void ConfigureDevice();

}  // namespace rompush
