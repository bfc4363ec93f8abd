#include "MediaInspect.h"

#include "base/LibHandles.h"
#include "base/UnicodeProtocol.h"

#include <algorithm>
#include <cctype>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace tarnel::test {

const StreamFacts* MediaFacts::First(const std::string& type) const {
    for (const StreamFacts& stream : streams)
        if (stream.type == type)
            return &stream;
    return nullptr;
}

int MediaFacts::Count(const std::string& type) const {
    return static_cast<int>(std::count_if(streams.begin(), streams.end(),
                                          [&](const StreamFacts& stream) { return stream.type == type; }));
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
        if (p->codec_type == AVMEDIA_TYPE_VIDEO && p->format >= 0)
            stream.pixelFormat = av_get_pix_fmt_name(static_cast<AVPixelFormat>(p->format));
        if (const AVDictionaryEntry* language =
                av_dict_get(raw->streams[i]->metadata, "language", nullptr, 0))
            stream.language = language->value;
        stream.attachedPicture = (raw->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
        stream.displayMatrix =
            av_stream_get_side_data(raw->streams[i], AV_PKT_DATA_DISPLAYMATRIX, nullptr) != nullptr;
        facts.streams.push_back(stream);
    }
    for (const AVDictionaryEntry* tag = nullptr;
         (tag = av_dict_get(raw->metadata, "", tag, AV_DICT_IGNORE_SUFFIX)) != nullptr;) {
        std::string key = tag->key;
        std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
        facts.tags[key] = tag->value;
    }
    facts.chapters = static_cast<int>(raw->nb_chapters);
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
