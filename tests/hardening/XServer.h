// A private X server (Xvfb) for window tests that need a real display: no
// window manager and no notification area unless a test makes one
// (FakeTray). start() runs before the QApplication exists and points
// DISPLAY and Qt's platform at it; the server ends with the object.
#pragma once

#include <QString>
#include <sys/types.h>

class XServer
{
public:
    XServer() = default;
    ~XServer();
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    // Starts Xvfb on a free display (1280 x 800, 96 dpi) and waits until it
    // answers. False when Xvfb is missing or does not come up.
    bool start();
    QString display() const { return m_display; }

private:
    pid_t m_pid = -1;
    QString m_display;
};

// The owner of the notification area's selection on screen 0: while it
// lives, the desktop has a notification area (nothing is ever embedded in
// it, which is all a balloon needs).
class FakeTray
{
public:
    FakeTray();
    ~FakeTray();
    FakeTray(const FakeTray &) = delete;
    FakeTray &operator=(const FakeTray &) = delete;
    bool isValid() const { return m_window != 0; }

private:
    struct xcb_connection_t *m_connection = nullptr;
    quint32 m_window = 0;
};

// A small window manager (openbox, from the distribution) on the test
// display while the object lives: it frames, places and focuses windows
// and honours the full-screen state, as a desktop does.
class WindowManager
{
public:
    WindowManager() = default;
    ~WindowManager();
    WindowManager(const WindowManager &) = delete;
    WindowManager &operator=(const WindowManager &) = delete;

    // Starts it and waits until it manages the screen. False when it is
    // missing or does not come up.
    bool start();

private:
    pid_t m_pid = -1;
};

// Whether this test program runs on its own X server (set by its main;
// false when Xvfb is missing, and the tests that need it skip).
bool onXServer();
