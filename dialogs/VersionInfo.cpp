#include "dialogs/VersionInfo.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cstring>
#include <string_view>

#include "dialogs/VersionRecord.h"

namespace pom {

static_assert(std::endian::native == std::endian::little,
              "the version record and the ELF reader assume a little-endian machine");

std::string FormatVersion(std::uint32_t ms, std::uint32_t ls) {
    const std::uint32_t parts[4] = {ms >> 16, ms & 0xFFFFu, ls >> 16, ls & 0xFFFFu};
    int last = 3;
    while (last >= 0 && parts[last] == 0) --last;
    if (last < 0) return {};
    std::string s = std::to_string(parts[0]);
    if (last >= 1) s += (parts[1] < 10 ? ".0" : ".") + std::to_string(parts[1]);
    if (last >= 2) s += "." + std::to_string(parts[2]);
    if (last >= 3) s += "." + std::to_string(parts[3]);
    return s;
}

namespace {

// A read-only file whose every read is checked against its size, so that no
// offset taken from the file can reach outside it.
class CheckedFile {
public:
    explicit CheckedFile(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat st {};
        // Only a regular file: a FIFO or a device named here must not block.
        if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) Close();
        if (fd_ >= 0) size_ = static_cast<std::uint64_t>(st.st_size);
    }
    ~CheckedFile() { Close(); }
    CheckedFile(const CheckedFile&) = delete;
    CheckedFile& operator=(const CheckedFile&) = delete;

    bool Open() const { return fd_ >= 0; }
    std::uint64_t Size() const { return size_; }

    // Whether n bytes from offset lie inside the file.
    bool Holds(std::uint64_t offset, std::uint64_t n) const {
        return offset <= size_ && n <= size_ - offset;
    }

    bool Read(std::uint64_t offset, void* out, std::size_t n) const {
        if (fd_ < 0 || !Holds(offset, n)) return false;
        auto* p = static_cast<char*>(out);
        while (n > 0) {
            const ssize_t got = ::pread(fd_, p, n, static_cast<off_t>(offset));
            if (got <= 0) return false;
            p += got;
            n -= static_cast<std::size_t>(got);
            offset += static_cast<std::uint64_t>(got);
        }
        return true;
    }

private:
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

bool ReadSectionHeader(const CheckedFile& f, const Elf64_Ehdr& eh, std::uint64_t index,
                       Elf64_Shdr& out) {
    // The count was checked against the file size, so this cannot overflow.
    return f.Read(eh.e_shoff + index * eh.e_shentsize, &out, sizeof out);
}

// Whether section `sh` is named `name` in the section name table `strtab`.
bool NameIs(const CheckedFile& f, const Elf64_Shdr& strtab, const Elf64_Shdr& sh,
            std::string_view name) {
    const std::uint64_t need = name.size() + 1;  // with its NUL
    if (sh.sh_name >= strtab.sh_size || need > strtab.sh_size - sh.sh_name) return false;
    if (strtab.sh_offset > UINT64_MAX - sh.sh_name) return false;
    char buf[64];
    static_assert(sizeof buf >= std::string_view(version_record::kSectionName).size() + 1);
    if (need > sizeof buf || !f.Read(strtab.sh_offset + sh.sh_name, buf, need)) return false;
    return std::memcmp(buf, name.data(), name.size()) == 0 && buf[name.size()] == '\0';
}

bool FindRecord(const CheckedFile& f, version_record::Record& out) {
    Elf64_Ehdr eh;
    if (!f.Read(0, &eh, sizeof eh)) return false;
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
        eh.e_ident[EI_DATA] != ELFDATA2LSB)
        return false;
    if (eh.e_shoff == 0 || eh.e_shentsize < sizeof(Elf64_Shdr)) return false;

    // Section 0 carries the real count and name table index when they do
    // not fit the header's 16-bit fields.
    Elf64_Shdr first;
    if (!f.Read(eh.e_shoff, &first, sizeof first)) return false;
    std::uint64_t count = eh.e_shnum != 0 ? eh.e_shnum : first.sh_size;
    std::uint64_t names = eh.e_shstrndx != SHN_XINDEX ? eh.e_shstrndx : first.sh_link;
    if (eh.e_shoff > f.Size() || count > (f.Size() - eh.e_shoff) / eh.e_shentsize) return false;
    if (names == SHN_UNDEF || names >= count) return false;

    Elf64_Shdr strtab;
    if (!ReadSectionHeader(f, eh, names, strtab) || strtab.sh_type != SHT_STRTAB ||
        !f.Holds(strtab.sh_offset, strtab.sh_size))
        return false;
    for (std::uint64_t i = 1; i < count; ++i) {
        Elf64_Shdr sh;
        if (!ReadSectionHeader(f, eh, i, sh)) return false;
        if (!NameIs(f, strtab, sh, version_record::kSectionName)) continue;
        if (sh.sh_type == SHT_NOBITS || sh.sh_size < sizeof out ||
            !f.Holds(sh.sh_offset, sh.sh_size))
            return false;
        if (!f.Read(sh.sh_offset, &out, sizeof out)) return false;
        return std::memcmp(out.magic, version_record::kMagic, sizeof out.magic) == 0;
    }
    return false;
}

}  // namespace

std::string VersionText(const std::string& path) {
    std::string result = "??";
    const CheckedFile f(path);
    if (!f.Open()) return result;
    version_record::Record r;
    if (!FindRecord(f, r)) return result;
    const std::uint32_t ms = (std::uint32_t{r.parts[0]} << 16) | r.parts[1];
    const std::uint32_t ls = (std::uint32_t{r.parts[2]} << 16) | r.parts[3];
    result = "Version " + FormatVersion(ms, ls);
    const std::size_t n = ::strnlen(r.internalName, sizeof r.internalName);
    if (n > 0) result += " " + std::string(r.internalName, n);
    return result;
}

}  // namespace pom
