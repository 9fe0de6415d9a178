/* Asks the top-level window with the given title to close as a window manager's close button
 * does (WM_DELETE_WINDOW), so that the program takes its normal quit path even on an X server
 * without a window manager. Exit 0 when a window was found and asked. */
#include <X11/Xlib.h>
#include <stdio.h>
#include <string.h>

static Window find_named(Display* dpy, Window w, const char* name) {
  char* wm_name = NULL;
  Window root, parent, *children = NULL, found = 0;
  unsigned int n = 0;
  if (XFetchName(dpy, w, &wm_name) && wm_name != NULL) {
    found = strcmp(wm_name, name) == 0 ? w : 0;
    XFree(wm_name);
  }
  if (!found && XQueryTree(dpy, w, &root, &parent, &children, &n))
    for (unsigned int i = 0; i < n && !found; ++i) found = find_named(dpy, children[i], name);
  if (children) XFree(children);
  return found;
}

int main(int argc, char** argv) {
  Display* dpy = argc == 2 ? XOpenDisplay(NULL) : NULL;
  Window w = dpy ? find_named(dpy, DefaultRootWindow(dpy), argv[1]) : 0;
  if (!w) {
    fprintf(stderr, "usage: x_close_window TITLE (on an X display with that window)\n");
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
  XCloseDisplay(dpy);
  return 0;
}
