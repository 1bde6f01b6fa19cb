// The stand-in writes numbers itself; its text must be SQLite's, byte for byte.
#include "sqlbase_standin/speedups/fetched_number_text.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cfloat>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

// SQLite's own text of one value, read the way a fetch reads it.
class SqliteText {
 public:
  SqliteText() {
    EXPECT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    EXPECT_EQ(sqlite3_prepare_v2(db_, "SELECT ?1", -1, &select_, nullptr), SQLITE_OK);
  }
  ~SqliteText() {
    sqlite3_finalize(select_);
    sqlite3_close(db_);
  }
  SqliteText(const SqliteText&) = delete;
  SqliteText& operator=(const SqliteText&) = delete;

  std::string Of(double value) {
    sqlite3_bind_double(select_, 1, value);
    return Step();
  }
  std::string Of(int64_t value) {
    sqlite3_bind_int64(select_, 1, value);
    return Step();
  }
  sqlite3* Db() const { return db_; }

 private:
  std::string Step() {
    EXPECT_EQ(sqlite3_step(select_), SQLITE_ROW);
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select_, 0));
    std::string result = text == nullptr ? "(null)" : text;
    sqlite3_reset(select_);
    return result;
  }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
};

std::string Real(double value) {
  char text[standin::kNumberTextSize];
  return std::string(text, standin::RealText(value, text));
}

std::string Integer(int64_t value) {
  char text[standin::kNumberTextSize];
  return std::string(text, standin::IntegerText(value, text));
}

