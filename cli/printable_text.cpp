#include "printable_text.h"

namespace quillet::cli {
namespace {

std::string Filtered(std::string_view text, bool keepLines) {
  std::string shown(text);
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const auto byte = static_cast<unsigned char>(shown[i]);
    if (keepLines && (byte == '\n' || byte == '\t')) continue;
    if (byte < 0x20 || byte == 0x7F) shown[i] = '?';
    // A C1 control in UTF-8 (CSI is U+009B) drives some terminals as ESC [ does.
    const bool c1 = byte == 0xC2 && i + 1 < shown.size() &&
                    static_cast<unsigned char>(shown[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(shown[i + 1]) <= 0x9F;
    if (c1) shown.replace(i, 2, "?");
  }
  return shown;
}

}  // namespace

std::string PrintableText(std::string_view text) { return Filtered(text, true); }
std::string PrintableWord(std::string_view word) { return Filtered(word, false); }

}  // namespace quillet::cli
