// The Crossfield matrix switch, reached through its serial text menu.
#pragma once

namespace rompush {

// Entered when the banner check heard a Crossfield at that rate.
void CfxAt57600();
void CfxAt9600();

}  // namespace rompush
