// The version record read back from ELF files: the built program, files
// without it, and damaged or hostile files.
#include "dialogs/VersionInfo.h"

#include <elf.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "dialogs/JpegImage.h"
#include "dialogs/VersionRecord.h"
#include "tests/support/TestSupport.h"

namespace pom {
namespace {

using test::TempDir;

TEST(FormatVersion, PartsFromTheRightOmittedWhileZero) {
    const struct {
        std::uint16_t major, minor, release, build;
        const char* text;
    } cases[] = {
        {1, 36, 0, 0, "1.36"},
        {1, 2, 3, 4, "1.02.3.4"},
        {1, 0, 2, 0, "1.00.2"},
        {2, 0, 0, 0, "2"},
        {0, 5, 0, 0, "0.05"},
        {0, 0, 0, 0, ""},
        {0, 0, 0, 1, "0.00.0.1"},
        {10, 100, 0, 7, "10.100.0.7"},
        {65535, 65535, 65535, 65535, "65535.65535.65535.65535"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatVersion((std::uint32_t{c.major} << 16) | c.minor,
                                (std::uint32_t{c.release} << 16) | c.build),
                  c.text);
}

// A small ELF64 file: the null section, the name table, the version
// section, then the section headers. Tests break parts of it.
struct ElfImage {
    std::vector<unsigned char> bytes;
    std::size_t shoff = 0;
    std::size_t recordOffset = 0;

    Elf64_Ehdr& Header() { return *reinterpret_cast<Elf64_Ehdr*>(bytes.data()); }
    Elf64_Shdr& Section(std::size_t i) {
        return *reinterpret_cast<Elf64_Shdr*>(bytes.data() + shoff + i * sizeof(Elf64_Shdr));
    }
};

ElfImage MakeElf(const std::uint16_t parts[4], const std::string& name,
                 const char* sectionName = version_record::kSectionName,
                 std::size_t recordSize = sizeof(version_record::Record)) {
    ElfImage img;
    const std::string names = std::string("\0.shstrtab\0", 11) + sectionName + '\0';
    const std::size_t namesOffset = sizeof(Elf64_Ehdr);
    img.recordOffset = namesOffset + names.size();
    img.shoff = (img.recordOffset + recordSize + 7) / 8 * 8;
    img.bytes.assign(img.shoff + 3 * sizeof(Elf64_Shdr), 0);

    Elf64_Ehdr& eh = img.Header();
    std::memcpy(eh.e_ident, ELFMAG, SELFMAG);
    eh.e_ident[EI_CLASS] = ELFCLASS64;
    eh.e_ident[EI_DATA] = ELFDATA2LSB;
    eh.e_ident[EI_VERSION] = EV_CURRENT;
    eh.e_type = ET_EXEC;
    eh.e_machine = EM_X86_64;
    eh.e_version = EV_CURRENT;
    eh.e_ehsize = sizeof(Elf64_Ehdr);
    eh.e_shoff = img.shoff;
    eh.e_shentsize = sizeof(Elf64_Shdr);
    eh.e_shnum = 3;
    eh.e_shstrndx = 1;
    std::memcpy(img.bytes.data() + namesOffset, names.data(), names.size());

    version_record::Record r{};
    std::memcpy(r.magic, version_record::kMagic, sizeof r.magic);
    std::memcpy(r.parts, parts, sizeof r.parts);
    std::memcpy(r.internalName, name.data(), std::min(name.size(), sizeof r.internalName));
    std::memcpy(img.bytes.data() + img.recordOffset, &r, std::min(recordSize, sizeof r));

    Elf64_Shdr& strtab = img.Section(1);
    strtab.sh_name = 1;
    strtab.sh_type = SHT_STRTAB;
    strtab.sh_offset = namesOffset;
    strtab.sh_size = names.size();
    Elf64_Shdr& ver = img.Section(2);
    ver.sh_name = 11;
    ver.sh_type = SHT_PROGBITS;
    ver.sh_flags = SHF_ALLOC;
    ver.sh_offset = img.recordOffset;
    ver.sh_size = recordSize;
    return img;
}

class VersionFile : public ::testing::Test {
protected:
    std::string Write(const std::vector<unsigned char>& bytes) {
        const std::string path = dir_.file("f" + std::to_string(n_++));
        test::WriteFile(path, std::string(bytes.begin(), bytes.end()));
        return path;
    }
    std::string TextOf(const std::vector<unsigned char>& bytes) {
        return VersionText(Write(bytes));
    }

    TempDir dir_;
    int n_ = 0;
    static constexpr std::uint16_t kParts[4] = {1, 2, 3, 4};
};

TEST_F(VersionFile, TheBuiltProgramCarriesTheProjectVersion) {
    const std::string program = test::BinDir() + "/pomiarnik";
    ASSERT_TRUE(test::FileExists(program)) << program;
    // --version prints the very number the About box shows after "Version ",
    // the record's in the About box's notation, not the build system's "1.2.3".
    FILE* p = ::popen(("'" + program + "' --version").c_str(), "r");
    ASSERT_NE(p, nullptr);
    char number[64] = {};
    const int got = std::fscanf(p, "pomiarnik %63s", number);
    ::pclose(p);
    ASSERT_EQ(got, 1);
    EXPECT_EQ(VersionText(program), "Version " + std::string(number) + " pomiarnik");
    unsigned v[4] = {0, 0, 0, 0};
    ASSERT_GE(std::sscanf(number, "%u.%u.%u.%u", &v[0], &v[1], &v[2], &v[3]), 2);
    EXPECT_EQ(number, FormatVersion((v[0] << 16) | v[1], (v[2] << 16) | v[3]));
}

TEST_F(VersionFile, FilesWithoutARecord) {
    // This test program is an ELF file without the section.
    EXPECT_EQ(VersionText("/proc/self/exe"), "??");
    EXPECT_EQ(VersionText(dir_.file("missing")), "??");
    EXPECT_EQ(VersionText(dir_.path()), "??");
    EXPECT_EQ(VersionText(""), "??");
    EXPECT_EQ(TextOf({}), "??");
    // A named pipe must not block the About box.
    const std::string fifo = dir_.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(VersionText(fifo), "??");
    // Another section of the same length does not count.
    EXPECT_EQ(TextOf(MakeElf(kParts, "x", ".pomiarnik_versioX").bytes), "??");
}

TEST_F(VersionFile, RecordsWithAndWithoutAName) {
    const std::uint16_t v136[4] = {1, 36, 0, 0};
    EXPECT_EQ(TextOf(MakeElf(v136, "").bytes), "Version 1.36");
    EXPECT_EQ(TextOf(MakeElf(kParts, "pomiarnik").bytes), "Version 1.02.3.4 pomiarnik");
    const std::uint16_t zero[4] = {0, 0, 0, 0};
    EXPECT_EQ(TextOf(MakeElf(zero, "").bytes), "Version ");
    // A name filling the whole field has no terminator: it ends with the field.
    const std::string full(version_record::kNameSize, 'n');
    EXPECT_EQ(TextOf(MakeElf(kParts, full + "tail").bytes), "Version 1.02.3.4 " + full);
}

TEST_F(VersionFile, EveryTruncationGivesQuestionMarks) {
    const ElfImage img = MakeElf(kParts, "pomiarnik");
    ASSERT_EQ(TextOf(img.bytes), "Version 1.02.3.4 pomiarnik");
    for (std::size_t n = 0; n < img.bytes.size(); ++n)
        EXPECT_EQ(TextOf({img.bytes.begin(), img.bytes.begin() + static_cast<long>(n)}), "??") << n;
}

TEST_F(VersionFile, HostileHeadersGiveQuestionMarks) {
    const struct {
        const char* name;
        void (*spoil)(ElfImage&);
    } cases[] = {
        {"bad magic", [](ElfImage& i) { i.bytes[1] = 'X'; }},
        {"32-bit class", [](ElfImage& i) { i.Header().e_ident[EI_CLASS] = ELFCLASS32; }},
        {"big-endian", [](ElfImage& i) { i.Header().e_ident[EI_DATA] = ELFDATA2MSB; }},
        {"no section table", [](ElfImage& i) { i.Header().e_shoff = 0; }},
        {"table past the end", [](ElfImage& i) { i.Header().e_shoff = 0xFFFFFFFFFFFFFFF0u; }},
        {"table offset wraps", [](ElfImage& i) { i.Header().e_shoff = ~std::uint64_t{0} - 8; }},
        {"too many sections", [](ElfImage& i) { i.Header().e_shnum = 0xFFFF; }},
        {"entry size zero", [](ElfImage& i) { i.Header().e_shentsize = 0; }},
        {"entry size short", [](ElfImage& i) { i.Header().e_shentsize = 8; }},
        {"name table index out of range", [](ElfImage& i) { i.Header().e_shstrndx = 7; }},
        {"name table index zero", [](ElfImage& i) { i.Header().e_shstrndx = 0; }},
        {"extended count huge",
         [](ElfImage& i) {
             i.Header().e_shnum = 0;
             i.Section(0).sh_size = ~std::uint64_t{0};
         }},
        {"extended name index huge",
         [](ElfImage& i) {
             i.Header().e_shstrndx = SHN_XINDEX;
             i.Section(0).sh_link = 0xFFFFFFFF;
         }},
        {"name table not a string table", [](ElfImage& i) { i.Section(1).sh_type = SHT_PROGBITS; }},
        {"name table past the end", [](ElfImage& i) { i.Section(1).sh_offset = 1u << 30; }},
        {"name table offset wraps",
         [](ElfImage& i) { i.Section(1).sh_offset = ~std::uint64_t{0} - 4; }},
        {"name table size huge", [](ElfImage& i) { i.Section(1).sh_size = ~std::uint64_t{0}; }},
        {"record section past the end", [](ElfImage& i) { i.Section(2).sh_size = 1u << 30; }},
        {"name offset past the table", [](ElfImage& i) { i.Section(2).sh_name = 0xFFFFFFF0; }},
        {"name cut by the table's end", [](ElfImage& i) { i.Section(1).sh_size = 20; }},
        {"record past the end", [](ElfImage& i) { i.Section(2).sh_offset = 1u << 30; }},
        {"record offset wraps", [](ElfImage& i) { i.Section(2).sh_offset = ~std::uint64_t{0}; }},
        {"record section too small", [](ElfImage& i) { i.Section(2).sh_size = 10; }},
        {"record without bytes", [](ElfImage& i) { i.Section(2).sh_type = SHT_NOBITS; }},
        {"record magic wrong", [](ElfImage& i) { i.bytes[i.recordOffset + 7] = 2; }},
    };
    for (const auto& c : cases) {
        ElfImage img = MakeElf(kParts, "pomiarnik");
        c.spoil(img);
        EXPECT_EQ(TextOf(img.bytes), "??") << c.name;
    }
}

TEST_F(VersionFile, RandomDamageNeverEscapesTheFile) {
    // Bytes of a good image overwritten at random: any answer is fine as
    // long as the reader stays inside the file (run under the sanitizers).
    std::mt19937 rng(1234);
    const ElfImage good = MakeElf(kParts, "pomiarnik");
    for (int round = 0; round < 300; ++round) {
        std::vector<unsigned char> b = good.bytes;
        for (int k = 0; k < 4; ++k) b[rng() % b.size()] = static_cast<unsigned char>(rng());
        const std::string t = TextOf(b);
        EXPECT_TRUE(t == "??" || t.rfind("Version ", 0) == 0) << t;
    }
    std::vector<unsigned char> noise(4096);
    for (auto& c : noise) c = static_cast<unsigned char>(rng());
    std::memcpy(noise.data(), ELFMAG, SELFMAG);
    noise[EI_CLASS] = ELFCLASS64;
    noise[EI_DATA] = ELFDATA2LSB;
    EXPECT_EQ(TextOf(noise), "??");
}

TEST(AboutPicture, TheCompiledInJpegDecodes) {
    std::string error;
    const auto image = DecodeJpeg(kAboutPicture, kAboutPictureSize, &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->width, 96);
    EXPECT_EQ(image->height, 96);
    ASSERT_EQ(image->rgb.size(), 96u * 96u * 3u);
    // The thermometer's red column in the middle.
    const std::uint8_t* px = &image->rgb[(60 * 96 + 48) * 3];
    EXPECT_GT(px[0], 150);
    EXPECT_LT(px[1], 100);
    EXPECT_LT(px[2], 100);
}

TEST(AboutPicture, DamagedDataIsRefusedNotFatal) {
    const std::vector<unsigned char> picture(kAboutPicture, kAboutPicture + kAboutPictureSize);
    std::string error;
    EXPECT_FALSE(DecodeJpeg(nullptr, 0, &error));
    const unsigned char garbage[] = "this is not a picture at all";
    EXPECT_FALSE(DecodeJpeg(garbage, sizeof garbage, &error));
    EXPECT_FALSE(error.empty());
    // A cut picture decodes as far as it goes or is refused; either way the
    // program goes on.
    for (const std::size_t n : {std::size_t{2}, std::size_t{20}, picture.size() / 2})
        (void)DecodeJpeg(picture.data(), n);
    // A frame header claiming a huge picture is refused before allocation.
    std::vector<unsigned char> huge = picture;
    bool patched = false;
    for (std::size_t i = 0; i + 8 < huge.size(); ++i)
        if (huge[i] == 0xFF && (huge[i + 1] == 0xC0 || huge[i + 1] == 0xC2)) {
            huge[i + 5] = huge[i + 7] = 0xFF;  // height and width 65535+
            patched = true;
            break;
        }
    ASSERT_TRUE(patched);
    error.clear();
    EXPECT_FALSE(DecodeJpeg(huge.data(), huge.size(), &error));
    EXPECT_NE(error.find("refused"), std::string::npos) << error;
}

}  // namespace
}  // namespace pom
