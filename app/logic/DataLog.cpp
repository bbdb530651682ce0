#include "app/logic/DataLog.h"

#include <stdexcept>

#include "util/FileUtil.h"

namespace pom {

void DataLog::Append(std::string line) {
    lines_.push_back(std::move(line));
    modified_ = true;
    if (listener_ != nullptr) listener_->LineAppended(lines_.back());
}

std::string DataLog::Text() const {
    std::size_t size = 0;
    for (const auto& l : lines_) size += l.size() + 2;
    std::string text;
    text.reserve(size);
    for (const auto& l : lines_) {
        text += l;
        text += "\r\n";
    }
    return text;
}

void DataLog::SetText(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') continue;
        lines.emplace_back(text.substr(start, i - start));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    lines_ = std::move(lines);
    modified_ = false;
    if (listener_ != nullptr) listener_->Reset();
}

void DataLog::Clear() {
    lines_.clear();
    modified_ = false;
    if (listener_ != nullptr) listener_->Reset();
}

void DataLog::LoadFromFile(const std::string& path) {
    std::string error;
    const auto bytes = ReadWholeFile(path, &error);
    if (!bytes) throw std::runtime_error(error);
    SetText(*bytes);
}

void DataLog::SaveToFile(const std::string& path) const {
    WriteFileAtomic(path, Text());
}

}  // namespace pom
