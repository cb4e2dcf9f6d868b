/* A loader audit module (LD_AUDIT) for tests that put the kit's libraries
 * in a folder of their own and make one of them missing or a fake: a
 * library of the kit (KIT_LIBRARY_NAMES, file names separated by ":") is
 * loaded only from a path given whole or from the RUNPATH of the library
 * that asks for it, never through LD_LIBRARY_PATH, the loader cache or the
 * default folders. An installed copy of the kit (/usr/local/lib after
 * ldconfig, /usr/lib, a prefix on LD_LIBRARY_PATH) then stays out of the
 * test, as it stays out of a host that has none. Other libraries load as
 * usual. */
#define _GNU_SOURCE
#include <link.h>
#include <stdint.h>
#include <string.h>

static const char kit_names[] = KIT_LIBRARY_NAMES;

static int is_kit_library(const char *path) {
  const char *slash = strrchr(path, '/');
  const char *base = slash ? slash + 1 : path;
  const size_t length = strlen(base);
  for (const char *entry = kit_names; *entry;) {
    const char *end = strchr(entry, ':');
    const size_t entry_length = end ? (size_t)(end - entry) : strlen(entry);
    if (entry_length == length && memcmp(entry, base, length) == 0) return 1;
    if (!end) break;
    entry = end + 1;
  }
  return 0;
}

__attribute__((visibility("default"))) unsigned int la_version(unsigned int version) {
  return version < LAV_CURRENT ? version : LAV_CURRENT;
}

/* Called with each candidate file the loader is about to try; NULL makes
 * it go on to the next one. */
__attribute__((visibility("default"))) char *la_objsearch(const char *name, uintptr_t *cookie, unsigned int flag) {
  (void)cookie;
  if ((flag & (LA_SER_LIBPATH | LA_SER_CONFIG | LA_SER_DEFAULT)) && is_kit_library(name)) return NULL;
  return (char *)name;
}
