/* Hosts written in C compile against the public headers: the build fails
 * when one of them stops being C. */
#include "orvel.h"
#include "selvane.h"
#include "tarvik.h"

int public_headers_are_c(void);
int public_headers_are_c(void) { return PLAIN_READER_LIST_SIZE > 0 && ORVEL_DEBUG == 8u; }
