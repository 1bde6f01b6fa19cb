// Numbers as text, the bytes SQLite's own conversion gives, without its general formatting
// path: a fetch turns every number it delivers into text.
#ifndef QUILLET_SQLBASE_STANDIN_SPEEDUPS_FETCHED_NUMBER_TEXT_H
#define QUILLET_SQLBASE_STANDIN_SPEEDUPS_FETCHED_NUMBER_TEXT_H

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

namespace standin {

// Room for the longest text either call writes ("-9223372036854775808", "-1.23456789012345e-308").
constexpr std::size_t kNumberTextSize = 32;

// Plain decimal digits, as SQLite writes an integer. Returns the length.
inline std::size_t IntegerText(int64_t value, char* text) {
  return static_cast<std::size_t>(std::to_chars(text, text + kNumberTextSize, value).ptr - text);
}

// A real as SQLite writes it: 15 significant digits, trailing zeros dropped but one digit
// kept after the point ("1.0", "0.1"), an exponent of at least two digits outside 1e-4 to
// 1e15 ("1.0e+15", "2.5e-05"), "Inf" and "-Inf". Only for a value whose shortest exact text has
// at most 15 significant digits and that is not subnormal: those come out the same however the
// 15 are rounded, so the shortest digits are SQLite's digits. Returns the length, or 0 for a value
// with more digits, which SQLite must write.
inline std::size_t RealText(double value, char* text) {
  char* out = text;
  if (std::signbit(value) && value != 0.0) {
    *out++ = '-';
    value = -value;
  }
  if (std::isinf(value)) {
    out = std::copy_n("Inf", 3, out);
    return static_cast<std::size_t>(out - text);
  }
  // A subnormal's shortest text can be shorter than the 15 digits SQLite gives its exact value.
  if (std::isnan(value) || (value != 0.0 && value < std::numeric_limits<double>::min())) return 0;
  if (value == 0.0) {  // -0.0 too: SQLite writes no sign for it
    out = std::copy_n("0.0", 3, out);
    return static_cast<std::size_t>(out - text);
  }
  // Shortest digits that read back exactly, as d.ddde+x.
  char shortest[kNumberTextSize];
  const std::to_chars_result written =
      std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific);
  if (written.ec != std::errc()) return 0;
  char digits[17];
  int count = 0;
  const char* p = shortest;
  for (; p < written.ptr && *p != 'e'; ++p) {
    if (*p == '.') continue;
    if (count == 15) return 0;
    digits[count++] = *p;
  }
  if (p == written.ptr) return 0;
  int exponent = 0;
  if (std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), written.ptr, exponent).ec != std::errc()) {
    return 0;
  }
  if (exponent < -4 || exponent > 14) {
    *out++ = digits[0];
    *out++ = '.';
    if (count == 1) {
      *out++ = '0';
    } else {
      std::memcpy(out, digits + 1, static_cast<std::size_t>(count - 1));
      out += count - 1;
    }
    *out++ = 'e';
    *out++ = exponent < 0 ? '-' : '+';
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude >= 100) *out++ = static_cast<char>('0' + magnitude / 100);
    *out++ = static_cast<char>('0' + magnitude / 10 % 10);
    *out++ = static_cast<char>('0' + magnitude % 10);
  } else if (exponent < 0) {
    *out++ = '0';
    *out++ = '.';
    for (int zero = 1; zero < -exponent; ++zero) *out++ = '0';
    std::memcpy(out, digits, static_cast<std::size_t>(count));
    out += count;
  } else {
    const int whole = exponent + 1;
    for (int i = 0; i < whole; ++i) *out++ = i < count ? digits[i] : '0';
    *out++ = '.';
    if (count <= whole) {
      *out++ = '0';
    } else {
      std::memcpy(out, digits + whole, static_cast<std::size_t>(count - whole));
      out += count - whole;
    }
  }
  return static_cast<std::size_t>(out - text);
}

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_SPEEDUPS_FETCHED_NUMBER_TEXT_H
