#pragma once

#include <cstdint>
#include <memory>

namespace pom {

// One chunk of received bytes, as one read took it from the input queue.
struct TSerialCluster {
    std::unique_ptr<char[]> Data;  // absent for an empty read
    std::uint32_t Size = 0;
    std::uint32_t ErrorCode = 0;  // line-error mask (CE_* bits) at the time of the read
};

}  // namespace pom
