// The picture at the top of printed pages, drawn here rather than shipped as a file: a round
// badge in the application's blue with a lighter ring, on a transparent ground, encoded as a PNG
// (169 x 171 pixels, 8-bit RGBA, not interlaced).
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/data/ui_utility.h"

namespace libkestrun {

namespace {

constexpr uint32_t kWidth = 169;
constexpr uint32_t kHeight = 171;

void put_u32(std::vector<unsigned char>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(value >> shift));
}

// One chunk: length, type, data, and the CRC of type and data.
void put_chunk(std::vector<unsigned char>& out, const char (&type)[5],
               const std::vector<unsigned char>& data) {
  put_u32(out, static_cast<uint32_t>(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, out.data() + start, static_cast<uInt>(out.size() - start));
  put_u32(out, static_cast<uint32_t>(crc));
}

// The rows of the picture, each led by filter type 0 (none).
std::vector<unsigned char> pixel_rows() {
  std::vector<unsigned char> rows;
  rows.reserve(kHeight * (1 + kWidth * 4));
  const double cx = (kWidth - 1) / 2.0;
  const double cy = (kHeight - 1) / 2.0;
  const double outer = 80.0;
  const double ring = 62.0;
  for (uint32_t y = 0; y < kHeight; ++y) {
    rows.push_back(0);
    for (uint32_t x = 0; x < kWidth; ++x) {
      const double distance = std::hypot(x - cx, y - cy);
      // Coverage of the disc's edge over one pixel, for a smooth rim.
      const double coverage = std::clamp(outer + 0.5 - distance, 0.0, 1.0);
      const bool inRing = distance > ring && distance <= ring + 6.0;
      const std::array<unsigned char, 3> colour =
          inRing ? std::array<unsigned char, 3>{173, 216, 245} : std::array<unsigned char, 3>{24, 112, 196};
      rows.insert(rows.end(), colour.begin(), colour.end());
      rows.push_back(static_cast<unsigned char>(std::lround(coverage * 255.0)));
    }
  }
  return rows;
}

std::vector<unsigned char> encode_png() {
  std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<unsigned char> header;
  put_u32(header, kWidth);
  put_u32(header, kHeight);
  header.insert(header.end(), {8, 6, 0, 0, 0});  // depth 8, RGBA, deflate, adaptive filters, no interlace
  put_chunk(png, "IHDR", header);

  const std::vector<unsigned char> rows = pixel_rows();
  uLongf size = compressBound(static_cast<uLong>(rows.size()));
  std::vector<unsigned char> deflated(size);
  if (compress2(deflated.data(), &size, rows.data(), static_cast<uLong>(rows.size()), Z_BEST_COMPRESSION) !=
      Z_OK) {
    throw std::runtime_error("print header image: compression failed");
  }
  deflated.resize(size);
  put_chunk(png, "IDAT", deflated);
  put_chunk(png, "IEND", {});
  return png;
}

}  // namespace

const std::vector<unsigned char>& UiUtility::print_header_image() {
  static const std::vector<unsigned char> image = encode_png();
  return image;
}

}  // namespace libkestrun
