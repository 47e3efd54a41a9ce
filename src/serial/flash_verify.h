// Verifying the flash of a packet-bootloader device: the device's CRC of each page is compared
// with the CRC of the same bytes of the image. Nothing is written.
#pragma once

namespace rompush {

// QTR family: pages 0..99 of 128 bytes; the file is always read again first.
void VerifyQTR();
// VLN family: pages 4..28 of 512 bytes; right after a PROGRAM the image it wrote is used.
void VerifyVLN();

}  // namespace rompush
