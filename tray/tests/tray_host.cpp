// tray_test_host: a minimal system tray for tests under Xvfb. It owns
// _NET_SYSTEM_TRAY_S0, docks icon windows side by side, and prints
// "DOCKED <window>" for each and "COLOUR <rrggbb>" whenever the dominant
// colour of the first docked icon changes.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace {

constexpr long kRequestDock = 0;
constexpr long kEmbeddedNotify = 0;
constexpr int kIconSize = 32;
constexpr unsigned long kBackground = 0x203040;

int ignoreErrors(Display*, XErrorEvent*) { return 0; }

// The most frequent colour of the icon that is neither our background nor black or white.
unsigned long dominantColour(Display* display, Window icon) {
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display, icon, &attributes) || attributes.map_state != IsViewable) return 0;
  XImage* image = XGetImage(display, icon, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
  if (image == nullptr) return 0;
  std::map<unsigned long, int> counts;
  for (int y = 0; y < attributes.height; ++y) {
    for (int x = 0; x < attributes.width; ++x) {
      unsigned long rgb = XGetPixel(image, x, y) & 0xFFFFFF;
      if (rgb != kBackground && rgb != 0 && rgb != 0xFFFFFF) ++counts[rgb];
    }
  }
  XDestroyImage(image);
  unsigned long best = 0;
  int most = 0;
  for (auto [rgb, n] : counts) {
    if (n > most) most = n, best = rgb;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "--version") == 0)) {
    std::printf("tray_test_host 19990415: a minimal system tray for tests (owns _NET_SYSTEM_TRAY_S0 on $DISPLAY)\n");
    return 0;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "tray_test_host: cannot open the X display; set DISPLAY\n");
    return 1;
  }
  XSetErrorHandler(ignoreErrors);
  setvbuf(stdout, nullptr, _IOLBF, 0);
  const int screen = DefaultScreen(display);
  const Window root = RootWindow(display, screen);
  Window tray = XCreateSimpleWindow(display, root, 0, 0, kIconSize * 4, kIconSize, 0, 0, kBackground);
  XSelectInput(display, tray, SubstructureNotifyMask | StructureNotifyMask);
  XMapWindow(display, tray);

  const Atom selection = XInternAtom(display, "_NET_SYSTEM_TRAY_S0", False);
  const Atom opcode = XInternAtom(display, "_NET_SYSTEM_TRAY_OPCODE", False);
  const Atom manager = XInternAtom(display, "MANAGER", False);
  const Atom orientation = XInternAtom(display, "_NET_SYSTEM_TRAY_ORIENTATION", False);
  const Atom xembed = XInternAtom(display, "_XEMBED", False);
  long horizontal = 0;
  XChangeProperty(display, tray, orientation, XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&horizontal), 1);
  XSetSelectionOwner(display, selection, tray, CurrentTime);
  if (XGetSelectionOwner(display, selection) != tray) {
    std::fprintf(stderr, "tray_test_host: another tray owns _NET_SYSTEM_TRAY_S0\n");
    return 1;
  }
  XEvent announce{};
  announce.xclient.type = ClientMessage;
  announce.xclient.window = root;
  announce.xclient.message_type = manager;
  announce.xclient.format = 32;
  announce.xclient.data.l[0] = CurrentTime;
  announce.xclient.data.l[1] = static_cast<long>(selection);
  announce.xclient.data.l[2] = static_cast<long>(tray);
  XSendEvent(display, root, False, StructureNotifyMask, &announce);
  XFlush(display);
  std::printf("READY\n");

  std::vector<Window> icons;
  unsigned long lastColour = ~0ul;
  pollfd fd{ConnectionNumber(display), POLLIN, 0};
  for (;;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == ClientMessage && event.xclient.message_type == opcode &&
          event.xclient.data.l[1] == kRequestDock) {
        Window icon = static_cast<Window>(event.xclient.data.l[2]);
        XReparentWindow(display, icon, tray, static_cast<int>(icons.size()) * kIconSize, 0);
        XResizeWindow(display, icon, kIconSize, kIconSize);
        XMapRaised(display, icon);
        XEvent notify{};
        notify.xclient.type = ClientMessage;
        notify.xclient.window = icon;
        notify.xclient.message_type = xembed;
        notify.xclient.format = 32;
        notify.xclient.data.l[0] = CurrentTime;
        notify.xclient.data.l[1] = kEmbeddedNotify;
        notify.xclient.data.l[3] = static_cast<long>(tray);
        XSendEvent(display, icon, False, NoEventMask, &notify);
        icons.push_back(icon);
        std::printf("DOCKED 0x%lx\n", icon);
      } else if (event.type == DestroyNotify) {
        std::erase(icons, event.xdestroywindow.window);
      } else if (event.type == SelectionClear) {
        return 0;
      }
    }
    if (!icons.empty()) {
      unsigned long colour = dominantColour(display, icons.front());
      if (colour != 0 && colour != lastColour) {
        std::printf("COLOUR %06lx\n", colour);
        lastColour = colour;
      }
    }
    poll(&fd, 1, 200);
  }
}
