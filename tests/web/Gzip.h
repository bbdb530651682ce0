#pragma once

// Compressed bodies for the HTTP client's tests, made with zlib.

#include <zlib.h>

#include <cstring>
#include <stdexcept>
#include <string>

namespace pom::test {

// windowBits as deflateInit2 takes them: 31 gzip (zlib writes no name and no
// time, so the first 8 bytes are 1F 8B 08 00 00 00 00 00), 15 zlib, -15 raw.
inline std::string Deflate(const std::string& in, int windowBits) {
    z_stream zs{};
    if (deflateInit2(&zs, 9, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&zs, in.size()) + 64, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    if (deflate(&zs, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

inline std::string Gzip(const std::string& in) {
    return Deflate(in, 31);
}

// A gzip member of about `megabytes` MB that inflates to about a thousand
// times as much: one flushed run of zeros repeated (its back-references reach
// only zeros, so every copy decodes the same), then an empty final block.
inline std::string GzipBomb(std::size_t megabytes) {
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    const std::string zeros(1 << 20, '\0');
    std::string buf(1 << 16, '\0');
    auto run = [&](int flush, int rounds) {
        std::string out;
        for (int i = 0; i < rounds; ++i) {
            zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
            zs.avail_in = static_cast<uInt>(zeros.size());
            do {
                zs.next_out = reinterpret_cast<Bytef*>(buf.data());
                zs.avail_out = static_cast<uInt>(buf.size());
                deflate(&zs, i + 1 == rounds ? flush : Z_NO_FLUSH);
                out.append(buf.data(), buf.size() - zs.avail_out);
            } while (zs.avail_out == 0 || zs.avail_in > 0);
        }
        return out;
    };
    std::string body("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03", 10);
    body += run(Z_FULL_FLUSH, 1);
    const std::string middle = run(Z_FULL_FLUSH, 64);  // 64 MB of zeros
    while (body.size() < megabytes * 1000000) body += middle;
    zs.avail_in = 0;
    zs.next_out = reinterpret_cast<Bytef*>(buf.data());
    zs.avail_out = static_cast<uInt>(buf.size());
    deflate(&zs, Z_FINISH);
    body.append(buf.data(), buf.size() - zs.avail_out);
    deflateEnd(&zs);
    body.append(8, '\0');  // CRC and length: never reached
    return body;
}

}  // namespace pom::test
