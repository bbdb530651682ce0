#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pom {

// The About box's picture, compiled in from AboutPicture.jpg.
extern const unsigned char kAboutPicture[];
extern const std::size_t kAboutPictureSize;

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // 3 bytes a pixel, rows top to bottom, no padding
};

// Pictures larger than this on either side are refused rather than allocated.
inline constexpr int kMaxJpegSide = 8192;

// Decodes a JPEG with libjpeg. Damaged data gives nothing (and `error` the
// decoder's reason) instead of ending the program, as libjpeg's own error
// handler would.
std::optional<RgbImage> DecodeJpeg(const unsigned char* data, std::size_t size,
                                   std::string* error = nullptr);

}  // namespace pom
