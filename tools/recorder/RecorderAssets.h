#pragma once

#include <cstddef>
#include <string_view>

namespace pom::recorder {

// A file the pages load (script or style), compiled into the program.
struct Asset {
    std::string_view name;  // "station.js", "uPlot.iife.min.js", ...
    std::string_view type;  // Content-Type
    std::string_view body;
    std::string_view hash;  // of body; the pages' links carry it, so it may be cached for long
};

extern const Asset kAssets[];
extern const std::size_t kAssetCount;

// nullptr when no asset has that name.
const Asset* FindAsset(std::string_view name);

}  // namespace pom::recorder
