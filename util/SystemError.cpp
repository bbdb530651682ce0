#include "util/SystemError.h"

#include <cerrno>

#include "util/Cp1250.h"

namespace pom {

std::string SystemErrorText(int code) {
    switch (code) {
        case ENOENT:
            return Cp("nie ma takiego pliku ani urządzenia");
        case ENODEV:
        case ENXIO:
            return Cp("nie ma takiego urządzenia");
        case EACCES:
        case EPERM:
            return Cp("brak uprawnień");
        case EBUSY:
            return Cp("urządzenie zajęte");
        case EIO:
            return Cp("błąd wejścia/wyjścia");
        case EROFS:
            return Cp("system plików tylko do odczytu");
        case ENOSPC:
            return Cp("brak miejsca na dysku");
        case EFBIG:
            return Cp("plik za duży");
        case EISDIR:
            return Cp("to jest folder");
        case ENOTDIR:
            return Cp("część ścieżki nie jest folderem");
        default:
            return Cp("błąd systemu nr ") + std::to_string(code);
    }
}

}  // namespace pom
