// Writing new firmware into a device on the keyboard port: identified again, its application
// flash erased, the HEX file sent record by record, a CRC of everything sent compared by the
// device; an Orbit's or Prisma's configuration read before and written back after.
#pragma once

namespace rompush {

// Sets ErrorCode on failure: 8002 (a command not acknowledged, the device or controller
// stopped), 8001 (the CRC verdict not good or not received), 8003 (programmed, but the
// settings written back were not acknowledged: they are kept for CONFIGURE DEVICE), 5001 (the
// configuration could not be read, nothing was erased), 1001 (no file selected), or what
// identification and the file check set (the file is checked, and refused when it holds
// nothing the device can take, before the controller is taken).
void ProgramPs2Device();

}  // namespace rompush
