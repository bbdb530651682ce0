#include "util/FileUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "util/Cp1250.h"
#include "util/SystemError.h"

namespace pom {

namespace {

// Closes the descriptor when the scope ends, whatever way it ends.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now so that a failing close (delayed write error) is seen.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// The message is shown to users: Windows-1250 like every other text.
std::string ErrorText(const std::string& path, int err) {
    return Utf8ToCp1250(path) + ": " + SystemErrorText(err);
}

FileError SystemError(const std::string& path, int err) {
    return FileError(ErrorText(path, err), err);
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Where the bytes really go: a link is replaced through its target.
std::string ResolveTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char buf[PATH_MAX];
    if (::realpath(path.c_str(), buf) != nullptr) return buf;
    return path;
}

// Creates a new file ".pomXXXXXXXX" in the folder (O_EXCL, mode 0666 before
// the umask); its name goes to `name`. -1 with errno set when it cannot.
int CreateTemporary(const std::string& folder, std::string& name) {
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::random_device seed;
    std::mt19937_64 rng((static_cast<std::uint64_t>(seed()) << 32) ^ seed() ^
                        static_cast<std::uint64_t>(::getpid()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = folder + "/.pom";
        for (int i = 0; i < 8; ++i) candidate += kDigits[rng() % (sizeof kDigits - 1)];
        const int fd =
            ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0) {
            name = std::move(candidate);
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

bool MakeFolders(const std::string& path) {
    return CreateFolders(path) == 0;
}

int CreateFolders(const std::string& path) {
    if (path.empty()) return ENOENT;
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    std::error_code statEc;
    if (std::filesystem::is_directory(path, statEc)) return 0;
    // Something other than a folder in the way reads as "exists".
    if (!ec || ec.value() == EEXIST) return ENOTDIR;
    return ec.value();
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::string* error, int* code) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    int err = 0;
    std::string bytes;
    if (fd.get() < 0) {
        err = errno;
    } else {
        struct stat st {};
        if (::fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode)) {
            err = EISDIR;
        } else {
            char buf[65536];
            for (;;) {
                const ssize_t n = ::read(fd.get(), buf, sizeof buf);
                if (n > 0) {
                    bytes.append(buf, static_cast<std::size_t>(n));
                } else if (n == 0) {
                    break;
                } else if (errno != EINTR) {
                    err = errno;
                    break;
                }
            }
        }
    }
    if (err != 0) {
        if (error != nullptr) *error = ErrorText(path, err);
        if (code != nullptr) *code = err;
        return std::nullopt;
    }
    return bytes;
}

void WriteFileAtomic(const std::string& path, const std::string& bytes) {
    const std::string target = ResolveTarget(path);
    const std::string folder = FolderOf(target);
    // A rename would replace a file the user made read-only; refuse as an
    // ordinary write would.
    if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0)
        throw SystemError(path, errno);
    // A short name of its own, so a target name near the 255-byte limit still
    // has room; created as open() creates files, 0666 less the umask (or the
    // folder's default ACL), unless the file being replaced has its own mode.
    std::string tmp;
    Fd fd(CreateTemporary(folder, tmp));
    if (fd.get() < 0) throw SystemError(path, errno);

    auto fail = [&](int err) {
        ::unlink(tmp.c_str());
        return SystemError(path, err);
    };

    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && ::fchmod(fd.get(), old.st_mode & 07777) != 0)
        throw fail(errno);

    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd.get(), p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw fail(errno);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fsync(fd.get()) != 0) throw fail(errno);
    if (!fd.close()) throw fail(errno);
    if (::rename(tmp.c_str(), target.c_str()) != 0) throw fail(errno);

    // The rename itself is durable only once the folder is synced.
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
}

std::string BaseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace pom
