/* Resizes a top-level window to random sizes in quick succession, as a user
 * dragging its border wildly (or a tiling window manager) would.
 * Usage: resize_storm <window id> <count> <seed> <pause ms> <largest WxH>
 * Sizes run from 1 × 1 up to the largest size given; the last one is printed. */
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

int main(int argc, char** argv) {
    int max_w = 0, max_h = 0;
    if (argc != 6 || sscanf(argv[5], "%dx%d", &max_w, &max_h) != 2 || max_w < 1 || max_h < 1) {
        fprintf(stderr, "usage: resize_storm <window id> <count> <seed> <pause ms> <largest WxH>\n");
        return 2;
    }
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "resize_storm: cannot open the display\n");
        return 1;
    }
    Window window = (Window)strtoul(argv[1], NULL, 0);
    int count = atoi(argv[2]);
    srand((unsigned)strtoul(argv[3], NULL, 0));
    long pause_ns = atol(argv[4]) * 1000000L;
    unsigned w = 1, h = 1;
    for (int i = 0; i < count; ++i) {
        w = 1 + (unsigned)(rand() % max_w);
        h = 1 + (unsigned)(rand() % max_h);
        XResizeWindow(display, window, w, h);
        XSync(display, False);
        struct timespec pause = {pause_ns / 1000000000L, pause_ns % 1000000000L};
        nanosleep(&pause, NULL);
    }
    printf("%ux%u\n", w, h);
    XCloseDisplay(display);
    return 0;
}
