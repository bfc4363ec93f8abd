#include "PictureDecode.h"

#include "base/LibHandles.h"
#include "base/UnicodeProtocol.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace tarnel::test {

std::vector<double> DecodedPicture::Mean(int x, int y, int w, int h) const {
    std::vector<double> sums(3, 0.0);
    int count = 0;
    for (int row = y; row < y + h && row < height; ++row)
        for (int col = x; col < x + w && col < width; ++col, ++count)
            for (int c = 0; c < 3; ++c)
                sums[c] += rgb[(static_cast<size_t>(row) * width + col) * 3 + c];
    for (double& sum : sums)
        sum = count ? sum / count : 0;
    return sums;
}

std::vector<DecodedPicture> DecodePictures(const std::string& path) {
    std::vector<DecodedPicture> pictures;
    AVFormatContext* raw = nullptr;
    if (OpenInputContext(&raw, path, nullptr, nullptr) < 0)
        return pictures;
    InputContextPtr input(raw);
    avformat_find_stream_info(raw, nullptr);
    const int index = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        return pictures;
    const AVStream* stream = raw->streams[index];
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    CodecContextPtr codec(avcodec_alloc_context3(decoder));
    avcodec_parameters_to_context(codec.get(), stream->codecpar);
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0)
        return pictures;
    FramePtr frame = MakeFrame();
    PacketPtr packet = MakePacket();
    SwsContextPtr scaler;
    const auto receive = [&] {
        while (avcodec_receive_frame(codec.get(), frame.get()) >= 0) {
            DecodedPicture picture;
            const int64_t pts = frame->best_effort_timestamp;
            picture.time = pts == AV_NOPTS_VALUE ? 0 : pts * av_q2d(stream->time_base);
            picture.width = frame->width;
            picture.height = frame->height;
            picture.rgb.resize(static_cast<size_t>(frame->width) * frame->height * 3);
            scaler.reset(sws_getCachedContext(
                scaler.release(), frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                frame->width, frame->height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr, nullptr));
            uint8_t* planes[1] = {picture.rgb.data()};
            const int strides[1] = {frame->width * 3};
            sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
            pictures.push_back(std::move(picture));
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(raw, packet.get()) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(codec.get(), packet.get()) >= 0)
            receive();
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(codec.get(), nullptr);
    receive();
    return pictures;
}

} // namespace tarnel::test
