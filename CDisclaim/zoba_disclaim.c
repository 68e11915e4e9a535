#define _GNU_SOURCE
#include "CDisclaim/zoba_disclaim.h"

#include <dlfcn.h>
#include <errno.h>
#include <spawn.h>

extern char** environ;

typedef int (*SetDisclaim)(posix_spawnattr_t* attributes, int disclaim);

int zoba_spawn_disclaimed(const char* path, char* const argv[], pid_t* pid) {
  /* Looked up at run time: the attribute is private to the platform and may be missing. */
  SetDisclaim setDisclaim = (SetDisclaim)dlsym(RTLD_DEFAULT, "responsibility_spawnattrs_setdisclaim");
  if (setDisclaim == NULL) return ENOTSUP;

  posix_spawnattr_t attributes;
  int result = posix_spawnattr_init(&attributes);
  if (result != 0) return result;

  result = setDisclaim(&attributes, 1);
  if (result == 0) result = posix_spawn(pid, path, NULL, &attributes, argv, environ);

  posix_spawnattr_destroy(&attributes);
  return result;
}
