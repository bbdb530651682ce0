#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pom {

// Told about every change of the log, so a view can follow it line by line
// instead of re-reading the whole text.
class DataLogListener {
public:
    virtual ~DataLogListener() = default;
    virtual void LineAppended(const std::string& line) = 0;
    // The whole content changed (clear, load, set text).
    virtual void Reset() = 0;
};

// The data log: every received line, command echo and status line, in order.
// Lines are Windows-1250 bytes without CR/LF. The program never trims it.
class DataLog {
public:
    void Append(std::string line);
    std::size_t Count() const { return lines_.size(); }
    const std::string& Line(std::size_t i) const { return lines_[i]; }
    const std::vector<std::string>& Lines() const { return lines_; }

    // Lines joined with CR LF, the last one ended too (the file format).
    std::string Text() const;
    // Replaces all lines; a text may end its lines with CR LF, CR or LF.
    // Clears the modified flag.
    void SetText(std::string_view text);
    void Clear();

    bool Modified() const { return modified_; }

    // Replaces all lines with the file's. Throws std::runtime_error with the
    // system's reason when the file cannot be read; the log is then unchanged.
    void LoadFromFile(const std::string& path);
    // Writes the log atomically (temporary file in the same folder, flush,
    // rename, folder sync): a crash leaves the old file or the new one.
    // Throws std::runtime_error with the system's reason on failure.
    void SaveToFile(const std::string& path) const;

    void SetListener(DataLogListener* listener) { listener_ = listener; }

private:
    std::vector<std::string> lines_;
    bool modified_ = false;
    DataLogListener* listener_ = nullptr;
};

}  // namespace pom