double FromBits(uint64_t bits) {
  double value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

TEST(NumberTextTest, IntegersAreSqlitesTextAtTheEdges) {
  SqliteText sqlite;
  const int64_t edges[] = {0,
                           1,
                           -1,
                           9,
                           10,
                           -10,
                           999999999999999,
                           1000000000000000,
                           std::numeric_limits<int64_t>::max(),
                           std::numeric_limits<int64_t>::min(),
                           std::numeric_limits<int64_t>::min() + 1};
  for (const int64_t value : edges) EXPECT_EQ(Integer(value), sqlite.Of(value)) << value;
  std::mt19937_64 random(20261208);
  for (int i = 0; i < 100000; ++i) {
    const auto value = static_cast<int64_t>(random() >> (random() % 64));
    ASSERT_EQ(Integer(value), sqlite.Of(value)) << value;
    ASSERT_EQ(Integer(-value), sqlite.Of(-value)) << -value;
  }
}

// Either the stand-in's text is SQLite's, or it declines and SQLite writes the value.
void ExpectSameOrDeclined(SqliteText& sqlite, double value) {
  const std::string mine = Real(value);
  if (!mine.empty()) {
    ASSERT_EQ(mine, sqlite.Of(value)) << std::hexfloat << value;
  }
}

TEST(NumberTextTest, RealsAreSqlitesTextAtTheEdges) {
  SqliteText sqlite;
  const double edges[] = {0.0,
                          -0.0,
                          0.1,
                          -0.1,
                          0.5,
                          1.0,
                          -1.0,
                          1.5,
                          100.0,
                          1e-4,
                          1.5e-4,
                          1e-5,
                          1.5e-5,
                          1e14,
                          123456789012345.0,
                          1e15,
                          1e16,
                          1.5e16,
                          1e100,
                          1e-100,
                          1e300,
                          1e308,
                          -1e308,
                          1e-300,
                          9.99999999999999e14,
                          9.99999999999999e22,
                          999999999999999.0,
                          9007199254740992.0,
                          std::numeric_limits<double>::max(),
                          std::numeric_limits<double>::min(),
                          std::numeric_limits<double>::denorm_min(),
                          -std::numeric_limits<double>::denorm_min(),
                          1e-310,
                          4.9e-324,
                          2.2250738585072e-308,
                          0.30000000000000004,
                          1.0000000000000002,
                          1000000000000005.0,
                          0.000123456789012345,
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity()};
  for (const double value : edges) ExpectSameOrDeclined(sqlite, value);

  // The cases that must not decline, with the text they must have.
  EXPECT_EQ(Real(0.0), "0.0");
  EXPECT_EQ(Real(-0.0), sqlite.Of(-0.0));
  EXPECT_EQ(Real(0.1), "0.1");
  EXPECT_EQ(Real(1e15), "1.0e+15");
  EXPECT_EQ(Real(1e14), "100000000000000.0");
  EXPECT_EQ(Real(1e16), "1.0e+16");
  EXPECT_EQ(Real(1e100), "1.0e+100");
  EXPECT_EQ(Real(1.5e-5), "1.5e-05");
  EXPECT_EQ(Real(1e-4), "0.0001");
  EXPECT_EQ(Real(std::numeric_limits<double>::infinity()), "Inf");
  EXPECT_EQ(Real(-std::numeric_limits<double>::infinity()), "-Inf");
  // More than 15 digits to the shortest exact text: SQLite rounds, and writes it.
  EXPECT_EQ(Real(0.30000000000000004), "");
  EXPECT_EQ(Real(1000000000000005.0), "");
  EXPECT_EQ(sqlite.Of(1000000000000005.0), "1.00000000000001e+15");
  // A subnormal keeps fewer digits than SQLite writes of it.
  EXPECT_EQ(Real(std::numeric_limits<double>::denorm_min()), "");
  EXPECT_EQ(sqlite.Of(std::numeric_limits<double>::denorm_min()), "4.94065645841247e-324");
  EXPECT_EQ(Real(std::numeric_limits<double>::quiet_NaN()), "");
}

TEST(NumberTextTest, RealsAreSqlitesTextForRandomBitPatterns) {
  SqliteText sqlite;
  std::mt19937_64 random(18);
  for (int i = 0; i < 300000; ++i) {
    const double value = FromBits(random());
    if (std::isnan(value)) continue;  // SQLite keeps no NaN: it becomes NULL
    ExpectSameOrDeclined(sqlite, value);
    // Their neighbours at 15 digits, where rounding and the shortest text meet.
    char text[32];
    std::snprintf(text, sizeof text, "%.14e", value);
    ExpectSameOrDeclined(sqlite, std::strtod(text, nullptr));
  }
}

// Values written with at most 15 digits, as data usually is, always take the quick way.
TEST(NumberTextTest, RealsOfFifteenDigitsOrFewerAreAlwaysWrittenHere) {
  SqliteText sqlite;
  std::mt19937_64 random(1808);
  for (int i = 0; i < 200000; ++i) {
    const int digits = 1 + static_cast<int>(random() % 15);
    uint64_t mantissa = 0;
    for (int d = 0; d < digits; ++d) mantissa = mantissa * 10 + random() % 10;
    const int exponent = static_cast<int>(random() % 640) - 330;
    const std::string written =
        (random() % 2 == 0 ? "-" : "") + std::to_string(mantissa) + "e" + std::to_string(exponent);
    const double value = std::strtod(written.c_str(), nullptr);
    if (value == 0.0 || std::isinf(value)) continue;
    // A subnormal keeps fewer bits than 15 digits need: it may have more digits to it.
    if (std::fabs(value) < DBL_MIN) {
      ExpectSameOrDeclined(sqlite, value);
      continue;
    }
    ASSERT_EQ(Real(value), sqlite.Of(value)) << written;
  }
}

// A REAL column keeps a whole value as an integer and gives it back as a real.
TEST(NumberTextTest, WholeValuesOfARealColumnAreWrittenAsReals) {
  SqliteText sqlite;
  ASSERT_EQ(sqlite3_exec(sqlite.Db(),
                         "CREATE TABLE t(r REAL);"
                         "INSERT INTO t VALUES (0), (-0.0), (3), (-7.0), (1e15), (1e18), (2.5)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_stmt* select = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(sqlite.Db(), "SELECT r FROM t", -1, &select, nullptr), SQLITE_OK);
  int rows = 0;
  while (sqlite3_step(select) == SQLITE_ROW) {
    ++rows;
    ASSERT_EQ(sqlite3_column_type(select, 0), SQLITE_FLOAT);
    const std::string mine = Real(sqlite3_column_double(select, 0));
    EXPECT_EQ(mine, reinterpret_cast<const char*>(sqlite3_column_text(select, 0)));
  }
  sqlite3_finalize(select);
  EXPECT_EQ(rows, 7);
}

}  // namespace
