#include "duration.h"

#include <array>
#include <utility>

namespace quillet::cli::plan {
namespace {

constexpr int64_t kMinute = 60;
constexpr int64_t kHour = 60 * kMinute;
constexpr int64_t kDay = 24 * kHour;
constexpr int64_t kWeek = 7 * kDay;
// Far beyond any retention: keeps the sums clear of overflow.
constexpr int64_t kLongest = int64_t{100} * 366 * kDay;

// 0 for a letter that is no unit.
int64_t UnitSeconds(char unit) {
  switch (unit) {
    case 's':
      return 1;
    case 'm':
      return kMinute;
    case 'h':
      return kHour;
    case 'd':
      return kDay;
    case 'w':
      return kWeek;
    default:
      return 0;
  }
}

}  // namespace

std::optional<int64_t> ParseDuration(std::string_view text, std::string& problem) {
  const std::string quoted = "\"" + std::string(text) + "\"";
  const std::string form = " is not a span such as 14d, 90s or 1h30m (units s, m, h, d, w)";
  if (text == "0") return 0;
  if (text.empty()) {
    problem = "\"\"" + form;
    return std::nullopt;
  }
  int64_t total = 0;
  std::string why;
  std::size_t at = 0;
  while (at < text.size()) {
    int64_t number = 0;
    const std::size_t digits = at;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && number <= kLongest; ++at) {
      number = number * 10 + (text[at] - '0');
    }
    const int64_t unit = at < text.size() ? UnitSeconds(text[at]) : 0;
    if (number > kLongest || total + number * unit > kLongest) {
      why = quoted + " is longer than a hundred years";
    } else if (at == text.size() && at > digits) {
      const std::string bare(text.substr(digits));
      why = quoted + (digits == 0 ? " has no unit: write " + bare + "s, " + bare + "m, " + bare +
                                        "h, " + bare + "d or " + bare + "w"
                                  : " ends in a number without its unit (s, m, h, d, w)");
    } else if (at == digits || unit == 0) {
      why = quoted + form;
    }
    if (!why.empty()) {
      problem = why;
      return std::nullopt;
    }
    total += number * unit;
    ++at;
  }
  return total;
}

std::optional<int64_t> ParseDuration(std::string_view text) {
  std::string ignored;
  return ParseDuration(text, ignored);
}

std::string ShowDuration(int64_t seconds) {
  if (seconds < 0) return "-" + ShowDuration(-seconds);
  constexpr std::array<std::pair<int64_t, char>, 4> kUnits{
      {{kDay, 'd'}, {kHour, 'h'}, {kMinute, 'm'}, {1, 's'}}};
  for (std::size_t k = 0; k < kUnits.size(); ++k) {
    const auto [size, letter] = kUnits[k];
    if (seconds < size && size != 1) continue;
    std::string text = std::to_string(seconds / size) + letter;
    const int64_t rest = seconds % size;
    if (k + 1 < kUnits.size() && rest / kUnits[k + 1].first > 0) {
      text += " " + std::to_string(rest / kUnits[k + 1].first) + kUnits[k + 1].second;
    }
    return text;
  }
  return "0s";
}

}  // namespace quillet::cli::plan
