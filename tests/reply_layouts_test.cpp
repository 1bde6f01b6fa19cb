// The reply layouts are shared by the library that reads them and the client libraries that
// write them, so agreement between the two proves nothing about the wire. These cases hold the
// shared description to the bytes a real client library sends.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "active_cursors_reply.h"
#include "client/reply_layouts.h"

namespace {

namespace layout = sqlwntm::active_cursors;

TEST(ReplyLayoutsTest, ActiveCursorRecordsSitWhereTheServerPutsThem) {
  const std::string reply = fake::ActiveCursorsReply(
      {{12, "CLERK", "STOCK", "ENTRY"}, {0x83, "ADMIN", "SALES", "REPORTS"}}, 0x0203);
  ASSERT_EQ(reply.size(), 12U + 2 * 104U);
  EXPECT_EQ(reply[8], '\x03') << "the count, low byte first";
  EXPECT_EQ(reply[9], '\x02');
  EXPECT_EQ(reply.substr(0, 8), std::string(8, '\0'));
  const char* second = reply.data() + 12 + 104;
  EXPECT_EQ(static_cast<unsigned char>(reply[12 + 17]), 12U);
  EXPECT_EQ(static_cast<unsigned char>(second[17]), 0x83U);
  EXPECT_STREQ(second + 21, "ADMIN");
  EXPECT_STREQ(second + 40, "SALES");
  EXPECT_STREQ(second + 70, "REPORTS");
  EXPECT_STREQ(reply.data() + 12 + 70, "ENTRY");
}

TEST(ReplyLayoutsTest, TextsFillTheirFieldsWithoutANulAndAreCutAtTheirEnd) {
  const std::string reply = fake::ActiveCursorsReply(
      {{1, std::string(25, 'U'), std::string(30, 'D'), std::string(40, 'P')}});
  EXPECT_EQ(reply.substr(12 + 21, 19), std::string(19, 'U'));
  EXPECT_EQ(reply.substr(12 + 40, 30), std::string(30, 'D')) << "a full field keeps no NUL";
  EXPECT_EQ(reply.substr(12 + 70, 34), std::string(34, 'P'));
  EXPECT_EQ(reply.size(), 12U + 104U) << "nothing is written past the record";

  unsigned char field[8];
  std::memset(field, 'x', sizeof field);
  layout::WriteText(field, 4, "abcdef", 6);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(field), 8), "abcdxxxx");
}

TEST(ReplyLayoutsTest, CountsReadBackAcrossBothBytes) {
  unsigned char header[layout::kHeaderSize] = {};
  for (const std::size_t count : {0U, 1U, 255U, 256U, 500U, 65535U}) {
    layout::WriteCount(header, count);
    EXPECT_EQ(layout::ReadCount(header), count);
  }
}

}  // namespace
