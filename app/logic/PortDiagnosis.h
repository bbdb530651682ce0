#pragma once

#include <string>

namespace pom {

// Why a serial port did not open, and what cures it, for the system error
// code the opening failed with. Windows-1250 text; `devicePath` is the
// file-system path. Lines are kept short (a long path aside) so a narrow
// window does not cut them; a text of two lines holds a '\n'.
//  - permission denied, two lines: the device and its group, then the cure:
//    joining that group and logging in again, or, for a device of group
//    root, a udev rule giving it the dialout group (never joining root);
//  - busy: another program holds the port;
//  - no such device: the port is not there (unplugged, wrong name);
//  - anything else: the system's reason and its number.
std::string PortOpenFailureReason(const std::string& devicePath, int errorCode);

// "/dev/" + name, or the name itself when it holds "/".
std::string PortDevicePath(const std::string& portName);

}  // namespace pom
