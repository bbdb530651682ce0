#pragma once

#include <string>
#include <string_view>

namespace pom {

class TdmUtil;

// The desktop's autostart entry (XDG): <config>/autostart/<name>.desktop,
// whose Exec line starts the program given as command (a full path).

// Creates (enabled) or removes the entry. False only when the autostart
// folder cannot be made; a refused write or removal throws std::runtime_error
// ("Unable to write to " + path).
bool SetAutoStart(const TdmUtil& util, std::string_view name, const std::string& command,
                  bool enabled);

// Whether an active entry exists; command receives the program of its Exec
// line, or "???" when there is none.
bool GetAutoStart(const TdmUtil& util, std::string_view name, std::string& command);

}  // namespace pom
