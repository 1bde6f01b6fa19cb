/* The stand-in server's admin API as agreed with its branch. A copy to build against until that
   branch lands; then its own sqlbase_standin/standin_admin.h takes this one's place. */
#ifndef QUILLET_STANDIN_ADMIN_H
#define QUILLET_STANDIN_ADMIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Folder that holds the stand-in servers: $QUILLET_STANDIN_ROOT, else a documented default. */
const char* standin_root(void);
/* Creates a server folder with its password, in the running state. 0 or a code below. */
int16_t standin_server_create(const char* server, const char* password);
/* Puts a terminated server back in the running state. */
int16_t standin_server_start(const char* server);
/* *running = 1 or 0; 0 or a code below. */
int16_t standin_server_state(const char* server, int32_t* running);
/* Short English text for a return code of the stand-in (or of Quillet's own results:
   -1 file, -30001 argument, -30002 too many columns), or NULL when unknown. */
const char* standin_code_text(int32_t code);

#ifdef __cplusplus
}
#endif

#endif /* QUILLET_STANDIN_ADMIN_H */
