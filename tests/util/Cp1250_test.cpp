#include "util/Cp1250.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "util/SystemError.h"

namespace pom {

TEST(Cp1250, PolishLettersRoundTrip) {
    const std::string utf8 = "zażółć gęślą jaźń ŻÓŁĆ °C";
    const std::string cp = Utf8ToCp1250(utf8);
    EXPECT_EQ(cp, "za\xbf\xf3\xb3\xe6 g\xea\x9cl\xb9 ja\x9f\xf1 \xaf\xd3\xa3\xc6 \xb0"
                  "C");
    EXPECT_EQ(Cp1250ToUtf8(cp), utf8);
}

TEST(Cp1250, EveryByteMapsToOneCharacterAndBack) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(Utf8ToCp1250(Cp1250ToUtf8(all)), all);
}

TEST(Cp1250, InvalidOrUnmappableInputBecomesQuestionMark) {
    EXPECT_EQ(Utf8ToCp1250("a\xff" "b"), "a?b");
    EXPECT_EQ(Utf8ToCp1250("\xe2\x82"), "??");  // cut short
    EXPECT_EQ(Utf8ToCp1250("\xe4\xb8\xad"), "?");  // CJK, no byte for it
}

// System errors users meet are named in Polish; the rest by number, never
// in the C library's English.
TEST(SystemErrorText, PolishForCommonErrorsNumberForTheRest) {
    const struct {
        int code;
        const char* utf8;
    } cases[] = {
        {ENOENT, "nie ma takiego pliku ani urządzenia"},
        {ENODEV, "nie ma takiego urządzenia"},
        {ENXIO, "nie ma takiego urządzenia"},
        {EACCES, "brak uprawnień"},
        {EPERM, "brak uprawnień"},
        {EBUSY, "urządzenie zajęte"},
        {EIO, "błąd wejścia/wyjścia"},
        {EROFS, "system plików tylko do odczytu"},
        {ENOSPC, "brak miejsca na dysku"},
        {EFBIG, "plik za duży"},
        {ENOTDIR, "część ścieżki nie jest folderem"},
        {EINVAL, "błąd systemu nr 22"},
    };
    for (const auto& c : cases) EXPECT_EQ(SystemErrorText(c.code), Cp(c.utf8)) << c.code;
}

}  // namespace pom
