// Arbitrary bytes as a URL-encoded post and as a legends text: the checks
// must not crash, whatever they let through must satisfy the rules the
// database and the pages rely on, and a page carrying the text holds no markup
// from it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <variant>

#include "tools/recorder/RecorderInput.h"
#include "tools/recorder/RecorderPages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pom::recorder;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (const auto fields = ParseUrlEncoded(bytes)) {
        const auto reading = CheckReading(*fields, "");
        if (const auto* r = std::get_if<Reading>(&reading)) {
            if (!IsTableName(r->table) || !IsStamp(r->stamp)) std::abort();
        } else if (std::get<Refusal>(reading).reason.find("=Ok") != std::string::npos) {
            std::abort();
        }
        const auto legends = CheckLegends(*fields, "k");
        if (const auto* l = std::get_if<Legends>(&legends); l && !IsTableName(l->table))
            std::abort();
    }
    DayView view;
    view.table = "t";
    view.day = "2023-01-05";
    view.legendsText = bytes;
    view.rows.push_back({"2023-01-05 10:00:00", {}});
    view.rows.back().values[0] = 1.5;
    const std::string page = TablePage(view);
    if (page.find("<script") != std::string::npos) std::abort();
    return 0;
}
