#include "playback/libraries/MpvLibrary.h"
#include "playback/libraries/LibrarySymbol.h"

#include <QLibrary>

namespace {

// The library's API generation this player is written against.
constexpr int kMpvSonameVersion = 2;

} // namespace

const MpvLibrary *MpvLibrary::instance()
{
    return loadedLibrary<MpvLibrary>();
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
    return resolveSymbol(lib, "mpv_create", create) &&
           resolveSymbol(lib, "mpv_initialize", initialize) &&
           resolveSymbol(lib, "mpv_set_option_string", set_option_string) &&
           resolveSymbol(lib, "mpv_observe_property", observe_property) &&
           resolveSymbol(lib, "mpv_set_wakeup_callback", set_wakeup_callback) &&
           resolveSymbol(lib, "mpv_terminate_destroy", terminate_destroy) &&
           resolveSymbol(lib, "mpv_command", command) &&
           resolveSymbol(lib, "mpv_command_ret", command_ret) &&
           resolveSymbol(lib, "mpv_free_node_contents", free_node_contents) &&
           resolveSymbol(lib, "mpv_wait_event", wait_event) &&
           resolveSymbol(lib, "mpv_get_property", get_property) &&
           resolveSymbol(lib, "mpv_set_property", set_property) &&
           resolveSymbol(lib, "mpv_hook_add", hook_add) &&
           resolveSymbol(lib, "mpv_hook_continue", hook_continue);
}
