// Starts a program and prints how many milliseconds passed until its capture
// tool is on screen under the pointer: the main window is mapped and painted,
// and the pointer stands on the tool, ready to drag. The tool is recognised by
// its teal background on both sides of the pointer (the wand is drawn in the
// middle). Prints "timeout" and fails after 10 s.
#define _GNU_SOURCE
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <xcb/xcb.h>

extern char** environ;

static double now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// True when the root pixel at (x, y) is the tool's teal, 0x008080.
static int is_teal(xcb_connection_t* c, xcb_window_t root, int x, int y) {
  if (x < 0 || y < 0) return 0;
  xcb_get_image_reply_t* img = xcb_get_image_reply(
      c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, (int16_t)x, (int16_t)y, 1, 1, ~0u),
      NULL);
  if (!img) return 0;
  int teal = 0;
  if (xcb_get_image_data_length(img) >= 4) {
    const uint8_t* p = xcb_get_image_data(img);  // blue, green, red, pad
    teal = p[0] == 0x80 && p[1] == 0x80 && p[2] == 0x00;
  }
  free(img);
  return teal;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s PROGRAM [ARGS...]\n", argv[0]);
    return 2;
  }
  int screen_number = 0;
  xcb_connection_t* c = xcb_connect(NULL, &screen_number);
  if (xcb_connection_has_error(c)) {
    fprintf(stderr, "cannot open the X display\n");
    xcb_disconnect(c);
    return 2;
  }
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screen_number && it.rem; ++i) xcb_screen_next(&it);
  const xcb_window_t root = it.data->root;

  const double start = now_ms();
  pid_t pid;
  if (posix_spawn(&pid, argv[1], NULL, NULL, argv + 1, environ) != 0) {
    perror("posix_spawn");
    xcb_disconnect(c);
    return 2;
  }
  int result = 1;
  while (now_ms() - start < 10000) {
    xcb_query_pointer_reply_t* ptr = xcb_query_pointer_reply(c, xcb_query_pointer(c, root), NULL);
    if (ptr) {
      const int x = ptr->root_x, y = ptr->root_y;
      free(ptr);
      if (is_teal(c, root, x - 15, y) && is_teal(c, root, x + 15, y)) {
        printf("%.1f\n", now_ms() - start);
        result = 0;
        break;
      }
    }
    const struct timespec pause = {0, 500000};
    nanosleep(&pause, NULL);
  }
  if (result) printf("timeout\n");
  kill(pid, SIGTERM);
  waitpid(pid, NULL, 0);
  xcb_disconnect(c);
  return result;
}
