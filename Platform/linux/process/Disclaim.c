/* Linux has no responsibility attribution: the attribute is accepted and changes
 * nothing, so the launcher's run-time lookup finds it and spawns as it would on a
 * platform that has one. Linked into the executable, which exports it dynamically. */
#include <spawn.h>

__attribute__((visibility("default"), used)) int responsibility_spawnattrs_setdisclaim(
    posix_spawnattr_t* attributes, int disclaim) {
  (void)attributes;
  (void)disclaim;
  return 0;
}
