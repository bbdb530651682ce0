#pragma once

#include <string>
#include <vector>

namespace pom {

// The script addresses used before, in the order added, without repeats
// (letter case does not count). Kept in the settings as delimited text.
class HostHistory {
public:
    // Reads the delimited text of the settings.
    void Load(const std::string& text);
    std::string Text() const;
    // Appends the address unless it is already there; true when added.
    bool Add(const std::string& address);
    const std::vector<std::string>& Items() const { return items_; }

private:
    std::vector<std::string> items_;
};

}  // namespace pom
