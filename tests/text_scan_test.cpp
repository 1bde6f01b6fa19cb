#include "database_admin/text_scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

using quillet::ScanText;
using quillet::TextScan;

void ExpectSameAsBytewise(const std::string& buffer) {
  const char* text = buffer.data();
  const std::size_t length = std::strlen(text);
  const TextScan scan = ScanText(text, buffer.size());
  EXPECT_EQ(scan.length, length);
  EXPECT_EQ(scan.hasQuote, std::memchr(text, '"', length) != nullptr);
  EXPECT_EQ(scan.hasLineFeed, std::memchr(text, '\n', length) != nullptr);
  EXPECT_FALSE(scan.hasSeparator) << "only looked for when asked";
  const TextScan bare = ScanText<true>(text, buffer.size());
  EXPECT_EQ(bare.length, length);
  EXPECT_EQ(bare.hasQuote, scan.hasQuote);
  EXPECT_EQ(bare.hasLineFeed, scan.hasLineFeed);
  EXPECT_EQ(bare.hasSeparator, std::strpbrk(std::string(text, length).c_str(), ",\r") != nullptr);
}

// A quote, line feed, comma or carriage return just past the end, and bytes that borrow across
// a word (0x01 above a zero, 0x80 and up), must not count; one anywhere before the end must.
TEST(TextScanTest, FindsTheEndAndTheBytesThatNeedMoreThanACopyBeforeIt) {
  const char kTricky[] = {'"',    '\n',   ',',    '\r',   '\x01', '\x21', '\x23',
                          '\x2d', '\x0b', '\x09', '\x80', '\xff', '\0'};
  for (std::size_t size : {1U, 7U, 8U, 9U, 16U, 17U, 255U}) {
    for (std::size_t length = 0; length < size; ++length) {
      for (const char after : kTricky) {
        std::string buffer(size, after);
        buffer.replace(0, length, std::string(length, 'a'));
        buffer[length] = '\0';
        buffer[size - 1] = '\0';
        ExpectSameAsBytewise(buffer);
        for (std::size_t at = 0; at < length; ++at) {
          for (const char special : {'"', '\n', ',', '\r'}) {
            std::string marked = buffer;
            marked[at] = special;
            ExpectSameAsBytewise(marked);
          }
        }
      }
    }
  }
}

TEST(TextScanTest, AgreesWithABytewiseScanOnRandomTexts) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> kind(0, 9);
  for (int round = 0; round < 20000; ++round) {
    std::string buffer(255, '\0');
    for (char& c : buffer) {
      const int k = kind(random);
      c = k == 0   ? '"'
          : k == 1 ? '\n'
          : k == 2 ? '\0'
          : k == 3 ? ','
                   : static_cast<char>(byte(random));
    }
    buffer.back() = '\0';
    ExpectSameAsBytewise(buffer);
  }
}

}  // namespace
