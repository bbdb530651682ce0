#pragma once

#include <string>
#include <vector>

namespace pom {

// Adds the serial ports present on this machine to the list: tty devices with a
// backing device (ttyUSB*, ttyACM*, ttyS* that have a UART), by name without
// /dev/, then the stable /dev/serial/by-id/ paths as their own entries. Names
// already in the list (compared without regard to case) are not added again;
// the list is not sorted.
void EnumComPorts(std::vector<std::string>& list);

// The same over other folders, for tests.
void EnumComPortsIn(std::vector<std::string>& list, const std::string& ttyClassDir,
                    const std::string& byIdDir);

}  // namespace pom
