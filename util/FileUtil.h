#pragma once

#include <optional>
#include <stdexcept>
#include <string>

namespace pom {

// A refused file operation: the message is "<path>: <reason>" (Windows-1250),
// code() the system's error number.
class FileError : public std::runtime_error {
public:
    FileError(const std::string& message, int code) : std::runtime_error(message), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};

// Creates the folder and every missing parent; true when it exists afterwards.
bool MakeFolders(const std::string& path);
// The same, giving 0 when the folder exists afterwards, else the system's
// error number of the failure (EACCES, EROFS, ENOTDIR, ...).
int CreateFolders(const std::string& path);

// Paths are file-system (UTF-8) text; the error texts below are Windows-1250
// ("<path>: <reason in Polish>"), ready for a log line or a message box.

// The whole file as bytes, or nothing with the system's reason in *error.
// *code gets the error number.
std::optional<std::string> ReadWholeFile(const std::string& path, std::string* error = nullptr,
                                         int* code = nullptr);

// Replaces the file's content so that a crash or a full disk leaves either the
// old file or the new one, never a torn mix: temporary file in the same
// folder, write, fsync, rename over the target, fsync of the folder. A symbolic
// link is followed, so the link itself stays. A read-only file is refused as an
// ordinary write would refuse it. Throws FileError when the system refuses;
// no temporary file is left.
void WriteFileAtomic(const std::string& path, const std::string& bytes);

// The last path component ("a/b/c.txt" -> "c.txt").
std::string BaseName(const std::string& path);

}  // namespace pom
