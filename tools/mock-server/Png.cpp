#include "Png.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace corvane::mock {
namespace {

constexpr std::uint32_t kMaxSide = 16384;
constexpr std::size_t kMaxStoredBlock = 65535;  // a stored deflate block holds at most this

// The CRC-32 of PNG and zlib (polynomial 0xEDB88320, reflected), one table entry per byte value.
constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) {
      c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
    }
    table[n] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

std::uint32_t Crc32(const std::string& bytes, std::size_t from) {
  std::uint32_t crc = 0xFFFFFFFFU;
  for (std::size_t i = from; i < bytes.size(); ++i) {
    crc = kCrcTable[(crc ^ static_cast<std::uint8_t>(bytes[i])) & 0xFFU] ^ (crc >> 8);
  }
  return crc ^ 0xFFFFFFFFU;
}

std::uint32_t Adler32(const std::string& bytes) {
  constexpr std::uint32_t kModulus = 65521;
  std::uint32_t a = 1;
  std::uint32_t b = 0;
  for (char c : bytes) {
    a = (a + static_cast<std::uint8_t>(c)) % kModulus;
    b = (b + a) % kModulus;
  }
  return (b << 16) | a;
}

void PutBigEndian32(std::string& out, std::uint32_t value) {
  out.push_back(static_cast<char>((value >> 24) & 0xFFU));
  out.push_back(static_cast<char>((value >> 16) & 0xFFU));
  out.push_back(static_cast<char>((value >> 8) & 0xFFU));
  out.push_back(static_cast<char>(value & 0xFFU));
}

void PutLittleEndian16(std::string& out, std::uint32_t value) {
  out.push_back(static_cast<char>(value & 0xFFU));
  out.push_back(static_cast<char>((value >> 8) & 0xFFU));
}

// Appends one chunk: length, type, data, and the CRC over type and data.
void PutChunk(std::string& png, const char (&type)[5], const std::string& data) {
  PutBigEndian32(png, static_cast<std::uint32_t>(data.size()));
  std::string typeAndData(type, 4);
  typeAndData += data;
  png += typeAndData;
  PutBigEndian32(png, Crc32(typeAndData, 0));
}

// A zlib stream (RFC 1950) of stored deflate blocks (RFC 1951, BTYPE 00) holding `raw`.
std::string ZlibStored(const std::string& raw) {
  std::string out;
  out.push_back(static_cast<char>(0x78));  // deflate, 32 KiB window
  out.push_back(static_cast<char>(0x01));  // no dictionary, fastest; 0x7801 is a multiple of 31
  std::size_t offset = 0;
  do {
    const std::size_t length = std::min(kMaxStoredBlock, raw.size() - offset);
    const bool last = offset + length == raw.size();
    out.push_back(static_cast<char>(last ? 1 : 0));
    PutLittleEndian16(out, static_cast<std::uint32_t>(length));
    PutLittleEndian16(out, static_cast<std::uint32_t>(~length & 0xFFFFU));
    out.append(raw, offset, length);
    offset += length;
  } while (offset < raw.size());
  PutBigEndian32(out, Adler32(raw));
  return out;
}

}  // namespace

std::string EncodeRgbPng(std::uint32_t width, std::uint32_t height,
                         const std::vector<std::uint8_t>& rgb) {
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) {
    throw std::invalid_argument("EncodeRgbPng: each side must be 1 to 16384 pixels");
  }
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  if (rgb.size() != rowBytes * height) {
    throw std::invalid_argument("EncodeRgbPng: pixel data must hold width * height * 3 bytes");
  }

  std::string header;
  PutBigEndian32(header, width);
  PutBigEndian32(header, height);
  header.push_back(8);  // bit depth
  header.push_back(2);  // colour type: RGB
  header.push_back(0);  // compression: deflate
  header.push_back(0);  // filter method 0
  header.push_back(0);  // no interlace

  std::string raw;
  raw.reserve((rowBytes + 1) * height);
  for (std::uint32_t y = 0; y < height; ++y) {
    raw.push_back(0);  // filter type None
    const auto row = rgb.begin() + static_cast<std::ptrdiff_t>(rowBytes * y);
    raw.append(row, row + static_cast<std::ptrdiff_t>(rowBytes));
  }

  std::string png("\x89PNG\r\n\x1A\n", 8);
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", ZlibStored(raw));
  PutChunk(png, "IEND", std::string());
  return png;
}

}  // namespace corvane::mock
