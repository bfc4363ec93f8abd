#include "MediaInspect.h"

#include "base/LibHandles.h"
#include "base/UnicodeProtocol.h"

namespace tarnel::test {

const StreamFacts* MediaFacts::First(const std::string& type) const {
    for (const StreamFacts& stream : streams)
        if (stream.type == type)
            return &stream;
    return nullptr;
}

MediaFacts InspectMedia(const std::string& path) {
    MediaFacts facts;
    AVFormatContext* raw = nullptr;
    if (OpenInputContext(&raw, path, nullptr, nullptr) < 0)
        return facts;
    InputContextPtr context(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0)
        return facts;
    facts.opened = true;
    facts.format = raw->iformat->name;
    facts.duration = raw->duration == AV_NOPTS_VALUE ? -1 : raw->duration / 1e6;
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        const AVCodecParameters* p = raw->streams[i]->codecpar;
        StreamFacts stream;
        const char* type = av_get_media_type_string(p->codec_type);
        stream.type = type ? type : "unknown";
        stream.codec = avcodec_get_name(p->codec_id);
        stream.width = p->width;
        stream.profile = p->profile;
        stream.level = p->level;
        stream.height = p->height;
        stream.sampleRate = p->sample_rate;
        stream.channels = p->ch_layout.nb_channels;
        stream.sampleAspectNum = p->sample_aspect_ratio.num;
        stream.sampleAspectDen = p->sample_aspect_ratio.den;
        facts.streams.push_back(stream);
    }
    PacketPtr packet = MakePacket();
    while (av_read_frame(raw, packet.get()) >= 0) {
        const int index = packet->stream_index;
        if (index >= 0 && index < static_cast<int>(facts.streams.size())) {
            StreamFacts& stream = facts.streams[index];
            const double timeBase = av_q2d(raw->streams[index]->time_base);
            stream.packets += 1;
            if (packet->pts != AV_NOPTS_VALUE) {
                if (stream.firstTime < 0 && stream.packets == 1)
                    stream.firstTime = packet->pts * timeBase;
                stream.endTime = std::max(stream.endTime, (packet->pts + packet->duration) * timeBase);
            }
        }
        av_packet_unref(packet.get());
    }
    return facts;
}

} // namespace tarnel::test
