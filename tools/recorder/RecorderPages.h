#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "tools/recorder/RecorderStore.h"

// The pages for people: plain HTML with the chart drawn here as SVG, and CSV.
// Every text that came from a client goes through HtmlEscape.
namespace pom::recorder {

inline constexpr std::size_t kMaxTableRowsShown = 1500;

std::string HtmlEscape(std::string_view text);

// Channel captions from a legends text such as
// "pomT0;°C;Tz;Tz)(pomT1;V;U1;U1": "Tz [°C]" for Sonda0, "U1 [V]" for Sonda1;
// empty where the text names none.
std::array<std::string, kChannels> ChannelLabels(std::string_view legendsText);

// -888 marks a channel without a reading, -999 an empty slot.
bool IsValidValue(double v);

std::string IndexPage(const std::vector<TableSummary>& tables);

constexpr std::array<bool, kChannels> AllChannels() {
    std::array<bool, kChannels> a{};
    for (auto& b : a) b = true;
    return a;
}

struct DayView {
    std::string table;
    std::string day;  // YYYY-MM-DD
    std::string legendsText;
    std::vector<Row> rows;                              // that day's, oldest first
    std::array<bool, kChannels> shown = AllChannels();  // drawn on the chart
};
std::string TablePage(const DayView& view);
// The chart alone: one polyline per run of valid values of a channel.
std::string ChartSvg(const DayView& view);

std::string Csv(const std::vector<Row>& rows);

std::string MessagePage(const std::string& title, const std::string& text);

}  // namespace pom::recorder
