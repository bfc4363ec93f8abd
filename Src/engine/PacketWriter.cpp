// Writing an output packet: through the stream's bitstream filters into the interleaving writer.
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"

namespace tarnel {

namespace {

void RememberMuxTime(TOutputStreamState& ost, const AVPacket* packet) {
    const int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (time == AV_NOPTS_VALUE)
        return;
    const int64_t end = time + std::max<int64_t>(packet->duration, 0);
    if (ost.MuxTime == AV_NOPTS_VALUE || end > ost.MuxTime)
        ost.MuxTime = end;
}

// Muxers refuse decoding times that go backwards. They can where inputs are joined or where a
// stream's timestamps jump; such a packet is moved just after the previous one.
void KeepDtsIncreasing(TOutputStreamState& ost, AVPacket* packet) {
    if (packet->dts == AV_NOPTS_VALUE || ost.LastDts == AV_NOPTS_VALUE || packet->dts > ost.LastDts)
        return;
    const int64_t shift = ost.LastDts + 1 - packet->dts;
    packet->dts += shift;
    if (packet->pts != AV_NOPTS_VALUE && packet->pts < packet->dts)
        packet->pts = packet->dts;
}

void WriteToMuxer(TOutputStreamState& ost, AVPacket* packet) {
    KeepDtsIncreasing(ost, packet);
    if (packet->dts != AV_NOPTS_VALUE)
        ost.LastDts = packet->dts;
    RememberMuxTime(ost, packet);
    const int ret = av_interleaved_write_frame(ost.File->Context, packet);
    if (ret < 0)
        throw FFmpegException(std::string("av_interleaved_write_frame()") + ": " + LibraryErrorText(ret));
}

} // namespace

void TCustomFFmpeg::WritePacket(TOutputStreamState& ost, AVPacket* packet) {
    packet->stream_index = ost.Stream->index;
    if (ost.Bitstreamfilters.empty()) {
        WriteToMuxer(ost, packet);
        return;
    }
    // A packet may come out of the chain as several (or none); each is written in turn.
    std::vector<PacketPtr> pending;
    pending.push_back(MakePacket());
    av_packet_move_ref(pending.back().get(), packet);
    for (const BsfContextPtr& filter : ost.Bitstreamfilters) {
        std::vector<PacketPtr> filtered;
        for (PacketPtr& input : pending) {
            int ret = av_bsf_send_packet(filter.get(), input.get());
            while (ret >= 0) {
                PacketPtr output = MakePacket();
                ret = av_bsf_receive_packet(filter.get(), output.get());
                if (ret >= 0)
                    filtered.push_back(std::move(output));
            }
            if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) {
                const std::string message =
                    Format("%s failed for stream %d, codec %s", filter->filter->name, ost.Stream->index,
                           ost.Setup->StreamCopy || !ost.Codec->codec ? "copy" : ost.Codec->codec->name) +
                    ": " + LibraryErrorText(ret);
                if (Opt.ExitOnError)
                    throw FFmpegException(message);
                Logger().Log(this, llError, message);
            }
        }
        pending = std::move(filtered);
    }
    for (PacketPtr& output : pending) {
        output->stream_index = ost.Stream->index;
        WriteToMuxer(ost, output.get());
    }
}

} // namespace tarnel
