// rompush-kbc-helper: the only part of RomPush with rights to the PC's keyboard controller.
//
// rompush and rompush-cli start it when "PS/2" is used, with their socket as descriptor 3 and
// their own environment. It takes its access to ports 0x60 and 0x64 (ioperm, /dev/port) with
// the rights its file capabilities give it (cap_sys_rawio, cap_dac_override, set by the
// package on this file only), gives up every capability and sets no-new-privileges, and only
// then reads the program's first request. When the program goes away while it holds the
// controller, the helper gives the controller back before it ends.
#include <cstdio>
#include <string>

#include "kbc_helper/kbc_service.h"
#include "kbc_helper/port_access.h"

int main(int argc, char** argv) {
    (void)argv;
    if (argc != 1 || !rompush::kbc::TakeProgramSocket()) {
        std::fprintf(stderr,
                     "rompush-kbc-helper: started by rompush and rompush-cli, which talk to it "
                     "on descriptor 3; it takes no arguments\n");
        return 2;
    }
    rompush::kbc::PortAccess ports;
    std::string why;
    if (!rompush::kbc::DropPrivileges(why)) {
        std::fprintf(stderr, "rompush-kbc-helper: %s\n", why.c_str());
        return 1;
    }
    rompush::kbc::KbcService service(ports);
    rompush::kbc::Serve(rompush::kbc::kHelperSocketFd, service);
    return 0;
}
