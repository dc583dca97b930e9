// Waits for the top-level window titled as given to be shown on the X
// display, checks that it fits the screen, gives it the keyboard focus and
// presses Escape in it, as a user would. Real key presses go through the
// XTest extension (its library is loaded at run time); without it the key
// is sent to the window directly. Exits 0 once the key was pressed, 1 when
// no such window appeared in time or it does not fit.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

Window FindTitled(Display* display, Window window, const std::string& title) {
    char* name = nullptr;
    if (XFetchName(display, window, &name) != 0 && name != nullptr) {
        const bool match = title == name;
        XFree(name);
        XWindowAttributes attributes{};
        if (match && XGetWindowAttributes(display, window, &attributes) != 0 &&
            attributes.map_state == IsViewable) {
            return window;
        }
    }
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count) == 0) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && found == 0; ++i) {
        found = FindTitled(display, children[i], title);
    }
    if (children != nullptr) XFree(children);
    return found;
}

void PressEscape(Display* display, Window window) {
    const KeyCode escape = XKeysymToKeycode(display, XK_Escape);
    using FakeKey = int (*)(Display*, unsigned int, Bool, unsigned long);
    void* xtest = dlopen("libXtst.so.6", RTLD_NOW);
    const auto fake = xtest != nullptr ? reinterpret_cast<FakeKey>(dlsym(xtest, "XTestFakeKeyEvent"))
                                       : nullptr;
    if (fake != nullptr) {
        fake(display, escape, True, CurrentTime);
        fake(display, escape, False, CurrentTime);
        XFlush(display);
        return;
    }
    for (const int type : {KeyPress, KeyRelease}) {
        XKeyEvent key{};
        key.type = type;
        key.display = display;
        key.window = window;
        key.root = DefaultRootWindow(display);
        key.keycode = escape;
        key.same_screen = True;
        XSendEvent(display, window, True, type == KeyPress ? KeyPressMask : KeyReleaseMask,
                   reinterpret_cast<XEvent*>(&key));
    }
    XFlush(display);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string title = argc > 1 ? argv[1] : "Lumafex";
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "escape_dialog: cannot open the display\n");
        return 1;
    }
    Window window = 0;
    for (int tries = 0; tries < 300 && window == 0; ++tries) {
        window = FindTitled(display, DefaultRootWindow(display), title);
        if (window == 0) usleep(100000);
    }
    if (window == 0) {
        std::fprintf(stderr, "escape_dialog: no window titled \"%s\" appeared\n", title.c_str());
        return 1;
    }
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, window, &attributes);
    const int screenWidth = DisplayWidth(display, DefaultScreen(display));
    const int screenHeight = DisplayHeight(display, DefaultScreen(display));
    std::printf("escape_dialog: \"%s\" is %dx%d on a %dx%d screen\n", title.c_str(),
                attributes.width, attributes.height, screenWidth, screenHeight);
    if (attributes.width > screenWidth || attributes.height > screenHeight) {
        std::fprintf(stderr, "escape_dialog: the window does not fit the screen\n");
        return 1;
    }
    // Let the dialog finish showing, then give it the keyboard.
    usleep(500000);
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);
    usleep(200000);
    PressEscape(display, window);
    XCloseDisplay(display);
    return 0;
}
