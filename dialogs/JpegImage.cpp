#include "dialogs/JpegImage.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace pom {
namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// Everything the decoder touches after setjmp lives here, outside the frame
// that longjmp returns to.
struct Decoder {
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    RgbImage image;
};

void OnError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr) {
    // Warnings (a short file, for one) are not printed; the picture decodes
    // as far as it goes.
}

bool Run(Decoder& d, const unsigned char* data, std::size_t size) {
    d.cinfo.err = jpeg_std_error(&d.err.pub);
    d.err.pub.error_exit = OnError;
    d.err.pub.output_message = OnMessage;
    if (setjmp(d.err.jump)) {
        jpeg_destroy_decompress(&d.cinfo);
        return false;
    }
    jpeg_create_decompress(&d.cinfo);
    jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d.cinfo, TRUE);
    if (d.cinfo.image_width == 0 || d.cinfo.image_height == 0 ||
        d.cinfo.image_width > kMaxJpegSide || d.cinfo.image_height > kMaxJpegSide) {
        std::snprintf(d.err.message, sizeof d.err.message, "picture size %ux%u refused",
                      d.cinfo.image_width, d.cinfo.image_height);
        jpeg_destroy_decompress(&d.cinfo);
        return false;
    }
    d.cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d.cinfo);
    const std::size_t stride = std::size_t{d.cinfo.output_width} * 3;
    d.image.width = static_cast<int>(d.cinfo.output_width);
    d.image.height = static_cast<int>(d.cinfo.output_height);
    d.image.rgb.assign(stride * d.cinfo.output_height, 0);
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        JSAMPROW row = d.image.rgb.data() + stride * d.cinfo.output_scanline;
        jpeg_read_scanlines(&d.cinfo, &row, 1);
    }
    jpeg_finish_decompress(&d.cinfo);
    jpeg_destroy_decompress(&d.cinfo);
    return true;
}

}  // namespace

std::optional<RgbImage> DecodeJpeg(const unsigned char* data, std::size_t size,
                                   std::string* error) {
    if (data == nullptr || size == 0) {
        if (error) *error = "no picture data";
        return std::nullopt;
    }
    Decoder d;
    if (!Run(d, data, size)) {
        if (error) *error = d.err.message;
        return std::nullopt;
    }
    return std::move(d.image);
}

}  // namespace pom
