// libmpv, opened on first use instead of linked. Linking it pulls some 170
// shared libraries (decoders, filters, speech synthesis, TLS…) into the
// process at start-up: tens of megabytes and tens of milliseconds before the
// window shows, for a player that may never play anything. The functions the
// player needs are looked up once, the first time a link is played.
#pragma once

#include <mpv/client.h>

class MpvLibrary
{
public:
    // The loaded library, or nullptr when libmpv cannot be found or lacks a
    // function we need (the player then reports that it cannot start).
    static const MpvLibrary *instance();

    decltype(&::mpv_create) create = nullptr;
    decltype(&::mpv_initialize) initialize = nullptr;
    decltype(&::mpv_set_option_string) set_option_string = nullptr;
    decltype(&::mpv_observe_property) observe_property = nullptr;
    decltype(&::mpv_set_wakeup_callback) set_wakeup_callback = nullptr;
    decltype(&::mpv_terminate_destroy) terminate_destroy = nullptr;
    decltype(&::mpv_command) command = nullptr;
    decltype(&::mpv_command_ret) command_ret = nullptr;
    decltype(&::mpv_free_node_contents) free_node_contents = nullptr;
    decltype(&::mpv_wait_event) wait_event = nullptr;
    decltype(&::mpv_get_property) get_property = nullptr;
    decltype(&::mpv_set_property) set_property = nullptr;
    decltype(&::mpv_hook_add) hook_add = nullptr;
    decltype(&::mpv_hook_continue) hook_continue = nullptr;

private:
    template <typename T> friend const T *loadedLibrary();
    MpvLibrary() = default;
    bool load();
};
