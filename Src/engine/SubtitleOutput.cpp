// Decoded subtitles re-encoded for one output stream.
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"

namespace tarnel {

namespace {

constexpr int kSubtitleBufferBytes = 1048576;

} // namespace

void TCustomFFmpeg::DoSubtitleOut(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& /*ist*/,
                                  AVSubtitle& subtitle, int64_t pts) {
    if (pts == AV_NOPTS_VALUE) {
        if (Opt.ExitOnError)
            throw FFmpegException("Subtitle packets must have a pts");
        Logger().Log(this, llError, "Subtitle packets must have a pts");
        return;
    }
    if (SubtitleBuffer.size() < kSubtitleBufferBytes)
        SubtitleBuffer.resize(kSubtitleBufferBytes);
    AVCodecContext* codec = ost.Codec;
    // DVB subtitles are written twice: once to draw them and once to clear them.
    const int count = codec->codec_id == AV_CODEC_ID_DVB_SUBTITLE ? 2 : 1;
    for (int i = 0; i < count; ++i) {
        subtitle.pts = pts + av_rescale_q(subtitle.start_display_time, {1, 1000}, kMicrosecondBase);
        subtitle.end_display_time -= subtitle.start_display_time;
        subtitle.start_display_time = 0;
        if (i == 1)
            subtitle.num_rects = 0;
        const int size =
            avcodec_encode_subtitle(codec, SubtitleBuffer.data(), kSubtitleBufferBytes, &subtitle);
        if (size < 0)
            throw FFmpegException("Subtitle encoding failed");
        AVPacket* packet = run.EncodedPacket.get();
        if (av_new_packet(packet, size) < 0)
            throw FFmpegException("Subtitle encoding failed");
        std::copy_n(SubtitleBuffer.data(), size, packet->data);
        packet->pts = av_rescale_q(subtitle.pts, kMicrosecondBase, ost.Stream->time_base);
        packet->duration = av_rescale_q(subtitle.end_display_time, {1, 1000}, ost.Stream->time_base);
        if (codec->codec_id == AV_CODEC_ID_DVB_SUBTITLE)
            packet->pts += av_rescale_q(i == 0 ? subtitle.start_display_time : subtitle.end_display_time,
                                        {1, 1000}, ost.Stream->time_base);
        packet->dts = packet->pts;
        WritePacket(ost, packet);
        av_packet_unref(packet);
        ost.FrameNumber += 1;
    }
}

} // namespace tarnel
