#include "app/logic/PortDiagnosis.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>

#include "util/Cp1250.h"
#include "util/SystemError.h"

namespace pom {
namespace {

std::string DeviceGroup(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "dialout";
    group grp{};
    group* found = nullptr;
    char buf[1024];
    if (::getgrgid_r(st.st_gid, &grp, buf, sizeof buf, &found) != 0 || found == nullptr)
        return std::to_string(st.st_gid);
    return found->gr_name;
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
            const std::string group = DeviceGroup(devicePath);
            return Cp("brak uprawnień do " + devicePath + ": dodaj użytkownika do grupy " + group +
                      " (zwykle dialout), np. sudo usermod -aG " + group +
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
