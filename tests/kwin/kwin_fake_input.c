/* Keys and clicks on KWin through org_kde_kwin_fake_input, which KWin grants to a
 * program whose desktop file lists it in X-KDE-Wayland-Interfaces.
 *
 *   zoba-kwin-input +42 s50 +54 s50 -54 -42   press 42, wait 50 ms, press 54, ...
 *                                             (evdev key codes: 42 Shift_L, 54 Shift_R)
 *   zoba-kwin-input m300,200 b                 pointer to (300, 200), left click
 *   zoba-kwin-input idle                       stays, a keyboard on the seat, until stdin ends
 *   zoba-kwin-input +42 +54 p -54 -42          p: once KWin has handled what came before,
 *                                             prints "handled" (for latency figures)
 */
#include <linux/input-event-codes.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>

#include "wayland-protocols/fake-input-client-protocol.h"

static struct org_kde_kwin_fake_input* input;
static uint32_t input_version;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                   uint32_t version) {
  (void)data;
  if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0) {
    input_version = version < 4 ? version : 4;
    input = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, input_version);
  }
}
static void global_remove(void* data, struct wl_registry* registry, uint32_t name) {
  (void)data, (void)registry, (void)name;
}
static const struct wl_registry_listener registry_listener = {global, global_remove};

static void pause_ms(long ms) {
  struct timespec time = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&time, NULL);
}

int main(int argc, char** argv) {
  struct wl_display* display = wl_display_connect(NULL);
  if (!display) {
    fprintf(stderr, "zoba-kwin-input: no Wayland display\n");
    return 1;
  }
  struct wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registry_listener, NULL);
  wl_display_roundtrip(display);
  if (!input) {
    fprintf(stderr, "zoba-kwin-input: KWin offers no org_kde_kwin_fake_input to this program\n");
    return 1;
  }
  org_kde_kwin_fake_input_authenticate(input, "ZobaCapture tests", "injects test input");
  wl_display_roundtrip(display);
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    const char* step = argv[i];
    if (strcmp(step, "idle") == 0) {
      /* Flushed, then waits until stdin closes (its parent went away). */
      wl_display_flush(display);
      struct pollfd in = {0, POLLIN | POLLHUP, 0};
      char buffer[64];
      while (poll(&in, 1, -1) > 0 && read(0, buffer, sizeof buffer) > 0) {
      }
    } else if ((step[0] == '+' || step[0] == '-') && input_version >= 4) {
      org_kde_kwin_fake_input_keyboard_key(input, (uint32_t)atoi(step + 1), step[0] == '+' ? 1 : 0);
    } else if (step[0] == 's') {
      wl_display_roundtrip(display);
      pause_ms(atol(step + 1));
    } else if (step[0] == 'm' && input_version >= 3) {
      double x = 0, y = 0;
      if (sscanf(step + 1, "%lf,%lf", &x, &y) != 2) status = 2;
      org_kde_kwin_fake_input_pointer_motion_absolute(input, wl_fixed_from_double(x),
                                                      wl_fixed_from_double(y));
    } else if (strcmp(step, "p") == 0) {
      wl_display_roundtrip(display);
      printf("handled\n");
      fflush(stdout);
    } else if (strcmp(step, "b") == 0) {
      org_kde_kwin_fake_input_button(input, BTN_LEFT, 1);
      wl_display_roundtrip(display);
      pause_ms(30);
      org_kde_kwin_fake_input_button(input, BTN_LEFT, 0);
    } else {
      fprintf(stderr, "zoba-kwin-input: cannot do %s (protocol version %u)\n", step, input_version);
      status = 2;
    }
  }
  wl_display_roundtrip(display);
  org_kde_kwin_fake_input_destroy(input);
  wl_registry_destroy(registry);
  wl_display_disconnect(display);
  return status;
}
