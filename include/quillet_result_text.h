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

#include <stddef.h>
#include <stdint.h>

#include "quillet.h"

/* C89 has no inline; GNU compilers and MSVC take their own spelling there. */
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#define QUILLET_RESULT_TEXT_INLINE static inline
#elif defined(__GNUC__)
#define QUILLET_RESULT_TEXT_INLINE static __inline__
#elif defined(_MSC_VER)
#define QUILLET_RESULT_TEXT_INLINE static __inline
#else
#define QUILLET_RESULT_TEXT_INLINE static
#endif
/* The null text, in the spelling strict C++ warning settings accept. */
#if defined(__cplusplus) && __cplusplus >= 201103L
#define QUILLET_RESULT_TEXT_NONE nullptr
#else
#define QUILLET_RESULT_TEXT_NONE NULL
#endif

/* One case per line, the text as one literal: the Python package reads this table. */
/* clang-format off */
QUILLET_RESULT_TEXT_INLINE const char* quillet_result_text(int32_t result) {
  switch (result) {
    case QUILLET_OK: return "success";
    case QUILLET_ERROR_FILE: return "the output file could not be opened";
    case QUILLET_ERROR_ARGUMENT: return "an argument is missing, empty where it may not be, or too long for the library; from AllSnapShot also: a database whose name cannot safely be a directory, or whose directory is a link, was skipped";
    case QUILLET_ERROR_TOO_MANY_COLUMNS: return "the statement selects more than 255 columns";
    case QUILLET_ERROR_FILE_WRITE: return "the output file could not be written completely (is the disk full?)";
    case QUILLET_ERROR_ROOT_IN_USE: return "another all-snapshot into the same root directory was still running after 5 minutes; nothing was backed up";
    default: return QUILLET_RESULT_TEXT_NONE;
  }
}
/* clang-format on */

#endif /* QUILLET_RESULT_TEXT_H */
