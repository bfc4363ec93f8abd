// One move-only owner per media-library type; each deleter is the library's own free function.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace tarnel {

namespace detail {
struct CodecContextFree {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct FrameFree {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFree {
    void operator()(SwsContext* p) const { sws_freeContext(p); }
};
struct SwrFree {
    void operator()(SwrContext* p) const { swr_free(&p); }
};
struct FilterGraphFree {
    void operator()(AVFilterGraph* p) const { avfilter_graph_free(&p); }
};
struct DictionaryFree {
    void operator()(AVDictionary* p) const { av_dict_free(&p); }
};
struct BsfFree {
    void operator()(AVBSFContext* p) const { av_bsf_free(&p); }
};
struct AudioFifoFree {
    void operator()(AVAudioFifo* p) const { av_audio_fifo_free(p); }
};
struct InputContextClose {
    void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};
struct FormatContextFree {
    void operator()(AVFormatContext* p) const { avformat_free_context(p); }
};
struct InOutFree {
    void operator()(AVFilterInOut* p) const { avfilter_inout_free(&p); }
};
struct LibraryFree {
    void operator()(void* p) const { av_free(p); }
};
} // namespace detail

// An opened input (avformat_open_input); closing also closes its byte stream.
using InputContextPtr = std::unique_ptr<AVFormatContext, detail::InputContextClose>;
// A format context that was only allocated (options, outputs before their byte stream is owned).
using FormatContextPtr = std::unique_ptr<AVFormatContext, detail::FormatContextFree>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, detail::CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, detail::FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, detail::PacketFree>;
using SwsContextPtr = std::unique_ptr<SwsContext, detail::SwsFree>;
using SwrContextPtr = std::unique_ptr<SwrContext, detail::SwrFree>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, detail::FilterGraphFree>;
using DictionaryPtr = std::unique_ptr<AVDictionary, detail::DictionaryFree>;
using BsfContextPtr = std::unique_ptr<AVBSFContext, detail::BsfFree>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, detail::AudioFifoFree>;
// An open end of a filter graph being parsed (avfilter_graph_parse_ptr's inputs and outputs).
using InOutPtr = std::unique_ptr<AVFilterInOut, detail::InOutFree>;
// Memory from av_malloc / av_strdup.
template <typename T = char>
using LibraryMemPtr = std::unique_ptr<T, detail::LibraryFree>;

// The open end `name` at pad 0 of `filter`, before `next` in the list; null when out of memory.
inline InOutPtr MakeInOut(const char* name, AVFilterContext* filter, InOutPtr next = nullptr) {
    InOutPtr inout(avfilter_inout_alloc());
    if (inout) {
        inout->name = av_strdup(name);
        inout->filter_ctx = filter;
        inout->pad_idx = 0;
        inout->next = next.release();
    }
    return inout;
}

inline FramePtr MakeFrame() {
    return FramePtr(av_frame_alloc());
}
inline PacketPtr MakePacket() {
    return PacketPtr(av_packet_alloc());
}
inline LibraryMemPtr<char> LibraryStrDup(const char* text) {
    return LibraryMemPtr<char>(av_strdup(text));
}

} // namespace tarnel
