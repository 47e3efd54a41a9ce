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
// The port number an entry of the port list stands for: 99 for "PS/2", else its number.
int PortNumberOfEntry(const std::string& entry);

}  // namespace rompush
