#pragma once

#include <QApplication>

#include <chrono>
#include <functional>

#include "tests/support/TestSupport.h"

namespace pom::test {

// Lets the event loop run until the condition holds or the deadline passes;
// true when it held.
inline bool WaitUi(const std::function<bool()>& cond,
                   std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    return WaitFor(
        [&] {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            return cond();
        },
        deadline);
}

}  // namespace pom::test
