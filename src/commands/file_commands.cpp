// SELECT HEX FILE and GET LAST USED: choosing the file that PROGRAM and VERIFY will use.
#include "commands/commands.h"
#include "core/state.h"

namespace rompush {

void HexFileCommand() {
    g.cmd.UiCommand = 0;
}
void LastUsedCommand() {
    g.cmd.UiCommand = 0;
}

}  // namespace rompush
