// The device pictures are real PNG files: the signature, the chunk sequence and CRCs (checked
// with an independent bitwise CRC), the header fields, and image data that zlib inflates to
// exactly the rows of the image.
#include <zlib.h>

#include <stdexcept>

#include "MockServerTestSupport.h"
#include "Png.h"

namespace corvane::mock::testing {
namespace {

using PngTest = MockServerTest;

const std::string kSignature("\x89PNG\r\n\x1A\n", 8);

// CRC-32 as PNG defines it, one bit at a time, without a table.
std::uint32_t BitwiseCrc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFU;
  for (char c : bytes) {
    crc ^= static_cast<std::uint8_t>(c);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
    }
  }
  return ~crc;
}

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i)
    value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

struct DecodedPng {
  std::vector<std::string> chunkTypes;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::string header;  // IHDR data
  std::string rows;    // the inflated image data: a filter byte and RGB bytes per row
};

// Walks the chunks, checking each CRC, and inflates the IDAT data with zlib.
DecodedPng Decode(const std::string& png) {
  DecodedPng decoded;
  EXPECT_EQ(png.substr(0, 8), kSignature);
  std::string idat;
  std::size_t at = 8;
  while (at + 12 <= png.size()) {
    const std::uint32_t length = BigEndian32(png, at);
    if (at + 12 + length > png.size()) {
      ADD_FAILURE() << "chunk runs past the end at " << at;
      break;
    }
    const std::string typeAndData = png.substr(at + 4, 4 + length);
    const std::string type = typeAndData.substr(0, 4);
    EXPECT_EQ(BigEndian32(png, at + 8 + length), BitwiseCrc32(typeAndData)) << type;
    decoded.chunkTypes.push_back(type);
    if (type == "IHDR") decoded.header = typeAndData.substr(4);
    if (type == "IDAT") idat += typeAndData.substr(4);
    at += 12 + length;
  }
  EXPECT_EQ(at, png.size()) << "bytes after the last chunk";
  if (decoded.header.size() != 13) {
    ADD_FAILURE() << "IHDR holds " << decoded.header.size() << " bytes";
    return decoded;
  }
  decoded.width = BigEndian32(decoded.header, 0);
  decoded.height = BigEndian32(decoded.header, 4);
  uLongf size = static_cast<uLongf>(decoded.height) * (1 + 3 * decoded.width);
  decoded.rows.resize(size + 1);  // one spare byte: a longer stream must show as a size mismatch
  size = static_cast<uLongf>(decoded.rows.size());
  const int status =
      ::uncompress(reinterpret_cast<Bytef*>(decoded.rows.data()), &size,
                   reinterpret_cast<const Bytef*>(idat.data()), static_cast<uLong>(idat.size()));
  EXPECT_EQ(status, Z_OK);
  decoded.rows.resize(size);
  return decoded;
}

TEST_F(PngTest, EveryPictureIsAValidPngOfItsSize) {
  const PlatformState state = State();
  ASSERT_FALSE(state.pictures.empty());
  for (const auto& picture : state.pictures) {
    SCOPED_TRACE(picture.pictureId);
    std::string target = "/vusk/api/v1.1/common/request/picture/" + picture.pictureId;
    if (const auto space = target.find(' '); space != std::string::npos) {
      target.replace(space, 1, "%20");
    }
    const auto answer = Get(target);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(answer->get_header_value("Content-Type"), "image/png");
    const DecodedPng png = Decode(answer->body);
    EXPECT_EQ(png.chunkTypes, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    EXPECT_EQ(png.width, static_cast<std::uint32_t>(picture.width));
    EXPECT_EQ(png.height, static_cast<std::uint32_t>(picture.height));
    EXPECT_EQ(png.header.substr(8), std::string("\x08\x02\x00\x00\x00", 5));  // 8-bit RGB
    ASSERT_EQ(png.rows.size(), static_cast<std::size_t>(picture.height) *
                                   (1 + 3 * static_cast<std::size_t>(picture.width)));
    for (int y = 0; y < picture.height; ++y) {
      EXPECT_EQ(png.rows[static_cast<std::size_t>(y) * (1 + 3 * picture.width)], '\0');
    }
  }
}

TEST(PngEncoderTest, PixelsSurviveTheRoundTripThroughZlib) {
  struct Case {
    std::uint32_t width;
    std::uint32_t height;
  };
  // 1x1; a row count that makes the data cross one 65535-byte stored block; exactly one block
  // (65535 = 255 rows of 1 + 3 * 85 bytes).
  const Case cases[] = {{1, 1}, {3, 2}, {200, 120}, {85, 255}};
  for (const auto& row : cases) {
    SCOPED_TRACE(std::to_string(row.width) + "x" + std::to_string(row.height));
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(row.width) * row.height * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i * 7 + i / 5);
    const DecodedPng png = Decode(EncodeRgbPng(row.width, row.height, rgb));
    EXPECT_EQ(png.width, row.width);
    EXPECT_EQ(png.height, row.height);
    std::string expected;
    for (std::uint32_t y = 0; y < row.height; ++y) {
      expected.push_back('\0');
      const auto begin = rgb.begin() + static_cast<std::ptrdiff_t>(y * row.width * 3);
      expected.append(begin, begin + static_cast<std::ptrdiff_t>(row.width * 3));
    }
    EXPECT_EQ(png.rows, expected);
  }
}

TEST(PngEncoderTest, RefusesSizesThatDoNotFit) {
  struct Case {
    const char* name;
    std::uint32_t width;
    std::uint32_t height;
    std::size_t bytes;
  };
  const Case cases[] = {{"zero width", 0, 4, 0},
                        {"zero height", 4, 0, 0},
                        {"too wide", 16385, 1, 16385 * 3},
                        {"one byte short", 2, 2, 11},
                        {"one byte over", 2, 2, 13}};
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    EXPECT_THROW(EncodeRgbPng(row.width, row.height, std::vector<std::uint8_t>(row.bytes)),
                 std::invalid_argument);
  }
}

}  // namespace
}  // namespace corvane::mock::testing
