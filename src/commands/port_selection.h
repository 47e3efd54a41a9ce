// The port list: finding the COM ports, the operator's choice, the COM PORT button.
#pragma once

#include <string>

namespace rompush {

void FindComPorts(bool atStartup);
void cboPORT_Click();
void cboPORT_LostFocus();
void btnCommPort_MouseUp();
// Closes the port and reopens it with the fixed settings "115200,N,8,1", no handshaking.
void ReopenPortFixed();
// While the command loop is idle: when serial devices appeared or went, or the port map
// changed, the port list is searched again by FindComPorts' rules (RefreshComPorts); says once
// on the status line what an operator lacking the rights to a device must do.
void FollowPortChanges();
void RefreshComPorts();
// One line per COM port of the list (number, device, what it is), then the devices that did
// not open with the reason, then what to do about missing rights: the port list's tooltip and
// the COM PORT dialog show it.
std::string PortListText();
// The port number an entry of the port list stands for: 99 for "PS/2", else its number.
int PortNumberOfEntry(const std::string& entry);

}  // namespace rompush
