/* Asks the top-level window with the given title to close, the way a window manager's close
 * button does (WM_DELETE_WINDOW), so the program goes through its normal quit path even on an
 * X server without a window manager. Exit 0 when a window was found and asked. */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <string.h>

static Window find_named(Display* dpy, Window w, const char* name) {
  char* wm_name = NULL;
  if (XFetchName(dpy, w, &wm_name) && wm_name != NULL) {
    int same = strcmp(wm_name, name) == 0;
    XFree(wm_name);
    if (same) return w;
  }
  Window root, parent, *children = NULL;
  unsigned int n = 0;
  Window found = 0;
  if (XQueryTree(dpy, w, &root, &parent, &children, &n)) {
    for (unsigned int i = 0; i < n && !found; ++i) found = find_named(dpy, children[i], name);
    if (children) XFree(children);
  }
  return found;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: x_close_window TITLE\n");
    return 2;
  }
  Display* dpy = XOpenDisplay(NULL);
  if (!dpy) {
    fprintf(stderr, "x_close_window: cannot open display\n");
    return 1;
  }
  Window w = find_named(dpy, DefaultRootWindow(dpy), argv[1]);
  if (!w) {
    fprintf(stderr, "x_close_window: no window titled \"%s\"\n", argv[1]);
    XCloseDisplay(dpy);
    return 1;
  }
  XEvent ev;
  memset(&ev, 0, sizeof ev);
  ev.xclient.type = ClientMessage;
  ev.xclient.window = w;
  ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = (long)XInternAtom(dpy, "WM_DELETE_WINDOW", False);
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(dpy, w, False, NoEventMask, &ev);
  XFlush(dpy);
  XCloseDisplay(dpy);
  return 0;
}
