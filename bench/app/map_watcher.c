/* Launches a program and reports, from outside it, when its window named NAME
 * is mapped on the X display, and the program's peak memory at that moment.
 *
 *   map_watcher NAME SETTLE_MS PROGRAM [ARGS...]
 *
 * prints "mapped_ms <ms from exec to MapNotify>" and, SETTLE_MS later (the
 * window painted and idle), "vmhwm_kb <peak resident set>", then terminates
 * the program. It listens to the root window's MapNotify events rather than
 * polling, so the figure has no polling granularity. Gives up after 20 s. */
#define _GNU_SOURCE
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

static long status_kb(pid_t pid, const char *field) {
  char path[64], line[256];
  snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
  FILE *f = fopen(path, "r");
  long value = -1;
  size_t n = strlen(field);
  while (f && fgets(line, sizeof line, f))
    if (strncmp(line, field, n) == 0 && line[n] == ':')
      value = atol(line + n + 1);
  if (f)
    fclose(f);
  return value;
}

static int has_name(Display *display, Window window, const char *name) {
  char *title = NULL;
  int match = XFetchName(display, window, &title) && title && strcmp(title, name) == 0;
  if (title)
    XFree(title);
  return match;
}

int main(int argc, char **argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: map_watcher NAME SETTLE_MS PROGRAM [ARGS...]\n");
    return 2;
  }
  const char *name = argv[1];
  const int settle_ms = atoi(argv[2]);
  Display *display = XOpenDisplay(NULL);
  if (!display) {
    fprintf(stderr, "map_watcher: no X display\n");
    return 1;
  }
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, False);

  const double launched = now_ms();
  const pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[3], argv + 3);
    _exit(127);
  }
  const int fd = ConnectionNumber(display);
  double mapped = -1;
  while (mapped < 0 && now_ms() - launched < 20000) {
    if (!XPending(display)) {
      fd_set read_set;
      FD_ZERO(&read_set);
      FD_SET(fd, &read_set);
      struct timeval wait = {0, 100000};
      select(fd + 1, &read_set, NULL, NULL, &wait);
      continue;
    }
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == MapNotify && has_name(display, event.xmap.window, name))
      mapped = now_ms() - launched;
  }
  int status = 0;
  if (mapped >= 0) {
    usleep((useconds_t)settle_ms * 1000);
    printf("mapped_ms %.3f\nvmhwm_kb %ld\n", mapped, status_kb(pid, "VmHWM"));
  } else {
    fprintf(stderr, "map_watcher: no window named \"%s\" within 20 s\n", name);
    status = 1;
  }
  kill(pid, SIGTERM);
  waitpid(pid, NULL, 0);
  XCloseDisplay(display);
  return status;
}
