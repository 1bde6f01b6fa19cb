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

std::optional<int64_t> UnitSeconds(char unit) {
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
      return std::nullopt;
  }
}

}  // namespace

std::optional<int64_t> ParseDuration(std::string_view text) {
  if (text.empty()) return std::nullopt;
  int64_t total = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    int64_t number = 0;
    const std::size_t digits = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      number = number * 10 + (text[at] - '0');
      if (number > kLongest) return std::nullopt;
      ++at;
    }
    if (at == digits) return std::nullopt;
    if (at == text.size()) {
      // A bare number is seconds, and only on its own.
      if (digits != 0) return std::nullopt;
      return number;
    }
    const std::optional<int64_t> unit = UnitSeconds(text[at]);
    if (!unit) return std::nullopt;
    ++at;
    total += number * *unit;
    if (total > kLongest) return std::nullopt;
  }
  return total;
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
