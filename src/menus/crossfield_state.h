// What RomPush knows of the attached Crossfield matrix switch.
#pragma once

namespace rompush {

struct CrossfieldState {};

}  // namespace rompush
