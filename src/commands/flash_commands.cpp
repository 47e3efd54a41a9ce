// The program, verify and erase commands arrive with the flash routines. Until then each ends
// at once, as every command does, with UiCommand = 0.
#include "commands/commands.h"
#include "core/state.h"

namespace rompush {

void EraseCommand() {
    g.cmd.UiCommand = 0;
}
void VerifyCommand() {
    g.cmd.UiCommand = 0;
}
void ProgramCommand() {
    g.cmd.UiCommand = 0;
}

}  // namespace rompush
