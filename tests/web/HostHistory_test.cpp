#include "web/HostHistory.h"

#include <gtest/gtest.h>

#include "util/Cp1250.h"

namespace pom {
namespace {

// An address typed again in other letters adds nothing, and the first
// spelling is kept; a letter that only looks alike, or a sign without case,
// makes a different address.
TEST(HostHistoryFold, AddsAnAddressOnlyOnceWhateverItsLetterCase) {
    const struct {
        const char *first, *again;  // UTF-8, stored as Windows-1250
        bool same;
    } cases[] = {{"SERWER/Zapisz2Pomiary.php", "serwer/zapisz2pomiary.php", true},
                 {"ĄĆĘŁŃÓŚŹŻ", "ąćęłńóśźż", true},
                 {"ąćęłńóśźż", "ĄĆĘŁŃÓŚŹŻ", true},
                 {"ŠŤŽĽŞŔÝ", "šťžľşŕý", true},
                 {"Łódź", "Lodz", false},
                 {"ż", "ź", false},
                 {"a×b", "a÷b", false},
                 {"ß", "SS", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.first) + " / " + c.again);
        HostHistory h;
        ASSERT_TRUE(h.Add(Cp(c.first)));
        EXPECT_EQ(h.Add(Cp(c.again)), !c.same);
        EXPECT_EQ(h.Items().size(), c.same ? 1u : 2u);
        EXPECT_EQ(h.Items().front(), Cp(c.first));
    }
}

}  // namespace
}  // namespace pom
