// Writing new firmware into a device on the keyboard port: identified again, its application
// flash erased, the HEX file sent record by record, a CRC of everything sent compared by the
// device; an Orbit's or Prisma's configuration read before and written back after.
#pragma once

namespace rompush {

// Sets ErrorCode on failure: 8002 (a command not acknowledged, the device or controller
// stopped), 8001 (the CRC verdict not good or not received), 5001 (the configuration could
// not be read, nothing was erased), 1001/1004 (the file cannot be read or has no end record),
// or what identification and file validation set.
void ProgramPs2Device();

}  // namespace rompush
