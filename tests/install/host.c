/* A host as a user writes one: plain C, only the installed headers and library. Creates a
   database on the server named by its arguments, lists the databases and shows the text of a
   result of the library's own: an export into a folder that does not exist. */
#include <stdio.h>
#include <string.h>

#include "quillet.h"
#include "quillet_result_text.h"

int main(int argc, char** argv) {
  char list[QUILLET_DATABASE_LIST_SIZE];
  int32_t result;
  const char* text;
  if (argc != 3) {
    fprintf(stderr, "usage: host SERVER PASSWORD\n");
    return 2;
  }
  result = CreateDB(argv[1], argv[2], "STOCK");
  if (result != QUILLET_OK) {
    fprintf(stderr, "CreateDB: %ld\n", (long)result);
    return 1;
  }
  result = DirDB(argv[1], argv[2], list);
  if (result != QUILLET_OK) {
    fprintf(stderr, "DirDB: %ld\n", (long)result);
    return 1;
  }
  printf("databases: %s\n", list);
  result = ExportCSV("STOCK", "SYSADM", "SYSADM", "SELECT 1", "/nonexistent-folder/out.csv");
  text = quillet_result_text(result);
  printf("export: %ld (%s)\n", (long)result, text != NULL ? text : "no text");
  return 0;
}
