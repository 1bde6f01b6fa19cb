/*
 * Quillet: the meaning of the library's own results, as text for a host to show.
 *
 * Header only, so that the library's exports stay as they are. Every other non-zero result is
 * a return code of the SQLBase client library, whose meaning that library documents;
 * quillet_result_text gives null for those. The command line and the Python package show
 * these same texts.
 */
#ifndef QUILLET_RESULT_TEXT_H
#define QUILLET_RESULT_TEXT_H

#include <stdint.h>

#include "quillet.h"

/* One case per line, the text as one literal: the Python package reads this table. */
/* clang-format off */
static inline const char* quillet_result_text(int32_t result) {
  switch (result) {
    case QUILLET_OK: return "success";
    case QUILLET_ERROR_FILE: return "the output file could not be opened";
    case QUILLET_ERROR_ARGUMENT: return "an argument is missing, empty where it may not be, or too long for the library; from AllSnapShot also: a database whose name cannot safely be a directory, or whose directory is a link, was skipped";
    case QUILLET_ERROR_TOO_MANY_COLUMNS: return "the statement selects more than 255 columns";
    case QUILLET_ERROR_FILE_WRITE: return "the output file could not be written completely (is the disk full?)";
    default: return 0;
  }
}
/* clang-format on */

#endif /* QUILLET_RESULT_TEXT_H */
