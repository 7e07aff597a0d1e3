// FFmpeg's demuxing, decoding and resampling libraries, opened instead of
// linked, and only when a link needs them (what the light path does not
// play): linking them would map them and their hundreds of dependencies
// into every player at start-up. The functions needed are looked up once.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

class FfmpegLibrary
{
public:
    // The loaded libraries, or nullptr when one is missing or lacks a
    // function we need.
    static const FfmpegLibrary *instance();

    decltype(&::av_log_set_level) log_set_level = nullptr;
    decltype(&::av_dict_set) dict_set = nullptr;
    decltype(&::av_dict_free) dict_free = nullptr;
    decltype(&::av_malloc) malloc = nullptr;
    decltype(&::av_freep) freep = nullptr;
    decltype(&::av_frame_alloc) frame_alloc = nullptr;
    decltype(&::av_frame_free) frame_free = nullptr;
    decltype(&::av_channel_layout_default) channel_layout_default = nullptr;
    decltype(&::av_channel_layout_copy) channel_layout_copy = nullptr;
    decltype(&::av_channel_layout_uninit) channel_layout_uninit = nullptr;
    decltype(&::av_channel_layout_compare) channel_layout_compare = nullptr;

    decltype(&::avcodec_find_decoder) find_decoder = nullptr;
    decltype(&::avcodec_alloc_context3) codec_alloc_context = nullptr;
    decltype(&::avcodec_free_context) codec_free_context = nullptr;
    decltype(&::avcodec_parameters_to_context) parameters_to_context = nullptr;
    decltype(&::avcodec_open2) codec_open = nullptr;
    decltype(&::avcodec_send_packet) send_packet = nullptr;
    decltype(&::avcodec_receive_frame) receive_frame = nullptr;
    decltype(&::avcodec_flush_buffers) flush_buffers = nullptr;
    decltype(&::av_packet_alloc) packet_alloc = nullptr;
    decltype(&::av_packet_free) packet_free = nullptr;
    decltype(&::av_packet_unref) packet_unref = nullptr;

    decltype(&::avformat_network_init) network_init = nullptr;
    decltype(&::avformat_alloc_context) format_alloc_context = nullptr;
    decltype(&::avformat_open_input) open_input = nullptr;
    decltype(&::avformat_find_stream_info) find_stream_info = nullptr;
    decltype(&::av_find_best_stream) find_best_stream = nullptr;
    decltype(&::av_read_frame) read_frame = nullptr;
    decltype(&::avformat_seek_file) seek_file = nullptr;
    decltype(&::avformat_close_input) close_input = nullptr;
    decltype(&::avio_alloc_context) io_alloc_context = nullptr;
    decltype(&::avio_context_free) io_context_free = nullptr;

    decltype(&::swr_alloc_set_opts2) swr_alloc_set_opts2 = nullptr;
    decltype(&::swr_init) swr_init = nullptr;
    decltype(&::swr_convert) swr_convert = nullptr;
    decltype(&::swr_get_out_samples) swr_get_out_samples = nullptr;
    decltype(&::swr_free) swr_free = nullptr;

private:
    template <typename T> friend const T *loadedLibrary();
    FfmpegLibrary() = default;
    bool load();
};
