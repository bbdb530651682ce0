#include "web/UploadQueue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "util/Cp1250.h"
#include "util/FileUtil.h"
#include "util/SystemError.h"

namespace pom {
namespace {

// Appends the bytes and waits until they are on the disk.
void AppendDurably(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) throw std::runtime_error(PathToText(path) + ": " + SystemErrorText(errno));
    std::size_t done = 0;
    int err = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (err == 0 && ::fdatasync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) throw std::runtime_error(PathToText(path) + ": " + SystemErrorText(err));
}

}  // namespace

bool UploadQueue::Load(const std::string& path, std::string* error) {
    // The same station again: removals not yet in the file go there first,
    // or the entries already sent would come back.
    if (path == path_ && dirty_ && !unreadable_) {
        try {
            Rewrite();
        } catch (const std::exception& e) {
            if (error) *error = e.what();
            return false;
        }
    }
    path_ = path;
    unreadable_ = false;
    dirty_ = false;
    if (path.empty()) return true;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        // Nothing was left unsent; what is held now goes into the file with
        // the next Flush.
        if (errno == ENOENT) {
            dirty_ = !entries_.empty();
            return true;
        }
        unreadable_ = true;
        if (error) *error = SystemErrorText(errno);
        return false;
    }
    std::string why;
    const std::optional<std::string> text =
        S_ISREG(st.st_mode) ? ReadWholeFile(path, &why) : std::nullopt;
    if (!text) {
        // Writing the queue over it would lose its records.
        unreadable_ = true;
        if (error) *error = why.empty() ? "not a file" : why;
        return false;
    }
    entries_.clear();
    std::size_t from = 0;
    while (from < text->size()) {
        std::size_t end = text->find('\n', from);
        if (end == std::string::npos) end = text->size();
        std::string line = text->substr(from, end - from);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        entries_.push_back(std::move(line));
        from = end + 1;
    }
    return true;
}

void UploadQueue::Append(const std::string& entry) {
    entries_.push_back(entry);
    if (path_.empty() || unreadable_) return;
    if (dirty_) {
        // The file still holds entries already removed: write it whole, so
        // the new entry lands after the right ones.
        Rewrite();
        return;
    }
    try {
        AppendDurably(path_, entry + "\r\n");
    } catch (...) {
        dirty_ = true;  // the next rewrite brings the file level with the queue
        throw;
    }
}

bool UploadQueue::PopFront() {
    if (entries_.empty()) return false;
    entries_.pop_front();
    dirty_ = true;
    return true;
}

void UploadQueue::FlushIfDue(Clock::time_point now) {
    if (!dirty_ || now - lastRewrite_ < kRewriteEvery) return;
    lastRewrite_ = now;
    Rewrite();
}

void UploadQueue::Flush() {
    if (dirty_) Rewrite();
}

void UploadQueue::Rewrite() {
    if (path_.empty() || unreadable_) {
        dirty_ = false;
        return;
    }
    WriteFileAtomic(path_, Text());
    dirty_ = false;
}

std::string UploadQueue::Text() const {
    std::string text;
    for (const std::string& e : entries_) text.append(e).append("\r\n");
    return text;
}

}  // namespace pom
