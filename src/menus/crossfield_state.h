// What RomPush knows of the attached Crossfield matrix switch.
#pragma once

#include <string>

namespace rompush {

struct CrossfieldState {
    std::string PowerUpBaud;  // "9600" or "57600": the rate it was found at, its power-up rate
    std::string NewBaud;      // the rate chosen for its next power-up
    bool RestartRequested = false;
    bool DefaultsLoaded = false;  // factory defaults were loaded in this visit
    bool DefaultsOk = false;      // and needed no starting computer put back
    bool StartCpuDone = false;
    bool StartCpuOk = false;
    bool StartCpuCancelled = false;
    std::string InfoText;
    std::string ProgramReport;  // what the product said after a download that failed  // what the
                                // information box keeps
    // The mode ended while an operation ran (a restart, a time-out): the dispatcher stops.
    bool ModeEnded = false;
    bool Unanswered = false;  // it ended because the Crossfield stopped answering
};

}  // namespace rompush
