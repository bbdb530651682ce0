#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "tools/recorder/RecorderStore.h"

// The pages for people: small HTML shells that load our scripts and uPlot
// (built into the program, see RecorderAssets.h) and read their data from the
// JSON API; and CSV. Every text that came from a client goes through
// HtmlEscape, or ScriptJson inside a page's data element.
namespace pom::recorder {

// The pages run only the recorder's own scripts and connect only to it; no
// inline script, no handler attributes, so a missed escape cannot run code.
inline constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
    "img-src 'self' data:; form-action 'self'; base-uri 'none'; frame-ancestors 'none'";

std::string HtmlEscape(std::string_view text);

// A JSON string literal (quotes included) that may stand inside
// <script type="application/json">: '<', '>' and '&' are written as \u escapes,
// so no text can close the element; bytes that are not UTF-8 become U+FFFD.
std::string ScriptJson(std::string_view text);

// -888 marks a channel without a reading, -999 an empty slot.
bool IsValidValue(double v);

constexpr std::array<bool, kChannels> AllChannels() {
    std::array<bool, kChannels> a{};
    for (auto& b : a) b = true;
    return a;
}

// "/": a card per station; the script fills them from /api/stations.
std::string IndexPage(const std::vector<TableSummary>& tables);
// "/table/NAME": the chart page of one table (its name as stored).
std::string StationPage(const std::string& table);

std::string MessagePage(const std::string& title, const std::string& text);

}  // namespace pom::recorder
