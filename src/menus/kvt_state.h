// What RomPush knows of the attached KVT remote control switch.
#pragma once

namespace rompush {

struct KvtState {};

}  // namespace rompush
