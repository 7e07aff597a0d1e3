#include "tests/hardening/XServer.h"

#include <QByteArray>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

// How long the server may take to name its display.
constexpr int kStartTimeoutMs = 15000;

// Asks a child to end, and makes it after five seconds.
void stopChild(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        ::usleep(100 * 1000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

} // namespace

XServer::~XServer()
{
    stopChild(m_pid);
}

bool XServer::start()
{
    const QByteArray xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb")).toLocal8Bit();
    if (xvfb.isEmpty())
        return false;
    int fds[2];
    if (::pipe(fds) != 0)
        return false;
    m_pid = ::fork();
    if (m_pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (m_pid == 0) {
        // -displayfd: the server picks a free display and writes its number.
        ::close(fds[0]);
        const QByteArray fd = QByteArray::number(fds[1]);
        const int devNull = ::open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            ::dup2(devNull, STDOUT_FILENO);
            ::dup2(devNull, STDERR_FILENO);
        }
        ::execl(xvfb.constData(), "Xvfb", "-displayfd", fd.constData(), "-screen", "0",
                "1280x800x24", "-dpi", "96", "-nolisten", "tcp", "-noreset",
                static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    QByteArray number;
    pollfd p{fds[0], POLLIN, 0};
    while (!number.endsWith('\n') && ::poll(&p, 1, kStartTimeoutMs) > 0) {
        char c = 0;
        if (::read(fds[0], &c, 1) != 1)
            break;
        number += c;
    }
    ::close(fds[0]);
    if (number.trimmed().isEmpty())
        return false;
    m_display = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    qputenv("DISPLAY", m_display.toLocal8Bit());
    qunsetenv("XAUTHORITY");
    qputenv("QT_QPA_PLATFORM", "xcb");
    // Nothing may answer for a tray or a theme from the session around us.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("QT_QPA_PLATFORMTHEME");
    return true;
}

namespace {

// Whether a window manager says it manages the screen: the root window
// names its check window (EWMH's _NET_SUPPORTING_WM_CHECK).
bool windowManagerRuns()
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (!connection || xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const char name[] = "_NET_SUPPORTING_WM_CHECK";
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, std::strlen(name), name), nullptr);
    bool runs = false;
    if (screen && atom && atom->atom != XCB_ATOM_NONE) {
        xcb_get_property_reply_t *property = xcb_get_property_reply(
            connection,
            xcb_get_property(connection, 0, screen->root, atom->atom, XCB_ATOM_WINDOW, 0, 1),
            nullptr);
        runs = property && xcb_get_property_value_length(property) > 0;
        std::free(property);
    }
    std::free(atom);
    xcb_disconnect(connection);
    return runs;
}

// Whether a window mapped now gets managed: the manager sets WM_STATE on
// it. A manager names itself before its event loop runs, and a window that
// asks to be mapped in between is never shown; so a probe window is mapped
// until one is managed.
bool windowManagerManages()
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (!connection || xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const char name[] = "WM_STATE";
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    bool managed = false;
    for (int tries = 0; screen && atom && !managed && tries < kStartTimeoutMs / 500; ++tries) {
        const xcb_window_t probe = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, probe, screen->root, 0, 0, 8, 8, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_map_window(connection, probe);
        xcb_flush(connection);
        for (int waited = 0; waited < 500 && !managed; waited += 50) {
            ::usleep(50 * 1000);
            xcb_get_property_reply_t *property = xcb_get_property_reply(
                connection, xcb_get_property(connection, 0, probe, atom->atom, atom->atom, 0, 2),
                nullptr);
            managed = property && xcb_get_property_value_length(property) > 0;
            std::free(property);
        }
        xcb_destroy_window(connection, probe);
        xcb_flush(connection);
    }
    std::free(atom);
    xcb_disconnect(connection);
    return managed;
}

} // namespace

WindowManager::~WindowManager()
{
    stopChild(m_pid);
}

bool WindowManager::start()
{
    const QByteArray openbox =
        QStandardPaths::findExecutable(QStringLiteral("openbox")).toLocal8Bit();
    if (openbox.isEmpty())
        return false;
    m_pid = ::fork();
    if (m_pid < 0)
        return false;
    if (m_pid == 0) {
        const int devNull = ::open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            ::dup2(devNull, STDOUT_FILENO);
            ::dup2(devNull, STDERR_FILENO);
        }
        ::execl(openbox.constData(), "openbox", "--sm-disable", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    for (int waited = 0; waited < kStartTimeoutMs; waited += 50) {
        if (windowManagerRuns())
            return windowManagerManages();
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            return false;
        }
        ::usleep(50 * 1000);
    }
    return false;
}

FakeTray::FakeTray()
{
    m_connection = xcb_connect(nullptr, nullptr);
    if (!m_connection || xcb_connection_has_error(m_connection))
        return;
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
    const char name[] = "_NET_SYSTEM_TRAY_S0";
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, std::strlen(name), name), nullptr);
    const char managerName[] = "MANAGER";
    xcb_intern_atom_reply_t *manager = xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, std::strlen(managerName), managerName),
        nullptr);
    if (!screen || !atom || !manager) {
        std::free(atom);
        std::free(manager);
        return;
    }
    const xcb_window_t window = xcb_generate_id(m_connection);
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(m_connection, window, atom->atom, XCB_CURRENT_TIME);
    // Tell the clients, as a tray does when it takes the selection.
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = screen->root;
    event.type = manager->atom;
    event.data.data32[0] = XCB_CURRENT_TIME;
    event.data.data32[1] = atom->atom;
    event.data.data32[2] = window;
    xcb_send_event(m_connection, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
    xcb_flush(m_connection);
    std::free(atom);
    std::free(manager);
    m_window = window;
}

FakeTray::~FakeTray()
{
    if (m_connection) {
        if (m_window)
            xcb_destroy_window(m_connection, m_window);
        xcb_flush(m_connection);
        xcb_disconnect(m_connection);
    }
}
