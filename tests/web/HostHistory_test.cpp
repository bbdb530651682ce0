#include "web/HostHistory.h"

#include <gtest/gtest.h>

#include "util/Cp1250.h"

namespace pom {
namespace {

// An address typed again in other letters adds nothing; a different letter
// is a different address.
struct CaseFold {
    const char* first;  // UTF-8, stored as Windows-1250
    const char* again;
    bool same;
};

class HostHistoryFold : public ::testing::TestWithParam<CaseFold> {};

TEST_P(HostHistoryFold, AddsAnAddressOnlyOnceWhateverItsLetterCase) {
    const CaseFold& c = GetParam();
    HostHistory h;
    ASSERT_TRUE(h.Add(Cp(c.first)));
    EXPECT_EQ(h.Add(Cp(c.again)), !c.same) << c.first << " / " << c.again;
    EXPECT_EQ(h.Items().size(), c.same ? 1u : 2u);
    EXPECT_EQ(h.Items().front(), Cp(c.first));  // the first spelling is kept
}

INSTANTIATE_TEST_SUITE_P(
    Letters, HostHistoryFold,
    ::testing::Values(
        CaseFold{"SERWER/Zapisz2Pomiary.php", "serwer/zapisz2pomiary.php", true},
        CaseFold{"ŁÓDŹ/x.php", "łódź/x.php", true}, CaseFold{"ĄĆĘŁŃÓŚŹŻ", "ąćęłńóśźż", true},
        CaseFold{"ąćęłńóśźż", "ĄĆĘŁŃÓŚŹŻ", true}, CaseFold{"ŠŤŽĽŞŔÝ", "šťžľşŕý", true},
        // Letters that only look alike, and signs without case.
        CaseFold{"Łódź", "Lodz", false}, CaseFold{"ż", "ź", false}, CaseFold{"a×b", "a÷b", false},
        CaseFold{"ß", "SS", false}, CaseFold{"host/a", "host/a ", false}));

}  // namespace
}  // namespace pom
