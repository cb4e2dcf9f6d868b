/* A library planted where the secure-PIN-entry search must not look: its
 * constructor leaves a mark in the file KIT_PLANTED_MARK names, so a test
 * sees whether it was ever loaded. */
#include <stdio.h>
#include <stdlib.h>

__attribute__((constructor)) static void leave_mark(void) {
    const char *mark = getenv("KIT_PLANTED_MARK");
    FILE *file = mark != NULL ? fopen(mark, "w") : NULL;
    if (file != NULL) {
        fputs("loaded\n", file);
        fclose(file);
    }
}
