#pragma once

#include <stdlib.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestSupport.h"

namespace pom::test {

// The real program as a service (`pomiarnik --headless`) on `device`, with
// its standard error on the pipe the test reads. Nothing tells Qt where to
// draw: the variables that would are taken out of this environment.
inline ChildProcess StartHeadless(const std::string& home, const std::string& device) {
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) ::unsetenv(v);
    return ChildProcess(
        "/bin/sh",
        {"-c", "exec \"$0\" --headless --port \"$1\" 2>&1", BinDir() + "/pomiarnik", device},
        {{"XDG_CONFIG_HOME", home}});
}

// The next line of the service's output that holds `text`, or empty; every
// line read on the way goes into `seen` when given.
inline std::string LineWith(ChildProcess& app, const std::string& text,
                            std::chrono::seconds deadline = std::chrono::seconds(40),
                            std::vector<std::string>* seen = nullptr) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        const std::string line = app.ReadLine(std::chrono::seconds(1));
        if (seen && !line.empty()) seen->push_back(line);
        if (line.find(text) != std::string::npos) return line;
    }
    return {};
}

}  // namespace pom::test
