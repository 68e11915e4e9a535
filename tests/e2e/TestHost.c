/* A stand-in host for the caller check: starts the helper with "--host-pid" and
 * either its own pid ("self") or a claimed one, shares its standard streams, and
 * ends as the helper ends. Built with a signing label of its own.
 *
 *   zoba-test-host <executable> <self|pid> [arguments...] */
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s <executable> <self|pid> [arguments...]\n", argv[0]);
    return 2;
  }
  char pid[32];
  if (strcmp(argv[2], "self") == 0) {
    snprintf(pid, sizeof pid, "%d", (int)getpid());
  } else {
    snprintf(pid, sizeof pid, "%s", argv[2]);
  }
  char** child = calloc((size_t)argc + 2, sizeof *child);
  if (child == NULL) return 2;
  int n = 0;
  child[n++] = argv[1];
  child[n++] = "--host-pid";
  child[n++] = pid;
  for (int i = 3; i < argc; ++i) child[n++] = argv[i];
  child[n] = NULL;

  pid_t helper = 0;
  int spawned = posix_spawn(&helper, argv[1], NULL, NULL, child, environ);
  free(child);
  if (spawned != 0) return 2;
  int status = 0;
  while (waitpid(helper, &status, 0) < 0) {
  }
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}
