#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pom {

class TdmUtil;

// A window's position, size and font as the settings keep them, under a
// section named after the window (Form_X, Form_Y, Form_W, Form_H, Font,
// Fontsize, FontColor, Charset).
struct FormPlacement {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::string fontName;  // Windows-1250
    int fontSize = 0;      // points
    int fontColor = 0;     // 0x00BBGGRR, or negative for a system colour
    int charset = 0;       // 0..255

    bool operator==(const FormPlacement&) const = default;
};

// Stored values over the current ones, in one read of the file. A left edge
// beyond the screen width, or a top edge beyond its height, becomes 10; the
// size is not clamped and a negative edge is not corrected.
FormPlacement LoadFormPlacement(const TdmUtil& util, std::string_view section,
                                const FormPlacement& current, int screenWidth, int screenHeight);
// Writes all eight keys at once. The caller saves only a window in its normal
// state, so a maximised window keeps its last normal placement.
void SaveFormPlacement(TdmUtil& util, std::string_view section, const FormPlacement& placement);

struct DialogPosition {
    int left = 0;
    int top = 0;
    bool operator==(const DialogPosition&) const = default;
};

// The same for a dialog that keeps only its position (Form_X, Form_Y).
DialogPosition LoadDialogPosition(const TdmUtil& util, std::string_view section,
                                  const DialogPosition& current, int screenWidth, int screenHeight);
void SaveDialogPosition(TdmUtil& util, std::string_view section, const DialogPosition& position);
// The stored position corrected as above, or nothing when the section holds
// none, so that a dialog never placed before is centred on its window.
std::optional<DialogPosition> StoredDialogPosition(const TdmUtil& util, std::string_view section,
                                                   int screenWidth, int screenHeight);

}  // namespace pom
