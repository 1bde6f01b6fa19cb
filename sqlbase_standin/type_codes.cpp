#include "type_codes.h"

#include <cctype>
#include <cstdlib>
#include <string>

namespace standin {
namespace {

constexpr int32_t kUsualTextLength = 254;
constexpr int32_t kNumberLength = 22;
constexpr int32_t kDateTimeLength = 26;
constexpr int32_t kDateLength = 10;
constexpr int32_t kTimeLength = 8;

int32_t DeclaredLength(const std::string& type, int32_t otherwise) {
  const std::size_t open = type.find('(');
  if (open == std::string::npos) return otherwise;
  const long length = std::strtol(type.c_str() + open + 1, nullptr, 10);
  return length > 0 && length < 32768 ? static_cast<int32_t>(length) : otherwise;
}

}  // namespace

ColumnType TypeOfColumn(const char* declaredType, int firstRowStorageClass) {
  if (declaredType == nullptr || declaredType[0] == '\0') {
    if (firstRowStorageClass == SQLITE_INTEGER || firstRowStorageClass == SQLITE_FLOAT) {
      return {kNumber, kNumberLength};
    }
    return {kCharacter, kUsualTextLength};
  }
  std::string type = declaredType;
  for (char& c : type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const auto has = [&type](const char* word) { return type.find(word) != std::string::npos; };
  if (has("DATETIME") || has("TIMESTAMP")) return {kDateTime, kDateTimeLength};
  if (has("DATE")) return {kDate, kDateLength};
  if (has("TIME")) return {kTime, kTimeLength};
  if (has("LONG") || has("TEXT") || has("CLOB") || has("BLOB")) {
    return {kLongText, DeclaredLength(type, kUsualTextLength)};
  }
  if (has("CHAR")) return {kCharacter, DeclaredLength(type, kUsualTextLength)};
  if (has("INT") || has("NUM") || has("DEC") || has("REAL") || has("FLOA") || has("DOUB") ||
      has("BOOL")) {
    return {kNumber, DeclaredLength(type, kNumberLength)};
  }
  return {kCharacter, DeclaredLength(type, kUsualTextLength)};
}

}  // namespace standin
