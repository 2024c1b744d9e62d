// PlatformStartGuard: while the application object connects to the desktop,
// Qt's own messages are held back, and Qt's fatal failure to start a platform
// plugin becomes one line on standard error and exit status 1 instead of an
// abort (status 134) after a page of plugin names:
//
//   korvan-controller: cannot open a display (DISPLAY and WAYLAND_DISPLAY are
//   unset or unreachable); on a machine without a desktop, use korvanctl
//
// or, when the platform asked for does not exist, Qt's line naming it. The
// offscreen and minimal platforms need no display and never fail this way.
//
// Construct one right before the application object and destroy it right
// after: the previous message handler comes back and gets what was held, in
// order. Main thread only; one at a time (a message handler has no context,
// so what it holds lives in the .cpp for the guard's lifetime).
#pragma once

class PlatformStartGuard {
public:
    PlatformStartGuard();
    ~PlatformStartGuard();
    PlatformStartGuard(const PlatformStartGuard&) = delete;
    PlatformStartGuard& operator=(const PlatformStartGuard&) = delete;
};
