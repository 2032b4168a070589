/* A slow name server for the end-to-end runs, without leaving loopback: preloaded into a
 * Wine process (LD_PRELOAD), it holds that process's host-name lookups of the names in
 * QX_SLOW_RESOLVE_NAMES (comma-separated) for QX_SLOW_RESOLVE_MS milliseconds, then
 * answers them as the system would. Wine's gethostbyname ends in gethostbyname_r; other
 * lookups (getaddrinfo, which the HTTP stack uses) are not touched. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <netdb.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

typedef int (*lookup_fn)(const char*, struct hostent*, char*, size_t, struct hostent**, int*);

static int is_slow(const char* name) {
  const char* names = getenv("QX_SLOW_RESOLVE_NAMES");
  if (!name || !names)
    return 0;
  const size_t length = strlen(name);
  for (const char* at = names; *at;) {
    const char* end = strchr(at, ',');
    const size_t n = end ? (size_t)(end - at) : strlen(at);
    if (n == length && strncmp(at, name, n) == 0)
      return 1;
    if (!end)
      break;
    at = end + 1;
  }
  return 0;
}

int gethostbyname_r(const char* name, struct hostent* entry, char* buffer, size_t size,
                    struct hostent** result, int* error) {
  static lookup_fn real;
  if (!real)
    real = (lookup_fn)dlsym(RTLD_NEXT, "gethostbyname_r");
  if (is_slow(name)) {
    const char* ms = getenv("QX_SLOW_RESOLVE_MS");
    const long delay = ms ? atol(ms) : 10000;
    struct timespec pause = {delay / 1000, (delay % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0) {
    }
  }
  return real(name, entry, buffer, size, result, error);
}
