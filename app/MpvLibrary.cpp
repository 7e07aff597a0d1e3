#include "app/MpvLibrary.h"

#include <QLibrary>

namespace {

// The library's API generation this player is written against.
constexpr int kMpvSonameVersion = 2;

template<typename F>
bool resolve(QLibrary &lib, const char *name, F &target)
{
    target = reinterpret_cast<F>(lib.resolve(name));
    return target != nullptr;
}

} // namespace

const MpvLibrary *MpvLibrary::instance()
{
    static MpvLibrary *const loaded = [] {
        auto *l = new MpvLibrary;
        if (l->load())
            return l;
        delete l;
        return static_cast<MpvLibrary *>(nullptr);
    }();
    return loaded;
}

bool MpvLibrary::load()
{
    // Never unloaded: mpv's own threads may outlive any one player.
    static QLibrary lib;
    lib.setFileNameAndVersion(QStringLiteral("mpv"), kMpvSonameVersion);
    if (!lib.load()) {
        lib.setFileName(QStringLiteral("mpv"));
        if (!lib.load())
            return false;
    }
    return resolve(lib, "mpv_create", create) && resolve(lib, "mpv_initialize", initialize) &&
           resolve(lib, "mpv_set_option_string", set_option_string) &&
           resolve(lib, "mpv_observe_property", observe_property) &&
           resolve(lib, "mpv_set_wakeup_callback", set_wakeup_callback) &&
           resolve(lib, "mpv_terminate_destroy", terminate_destroy) &&
           resolve(lib, "mpv_command", command) && resolve(lib, "mpv_command_ret", command_ret) &&
           resolve(lib, "mpv_free_node_contents", free_node_contents) &&
           resolve(lib, "mpv_wait_event", wait_event) &&
           resolve(lib, "mpv_get_property", get_property) &&
           resolve(lib, "mpv_set_property", set_property);
}
