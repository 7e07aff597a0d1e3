#include "playback/libraries/FfmpegLibrary.h"
#include "playback/libraries/LibrarySymbol.h"

#include <QLibrary>

namespace {

// Opens one library by the soname version this player was built against,
// the only version whose structures it knows. Never unloaded: a player may
// come and go, the functions stay valid.
bool open(QLibrary &lib, const char *name, int version)
{
    lib.setFileNameAndVersion(QLatin1String(name), version);
    return lib.load();
}

} // namespace

const FfmpegLibrary *FfmpegLibrary::instance()
{
    return loadedLibrary<FfmpegLibrary>();
}

bool FfmpegLibrary::load()
{
    static QLibrary util, codec, format, resample;
    if (!open(util, "avutil", LIBAVUTIL_VERSION_MAJOR) ||
        !open(codec, "avcodec", LIBAVCODEC_VERSION_MAJOR) ||
        !open(format, "avformat", LIBAVFORMAT_VERSION_MAJOR) ||
        !open(resample, "swresample", LIBSWRESAMPLE_VERSION_MAJOR))
        return false;
    const bool found =
        resolveSymbol(util, "av_log_set_level", log_set_level) &&
        resolveSymbol(util, "av_dict_set", dict_set) &&
        resolveSymbol(util, "av_dict_free", dict_free) &&
        resolveSymbol(util, "av_malloc", malloc) && resolveSymbol(util, "av_freep", freep) &&
        resolveSymbol(util, "av_frame_alloc", frame_alloc) &&
        resolveSymbol(util, "av_frame_free", frame_free) &&
        resolveSymbol(util, "av_channel_layout_default", channel_layout_default) &&
        resolveSymbol(util, "av_channel_layout_copy", channel_layout_copy) &&
        resolveSymbol(util, "av_channel_layout_uninit", channel_layout_uninit) &&
        resolveSymbol(util, "av_channel_layout_compare", channel_layout_compare) &&
        resolveSymbol(codec, "avcodec_find_decoder", find_decoder) &&
        resolveSymbol(codec, "avcodec_alloc_context3", codec_alloc_context) &&
        resolveSymbol(codec, "avcodec_free_context", codec_free_context) &&
        resolveSymbol(codec, "avcodec_parameters_to_context", parameters_to_context) &&
        resolveSymbol(codec, "avcodec_open2", codec_open) &&
        resolveSymbol(codec, "avcodec_send_packet", send_packet) &&
        resolveSymbol(codec, "avcodec_receive_frame", receive_frame) &&
        resolveSymbol(codec, "avcodec_flush_buffers", flush_buffers) &&
        resolveSymbol(codec, "av_packet_alloc", packet_alloc) &&
        resolveSymbol(codec, "av_packet_free", packet_free) &&
        resolveSymbol(codec, "av_packet_unref", packet_unref) &&
        resolveSymbol(format, "avformat_network_init", network_init) &&
        resolveSymbol(format, "avformat_alloc_context", format_alloc_context) &&
        resolveSymbol(format, "avformat_open_input", open_input) &&
        resolveSymbol(format, "avformat_find_stream_info", find_stream_info) &&
        resolveSymbol(format, "av_find_best_stream", find_best_stream) &&
        resolveSymbol(format, "av_read_frame", read_frame) &&
        resolveSymbol(format, "avformat_seek_file", seek_file) &&
        resolveSymbol(format, "avformat_close_input", close_input) &&
        resolveSymbol(format, "avio_alloc_context", io_alloc_context) &&
        resolveSymbol(format, "avio_context_free", io_context_free) &&
        resolveSymbol(resample, "swr_alloc_set_opts2", swr_alloc_set_opts2) &&
        resolveSymbol(resample, "swr_init", swr_init) &&
        resolveSymbol(resample, "swr_convert", swr_convert) &&
        resolveSymbol(resample, "swr_get_out_samples", swr_get_out_samples) &&
        resolveSymbol(resample, "swr_free", swr_free);
    if (!found)
        return false;
    // Quiet: the player reports failures in its own words.
    log_set_level(AV_LOG_QUIET);
    network_init();
    return true;
}
