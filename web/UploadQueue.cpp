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

// Appends the bytes and waits until they are on the disk. A write that does
// not complete (disk full, file size limit) is undone, so the file never ends
// inside a line; *cutLeft tells when even the undoing failed.
void AppendDurably(const std::string& path, const std::string& bytes, bool* cutLeft) {
    *cutLeft = false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) throw std::runtime_error(PathToText(path) + ": " + SystemErrorText(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        throw std::runtime_error(PathToText(path) + ": " + SystemErrorText(err));
    }
    const off_t before = st.st_size;
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
    if (err != 0) {
        if (::ftruncate(fd, before) != 0 || ::fdatasync(fd) != 0) *cutLeft = done > 0;
        ::close(fd);
        throw std::runtime_error(PathToText(path) + ": " + SystemErrorText(err));
    }
    if (::close(fd) != 0) {
        err = errno;
        if (::truncate(path.c_str(), before) != 0) *cutLeft = true;
        throw std::runtime_error(PathToText(path) + ": " + SystemErrorText(err));
    }
}

}  // namespace

bool UploadQueue::Load(const std::string& path, std::string* error) {
    cutLine_.clear();
    const bool samePath = !path.empty() && path == path_;
    // What is waiting goes to the file it belongs to first: removals, or the
    // entries already sent would come back; refused entries, or they would
    // be lost. The same file must take it before it is read again.
    if (!path_.empty() && !unreadable_ && (stale_ || unsaved_ > 0)) {
        try {
            Persist();
        } catch (const std::exception& e) {
            if (samePath) {
                if (error) *error = e.what();
                return false;
            }
            // Another station's file: its refused entries come along below.
        }
    }
    // Only the entries no file holds come along; the others stay in the
    // file of the station they were queued for.
    std::deque<std::string> kept(entries_.end() - static_cast<std::ptrdiff_t>(unsaved_),
                                 entries_.end());
    path_ = path;
    unreadable_ = false;
    stale_ = false;
    cutTail_ = false;
    lastError_.clear();
    if (path.empty()) return true;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        // Nothing was left unsent; what is kept goes into the file with the
        // next Flush. The same file gone meanwhile: all its entries go back.
        if (errno == ENOENT) {
            if (!samePath) entries_ = std::move(kept);
            unsaved_ = entries_.size();
            return true;
        }
        const int err = errno;
        entries_ = std::move(kept);
        unsaved_ = entries_.size();
        unreadable_ = true;
        if (error) *error = SystemErrorText(err);
        return false;
    }
    std::string why;
    const std::optional<std::string> text =
        S_ISREG(st.st_mode) ? ReadWholeFile(path, &why) : std::nullopt;
    if (!text) {
        // Writing the queue over it would lose its records.
        entries_ = std::move(kept);
        unsaved_ = entries_.size();
        unreadable_ = true;
        if (error) *error = why.empty() ? "not a file" : why;
        return false;
    }
    entries_.clear();
    std::size_t from = 0;
    while (from < text->size()) {
        const std::size_t end = text->find('\n', from);
        if (end == std::string::npos) {
            // A write cut short: posting it would store a wrong reading.
            cutLine_ = text->substr(from);
            if (!cutLine_.empty() && cutLine_.back() == '\r') cutLine_.pop_back();
            if (::truncate(path.c_str(), static_cast<off_t>(from)) != 0) {
                stale_ = true;
                cutTail_ = true;
            }
            break;
        }
        std::string line = text->substr(from, end - from);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        entries_.push_back(std::move(line));
        from = end + 1;
    }
    unsaved_ = kept.size();
    for (std::string& e : kept) entries_.push_back(std::move(e));
    return true;
}

void UploadQueue::Append(const std::string& entry) {
    entries_.push_back(entry);
    ++unsaved_;
    Persist();
}

bool UploadQueue::PopFront() {
    if (entries_.empty()) return false;
    // An entry the file never took leaves nothing to remove from it.
    if (entries_.size() > unsaved_)
        stale_ = true;
    else
        --unsaved_;
    entries_.pop_front();
    return true;
}

void UploadQueue::FlushIfDue(Clock::time_point now) {
    if ((!stale_ && unsaved_ == 0) || now - lastRewrite_ < kRewriteEvery) return;
    lastRewrite_ = now;
    Persist();
}

void UploadQueue::Flush() {
    if (stale_ || unsaved_ > 0) Persist();
}

void UploadQueue::Save() {
    stale_ = true;
    Persist();
}

void UploadQueue::Persist() {
    if (path_.empty() || unreadable_) {
        stale_ = false;
        return;
    }
    try {
        if (stale_) {
            try {
                Rewrite();
                return;
            } catch (const std::exception&) {
                // A whole new copy may not fit where a few lines still do:
                // removed entries are only sent again, new ones must not be
                // lost.
                if (unsaved_ == 0 || cutTail_) throw;
            }
        }
        if (unsaved_ > 0) AppendUnsaved();
        lastError_.clear();
    } catch (const std::exception& e) {
        lastError_ = e.what();
        throw;
    }
}

void UploadQueue::Rewrite() {
    WriteFileAtomic(path_, Text());
    stale_ = false;
    cutTail_ = false;
    unsaved_ = 0;
    lastError_.clear();
}

void UploadQueue::AppendUnsaved() {
    std::string bytes;
    for (auto it = entries_.end() - static_cast<std::ptrdiff_t>(unsaved_); it != entries_.end();
         ++it)
        bytes.append(*it).append("\r\n");
    bool cutLeft = false;
    try {
        AppendDurably(path_, bytes, &cutLeft);
    } catch (...) {
        if (cutLeft) {
            // Only a whole rewrite may touch the file now.
            stale_ = true;
            cutTail_ = true;
        }
        throw;
    }
    unsaved_ = 0;
}

std::string UploadQueue::Text() const {
    std::string text;
    for (const std::string& e : entries_) text.append(e).append("\r\n");
    return text;
}

PersistWatch::Report PersistWatch::Check(const UploadQueue& queue) {
    Report r;
    r.held = queue.CannotPersist();
    r.changed = r.held != held_;
    held_ = r.held;
    if (r.held) {
        r.text = Cp("BŁĄD zapisu kolejki niewysłanych (") + queue.LastError() +
                 Cp("); rekordów tylko w pamięci: ") + std::to_string(queue.Unsaved()) +
                 Cp("; stacja trzyma odczyty w swoim buforie, aż zapis znów się uda");
    } else if (r.changed) {
        r.text = Cp("kolejka niewysłanych znów zapisana na dysku; odczyt bufora stacji wznowiony");
    }
    return r;
}

std::vector<std::string> UnsavedReport(const UploadQueue& queue) {
    std::vector<std::string> lines;
    const std::size_t n = queue.Unsaved();
    if (n == 0) return lines;
    // The write's reason names the file; without one (no station yet, a
    // file that could not be read) the place is said.
    std::string why = queue.LastError();
    if (why.empty())
        why = queue.Path().empty() ? Cp("stacja nierozpoznana, brak pliku")
                                   : PathToText(queue.Path()) + Cp(": plik nieczytelny");
    lines.push_back(Cp("NIE ZAPISANO rekordów kolejki: ") + std::to_string(n) + " (" + why + "):");
    const auto& e = queue.Entries();
    for (auto it = e.end() - static_cast<std::ptrdiff_t>(n); it != e.end(); ++it)
        lines.push_back(*it);
    return lines;
}

}  // namespace pom
