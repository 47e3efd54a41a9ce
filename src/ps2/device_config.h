// The ten configuration bytes of an Orbit Tiny, Orbit Mini or Prisma: read from the device
// into the lists of the dialog "Configure Device", and built from those lists and written back.
#pragma once

#include <array>
#include <cstdint>

namespace rompush {

// The configuration record, bytes 1 to 10 in the order the device sends and takes them
// (entry 0 unused).
using ConfigRecord = std::array<std::uint8_t, 11>;

constexpr std::uint8_t ReadConfig = 0xDE;
constexpr std::uint8_t WriteConfig = 0xDF;

// Over a controller already taken: asks for the record and collects its ten bytes, each
// within the wait for one received byte. False when the device sent fewer.
bool ReadConfigRecord(ConfigRecord& record);
// Over a controller already taken: WriteConfig, then the ten bytes. True only when the device
// acknowledged every one of the eleven. Otherwise it may have missed a byte and wait for one
// more, which the next command byte would complete: the record is kept for CONFIGURE DEVICE
// to offer again, and ReadConfig (harmless as a record byte) is sent so that the device is
// ready for commands again whichever it was.
bool SendConfigRecord(const ConfigRecord& record);

// Reads the record from the device and sets the dialog's lists from it; an undecodable field
// gets its default entry through ApplyConfigDefault (ErrorCode 5001 to 5009). False, with the
// lists untouched, when the record could not be read: ErrorCode 5001 when the device sent too
// few bytes, or the message "PS/2 port was not initialized" when the port cannot be reached.
bool GetOrbitParams();
// Builds the record from the dialog's lists and sends it. False when it was not written: with
// ErrorCode 5010 when the device did not acknowledge every byte, with the message "PS/2 port
// was not initialized" and nothing sent when the port cannot be reached; the record is kept
// for CONFIGURE DEVICE to offer again.
bool WriteOrbitParams();
// Settings the device did not take wait for this device: the lists are set from them and the
// notice says so. False when none wait.
bool OfferUnsavedConfig();
// The operator has decided about the settings offered again (saved them or cancelled).
void ForgetUnsavedConfig();
// Shows the notice for the field ErrorCode names (5001 to 5009) and selects the field's
// default entry; any other code does nothing.
void ApplyConfigDefault();

}  // namespace rompush
