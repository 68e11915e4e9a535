#ifndef ZOBA_DISCLAIM_H
#define ZOBA_DISCLAIM_H

#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Spawns `path` with `argv` (null-terminated), the caller's environment and every
 * open descriptor, with the responsibility-disclaim spawn attribute set. Returns 0
 * and the child's pid in `pid`, or an error number: ENOTSUP when the platform has
 * no disclaim attribute. */
int zoba_spawn_disclaimed(const char* path, char* const argv[], pid_t* pid);

#ifdef __cplusplus
}
#endif

#endif
