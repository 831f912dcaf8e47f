/* A pointer for a compositor that has no input devices (a headless sway): a wlr virtual pointer
 * held until the process is ended. While it exists the seat has a pointer, so clients get
 * wl_pointer events from the compositor's own cursor commands (swaymsg seat - cursor ...).
 * The two interfaces are written out here as wayland-scanner would make them from
 * wlr-virtual-pointer-unstable-v1.xml, which Debian does not ship. */
#include <stdio.h>
#include <string.h>
#include <wayland-client.h>

extern const struct wl_interface wl_seat_interface;
extern const struct wl_interface wl_output_interface;
static const struct wl_interface pointer_interface;

static const struct wl_interface* create_types[] = {&wl_seat_interface, &pointer_interface, &wl_seat_interface,
                                                    &wl_output_interface, &pointer_interface};
static const struct wl_message manager_requests[] = {
    {"create_virtual_pointer", "?on", create_types},
    {"destroy", "", NULL},
    {"create_virtual_pointer_with_output", "2?o?on", create_types + 2},
};
static const struct wl_interface manager_interface = {"zwlr_virtual_pointer_manager_v1", 2, 3, manager_requests,
                                                      0, NULL};
static const struct wl_interface* no_types[] = {NULL, NULL, NULL, NULL, NULL};
static const struct wl_message pointer_requests[] = {
    {"motion", "uff", no_types},       {"motion_absolute", "uuuuu", no_types}, {"button", "uuu", no_types},
    {"axis", "uuf", no_types},         {"frame", "", no_types},               {"axis_source", "u", no_types},
    {"axis_stop", "uu", no_types},     {"axis_discrete", "uufi", no_types},    {"destroy", "", no_types},
};
static const struct wl_interface pointer_interface = {"zwlr_virtual_pointer_v1", 2, 9, pointer_requests, 0, NULL};

static struct wl_seat* seat;
static struct wl_proxy* manager;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
  (void)data;
  (void)version;
  if (strcmp(interface, "wl_seat") == 0) seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
  if (strcmp(interface, manager_interface.name) == 0) manager = wl_registry_bind(registry, name, &manager_interface, 1);
}

static void global_remove(void* data, struct wl_registry* registry, uint32_t name) {
  (void)data;
  (void)registry;
  (void)name;
}

static const struct wl_registry_listener listener = {global, global_remove};

int main(void) {
  struct wl_display* display = wl_display_connect(NULL);
  if (!display) {
    fputs("virtual_pointer: no Wayland display\n", stderr);
    return 1;
  }
  wl_registry_add_listener(wl_display_get_registry(display), &listener, NULL);
  wl_display_roundtrip(display);
  if (!seat || !manager) {
    fputs("virtual_pointer: the compositor has no seat or no virtual pointers\n", stderr);
    return 1;
  }
  wl_proxy_marshal_constructor(manager, 0, &pointer_interface, seat, NULL);
  wl_display_roundtrip(display);
  puts("ready");
  fflush(stdout);
  while (wl_display_dispatch(display) != -1) {
  }
  return 0;
}
