#pragma once

#include <string>
#include <vector>

namespace pom {

// Adds the serial ports present on this machine to the list, one entry per
// device: tty devices with a backing device (ttyUSB*, ttyACM*, ttyS* that have
// a UART) and Bluetooth rfcomm* ports. A device with a stable
// /dev/serial/by-id/ name is listed by that path (it survives replugging and
// renumbering), any other by its name without /dev/. Devices already in the
// list (by name, without regard to case, or as the same device) are not added
// again; the list is not sorted. Meant to be called whenever the list is
// shown, since adapters come and go.
void EnumComPorts(std::vector<std::string>& list);

// The same over other folders, for tests: `devDir` stands for /dev.
void EnumComPortsIn(std::vector<std::string>& list, const std::string& ttyClassDir,
                    const std::string& byIdDir, const std::string& devDir);

// Whether two port names open the same device: "ttyACM0" and the by-id path
// that leads to /dev/ttyACM0 are the same port, so a name stored before the
// list offered stable names still finds its entry. Names of devices not
// present are the same only when they are equal.
bool SamePort(const std::string& a, const std::string& b);
bool SamePortIn(const std::string& a, const std::string& b, const std::string& devDir);

}  // namespace pom
