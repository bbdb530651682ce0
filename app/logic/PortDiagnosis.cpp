#include "app/logic/PortDiagnosis.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>

#include "util/Cp1250.h"
#include "util/SystemError.h"

namespace pom {
namespace {

struct DeviceGroup {
    std::string name;
    bool root = false;
};

DeviceGroup GroupOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {"dialout", false};
    group grp{};
    group* found = nullptr;
    char buf[1024];
    if (::getgrgid_r(st.st_gid, &grp, buf, sizeof buf, &found) != 0 || found == nullptr)
        return {std::to_string(st.st_gid), st.st_gid == 0};
    return {found->gr_name, st.st_gid == 0};
}

}  // namespace

std::string PortDevicePath(const std::string& portName) {
    if (portName.find('/') != std::string::npos) return portName;
    return "/dev/" + portName;
}

std::string PortOpenFailureReason(const std::string& devicePath, int errorCode) {
    switch (errorCode) {
        case EACCES:
        case EPERM: {
            // Two short lines, so that neither is cut at the window's edge.
            const DeviceGroup g = GroupOf(devicePath);
            // Joining root would hand the user the whole system: a root-owned
            // device needs a udev rule giving it the serial ports' group.
            if (g.root)
                return Cp("brak uprawnień do " + devicePath +
                          " (grupa root): potrzebna reguła udev z GROUP=\"dialout\"\n"
                          "i członkostwo w dialout: sudo usermod -aG dialout $USER, "
                          "potem zaloguj się ponownie");
            return Cp("brak uprawnień do " + devicePath + " (grupa " + g.name + ")\n" +
                      "dodaj się do grupy " + g.name + ": sudo usermod -aG " + g.name +
                      " $USER, potem wyloguj się i zaloguj ponownie");
        }
        case EBUSY:
            return Cp("port " + devicePath +
                      " jest zajęty: używa go inny program (zamknij go i wybierz port ponownie)");
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return Cp("nie ma urządzenia " + devicePath +
                      ": sprawdź, czy stacja jest podłączona, i wybierz port z menu COM...");
        default:
            return Cp("nie można otworzyć " + devicePath + ": ") + SystemErrorText(errorCode) +
                   " (" + std::to_string(errorCode) + ")";
    }
}

}  // namespace pom
