/* zoba-wl-click X Y [BUTTON]: a virtual pointer (wlr-virtual-pointer-unstable-v1) on the
 * compositor of $WAYLAND_DISPLAY moves to (X, Y) of the output layout and clicks BUTTON
 * (a Linux button code, 272 = BTN_LEFT by default). Debian 12 packages no tool for this
 * (wlrctl is missing, ydotool needs /dev/uinput). Exits 0 once the compositor has seen
 * every request, 1 when the compositor has no virtual pointer manager, 2 on bad use. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

#include "wayland-protocols/wlr-virtual-pointer-unstable-v1-client-protocol.h"

static struct zwlr_virtual_pointer_manager_v1* manager;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                   uint32_t version) {
  (void)data, (void)version;
  if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
    manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
}
static void global_remove(void* data, struct wl_registry* registry, uint32_t name) {
  (void)data, (void)registry, (void)name;
}
static const struct wl_registry_listener registry_listener = {global, global_remove};

static uint32_t now_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint32_t)(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

static void pause_ms(long ms) {
  struct timespec ts = {ms / 1000, (ms % 1000) * 1000000};
  nanosleep(&ts, NULL);
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s X Y [BUTTON]\n", argv[0]);
    return 2;
  }
  uint32_t x = (uint32_t)strtoul(argv[1], NULL, 10), y = (uint32_t)strtoul(argv[2], NULL, 10);
  uint32_t button = argc > 3 ? (uint32_t)strtoul(argv[3], NULL, 10) : 272;
  struct wl_display* display = wl_display_connect(NULL);
  if (!display) {
    fprintf(stderr, "no Wayland display\n");
    return 1;
  }
  struct wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registry_listener, NULL);
  wl_display_roundtrip(display);
  if (!manager) {
    fprintf(stderr, "the compositor has no zwlr_virtual_pointer_manager_v1\n");
    return 1;
  }
  struct zwlr_virtual_pointer_v1* pointer =
      zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, NULL);
  wl_display_roundtrip(display);
  /* The seat gains a pointer: give the clients a moment to bind their wl_pointer, so
   * that the pointer entering their surface reaches them. */
  pause_ms(100);
  /* The extent is the layout's size in pixels; sway maps x / extent over the layout. */
  uint32_t width = 1920, height = 1080;
  const char* size = getenv("ZOBA_LAYOUT_SIZE");
  if (size && sscanf(size, "%ux%u", &width, &height) != 2) width = 1920, height = 1080;
  zwlr_virtual_pointer_v1_motion_absolute(pointer, now_ms(), x, y, width, height);
  zwlr_virtual_pointer_v1_frame(pointer);
  wl_display_roundtrip(display);
  pause_ms(50);
  zwlr_virtual_pointer_v1_button(pointer, now_ms(), button, WL_POINTER_BUTTON_STATE_PRESSED);
  zwlr_virtual_pointer_v1_frame(pointer);
  wl_display_roundtrip(display);
  pause_ms(30);
  zwlr_virtual_pointer_v1_button(pointer, now_ms(), button, WL_POINTER_BUTTON_STATE_RELEASED);
  zwlr_virtual_pointer_v1_frame(pointer);
  wl_display_roundtrip(display);
  pause_ms(50);
  zwlr_virtual_pointer_v1_destroy(pointer);
  zwlr_virtual_pointer_manager_v1_destroy(manager);
  wl_registry_destroy(registry);
  wl_display_roundtrip(display);
  wl_display_disconnect(display);
  return 0;
}
