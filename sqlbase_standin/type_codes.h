// How the stand-in describes SQLite columns with the client library's type codes.
#ifndef QUILLET_SQLBASE_STANDIN_TYPE_CODES_H
#define QUILLET_SQLBASE_STANDIN_TYPE_CODES_H

#include <sqlite3.h>

#include <cstdint>

namespace standin {

// Text is quoted in an export (1 and 4), numbers and dates are bare (2, 3, 5, 6).
enum TypeCode : int32_t {
  kCharacter = 1,  // CHAR, VARCHAR, and any type not named below
  kNumber = 2,     // INT..., NUM..., DEC..., REAL, FLOAT, DOUBLE, BOOL...
  kDateTime = 3,   // DATETIME, TIMESTAMP
  kLongText = 4,   // TEXT, CLOB, LONG..., BLOB
  kDate = 5,       // DATE
  kTime = 6,       // TIME
};

struct ColumnType {
  int32_t code;
  int32_t length;  // declared or usual length in characters
};

// From the column's declared type; a column without one (an expression) by the storage
// class of its value in the first row: numbers for integers and reals, text otherwise.
ColumnType TypeOfColumn(const char* declaredType, int firstRowStorageClass);

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_TYPE_CODES_H
