/* A keyboard and a mouse for the end-to-end checks on Wayland compositors
 * that have no input devices of their own.
 *
 *     slabix_wlinput [KEYMAP]
 *
 * Connects to WAYLAND_DISPLAY and creates a virtual keyboard and a virtual
 * pointer: zwp_virtual_keyboard_v1 and zwlr_virtual_pointer_v1 where the
 * compositor offers them (sway, which then also needs KEYMAP, an XKB
 * keymap as xkbcli compile-keymap writes it), else org_kde_kwin_fake_input.
 * Prints "ready NAME" and then reads one command a line from stdin:
 *
 *     key CODE...        press the evdev key codes in order, release them in reverse
 *     move X Y W H       the pointer to (X, Y) of a W x H global space
 *     down BUTTON        press an evdev button (272 is the left one)
 *     up BUTTON          release it
 *
 * and answers each with "ok" once the compositor has had it (a roundtrip),
 * or with "error ..." on a line it cannot read. Ends at the end of stdin. */

#define _GNU_SOURCE
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <wayland-client.h>

#include "fake-input-client-protocol.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

struct input {
    struct wl_seat *seat;
    struct zwp_virtual_keyboard_manager_v1 *keyboard_manager;
    struct zwlr_virtual_pointer_manager_v1 *pointer_manager;
    struct org_kde_kwin_fake_input *fake;
    struct zwp_virtual_keyboard_v1 *keyboard;
    struct zwlr_virtual_pointer_v1 *pointer;
};

static void on_global(void *data, struct wl_registry *registry, uint32_t name, const char *interface,
                      uint32_t version)
{
    struct input *in = data;
    if (strcmp(interface, wl_seat_interface.name) == 0 && !in->seat)
        in->seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    else if (strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
        in->keyboard_manager = wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1);
    else if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        in->pointer_manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
    else if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
        in->fake = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4);
}

static void on_global_remove(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registry_listener = {on_global, on_global_remove};

static uint32_t now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint32_t)(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

/* The keymap in a memory file, with the terminating zero byte that the
 * compositor's parser expects inside the size. */
static int keymap_fd(const char *path, uint32_t *size)
{
    FILE *f = fopen(path, "rb");
    if (!f)
        return -1;
    int fd = memfd_create("slabix-keymap", MFD_CLOEXEC);
    char buf[65536];
    size_t n, total = 0;
    while (fd >= 0 && (n = fread(buf, 1, sizeof buf, f)) > 0) {
        if (write(fd, buf, n) != (ssize_t)n) {
            close(fd);
            fd = -1;
        }
        total += n;
    }
    fclose(f);
    if (fd < 0 || write(fd, "", 1) != 1)
        return -1;
    *size = (uint32_t)(total + 1);
    return fd;
}

static void key(struct input *in, uint32_t code, int down)
{
    if (in->keyboard)
        zwp_virtual_keyboard_v1_key(in->keyboard, now_ms(), code,
                                    down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    else
        org_kde_kwin_fake_input_keyboard_key(in->fake, code,
                                             down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

static int command(struct input *in, char *line)
{
    char *word = strtok(line, " \t\n");
    if (!word)
        return -1;
    if (strcmp(word, "key") == 0) {
        uint32_t codes[16];
        int n = 0;
        char *arg;
        while (n < 16 && (arg = strtok(NULL, " \t\n")))
            codes[n++] = (uint32_t)strtoul(arg, NULL, 10);
        if (n == 0)
            return -1;
        for (int k = 0; k < n; ++k)
            key(in, codes[k], 1);
        for (int k = n - 1; k >= 0; --k)
            key(in, codes[k], 0);
        return 0;
    }
    if (strcmp(word, "move") == 0) {
        unsigned x, y, w, h;
        char *rest = strtok(NULL, "\n");
        if (!rest || sscanf(rest, "%u %u %u %u", &x, &y, &w, &h) != 4)
            return -1;
        if (in->pointer) {
            zwlr_virtual_pointer_v1_motion_absolute(in->pointer, now_ms(), x, y, w, h);
            zwlr_virtual_pointer_v1_frame(in->pointer);
        } else {
            /* kwin takes the position in its global space. */
            org_kde_kwin_fake_input_pointer_motion_absolute(in->fake, wl_fixed_from_int((int)x),
                                                            wl_fixed_from_int((int)y));
        }
        return 0;
    }
    if (strcmp(word, "down") == 0 || strcmp(word, "up") == 0) {
        char *arg = strtok(NULL, " \t\n");
        if (!arg)
            return -1;
        uint32_t button = (uint32_t)strtoul(arg, NULL, 10);
        uint32_t state = word[0] == 'd' ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED;
        if (in->pointer) {
            zwlr_virtual_pointer_v1_button(in->pointer, now_ms(), button, state);
            zwlr_virtual_pointer_v1_frame(in->pointer);
        } else {
            org_kde_kwin_fake_input_button(in->fake, button, state);
        }
        return 0;
    }
    return -1;
}

int main(int argc, char **argv)
{
    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "slabix_wlinput: no Wayland display: %s\n", strerror(errno));
        return 1;
    }
    struct input in = {0};
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, &in);
    wl_display_roundtrip(display);

    const char *name;
    if (in.keyboard_manager && in.pointer_manager && in.seat) {
        uint32_t size = 0;
        int fd = argc > 1 ? keymap_fd(argv[1], &size) : -1;
        if (fd < 0) {
            fprintf(stderr, "slabix_wlinput: the virtual keyboard needs a keymap file\n");
            return 1;
        }
        in.keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(in.keyboard_manager, in.seat);
        zwp_virtual_keyboard_v1_keymap(in.keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, size);
        close(fd);
        in.pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(in.pointer_manager, in.seat);
        name = "virtual-keyboard+virtual-pointer";
    } else if (in.fake) {
        org_kde_kwin_fake_input_authenticate(in.fake, "slabix end-to-end checks", "plays the game");
        name = "fake-input";
    } else {
        fprintf(stderr, "slabix_wlinput: the compositor offers no virtual input protocol\n");
        return 1;
    }
    if (wl_display_roundtrip(display) < 0) {
        fprintf(stderr, "slabix_wlinput: the compositor closed the connection\n");
        return 1;
    }
    printf("ready %s\n", name);
    fflush(stdout);

    char line[512];
    while (fgets(line, sizeof line, stdin)) {
        char copy[512];
        strcpy(copy, line);
        if (command(&in, copy) < 0) {
            printf("error %s", line);
        } else if (wl_display_roundtrip(display) < 0) {
            fprintf(stderr, "slabix_wlinput: the compositor closed the connection\n");
            return 1;
        } else {
            printf("ok\n");
        }
        fflush(stdout);
    }
    wl_display_disconnect(display);
    return 0;
}
