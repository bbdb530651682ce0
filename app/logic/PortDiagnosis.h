#pragma once

#include <string>

namespace pom {

// One line saying why a serial port did not open, and what cures it, for the
// system error code the opening failed with. Windows-1250 text.
//  - permission denied: the group owning the device (usually dialout), how to
//    join it, and that it takes a new login;
//  - busy: another program holds the port;
//  - no such device: the port is not there (unplugged, wrong name).
std::string PortOpenFailureReason(const std::string& devicePath, int errorCode);

// "/dev/" + name, or the name itself when it holds "/".
std::string PortDevicePath(const std::string& portName);

}  // namespace pom
