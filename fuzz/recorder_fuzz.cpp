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
    // Whatever a page's data element carries cannot end it early.
    const std::string json = ScriptJson(bytes);
    if (json.find_first_of("<>&") != std::string::npos) std::abort();
    const std::string page = StationPage(bytes);
    std::size_t scripts = 0;
    for (auto at = page.find("<script"); at != std::string::npos; at = page.find("<script", at + 1))
        ++scripts;
    if (scripts != 4 || page.find("</script", page.find("page-data")) !=
                            page.find("}</script>", page.find("page-data")) + 1)
        std::abort();
    return 0;
}
