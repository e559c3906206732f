// A minimal PNG encoder for the device pictures of the mock platform: no image library needed,
// and every byte it writes is a real, valid PNG that any decoder reads.
#ifndef CORVANE_MOCK_PNG_H
#define CORVANE_MOCK_PNG_H

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::mock {

// Encodes 8-bit RGB pixels (row after row, 3 bytes per pixel, width * height * 3 bytes) as a PNG
// file: signature, IHDR, one IDAT holding a zlib stream of stored (uncompressed) deflate blocks
// with filter type 0 on every row, IEND. Throws std::invalid_argument when a side is 0 or above
// 16384 pixels, or when the pixel count does not match the sides.
std::string EncodeRgbPng(std::uint32_t width, std::uint32_t height,
                         const std::vector<std::uint8_t>& rgb);

}  // namespace corvane::mock

#endif  // CORVANE_MOCK_PNG_H
