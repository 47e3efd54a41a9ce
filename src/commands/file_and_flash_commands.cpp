// The HEX file, program, verify and erase commands arrive with the HEX file reader and the
// flash routines. Until then each ends at once, as every command does, with UiCommand = 0.
#include "commands/commands.h"
#include "core/state.h"

namespace rompush {

void HexFileCommand() {
    g.cmd.UiCommand = 0;
}
void LastUsedCommand() {
    g.cmd.UiCommand = 0;
}
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
