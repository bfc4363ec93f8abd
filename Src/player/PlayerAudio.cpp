// The audio side of a playback session: SDL's audio callback decodes the audio queue into signed
// 16-bit samples, mixes them at the player's volume (or plays silence when muted), keeps the audio
// clock that paces the pictures and feeds the sample ring of the waveform display.
#include "base/FFUtils.h"
#include "base/FFmpegLogger.h"
#include "player/FFPlayer.h"
#include "player/PlaybackSession.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/time.h>
}

namespace tarnel {

namespace {

constexpr int kSilenceBytes = 1024;

void SDLCALL AudioCallback(void* userdata, Uint8* stream, int length) {
    FillAudioBlock(*static_cast<PlaybackSession*>(userdata), stream, length);
}

void Log(PlaybackSession& session, TLogLevel level, const std::string& text) {
    Logger().Log(&session.Player, level, text);
}

// The channel count the player plays: mono and stereo as they are, anything else as stereo.
int OutputChannels(const AVCodecContext* codec) {
    const int channels = codec->ch_layout.nb_channels;
    return channels == 1 || channels == 2 ? channels : 2;
}

bool PrepareConverter(PlaybackSession& session, const AVFrame* frame) {
    if (session.AudioConverter && session.ConverterFormat == frame->format &&
        session.ConverterRate == frame->sample_rate &&
        av_channel_layout_compare(&session.ConverterLayout, &frame->ch_layout) == 0)
        return true;
    session.AudioConverter.reset();
    av_channel_layout_uninit(&session.ConverterLayout);
    AVChannelLayout outLayout{};
    av_channel_layout_default(&outLayout, session.AudioChannels);
    SwrContext* converter = nullptr;
    int result =
        swr_alloc_set_opts2(&converter, &outLayout, AV_SAMPLE_FMT_S16, session.AudioSampleRate,
                            const_cast<AVChannelLayout*>(&frame->ch_layout),
                            static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&outLayout);
    if (result >= 0)
        result = swr_init(converter);
    if (result < 0) {
        swr_free(&converter);
        const char* from = av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format));
        Log(session, llError,
            Format("Cannot convert %s sample format to %s sample format", from ? from : "unknown",
                   av_get_sample_fmt_name(AV_SAMPLE_FMT_S16)));
        return false;
    }
    session.AudioConverter.reset(converter);
    session.ConverterFormat = frame->format;
    session.ConverterRate = frame->sample_rate;
    av_channel_layout_copy(&session.ConverterLayout, &frame->ch_layout);
    return true;
}

// Converts a decoded frame into the audio buffer; the byte count, or 0 when nothing came out.
int ConvertFrame(PlaybackSession& session, const AVFrame* frame) {
    if (!PrepareConverter(session, frame))
        return 0;
    const int capacity = swr_get_out_samples(session.AudioConverter.get(), frame->nb_samples);
    const size_t bytes = static_cast<size_t>(std::max(capacity, 0)) * 2 * session.AudioChannels;
    if (session.AudioBuffer.size() < std::max<size_t>(bytes, kSilenceBytes))
        session.AudioBuffer.resize(std::max<size_t>(bytes, kSilenceBytes));
    uint8_t* out = session.AudioBuffer.data();
    const int converted = swr_convert(session.AudioConverter.get(), &out, capacity,
                                      const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (converted < 0) {
        Log(session, llError, "av_audio_convert() failed");
        return 0;
    }
    return converted * 2 * session.AudioChannels;
}

void CopyToSampleRing(PlaybackSession& session, int bytes) {
    const int16_t* samples = reinterpret_cast<const int16_t*>(session.AudioBuffer.data());
    int count = bytes / 2;
    std::lock_guard lock(session.SampleRingMutex);
    while (count > 0) {
        const int piece = std::min(count, kSampleRingSize - session.SampleWriteIndex);
        std::memcpy(session.SampleRing.data() + session.SampleWriteIndex, samples, piece * sizeof(int16_t));
        samples += piece;
        count -= piece;
        session.SampleWriteIndex = (session.SampleWriteIndex + piece) % kSampleRingSize;
    }
}

// Takes the next packet for the decoder; false when there is none (paused, not started, aborted,
// empty).
bool TakePacket(PlaybackSession& session) {
    AVCodecContext* codec = session.AudioCodec.get();
    for (;;) {
        if (session.Paused || !session.Started || session.AudioQueue.Aborted())
            return false;
        if (session.AudioQueue.Get(session.AudioPacket.get(), false) <= 0)
            return false;
        if (!IsFlushMarker(session.AudioPacket.get()))
            break;
        av_packet_unref(session.AudioPacket.get());
        avcodec_flush_buffers(codec);
    }
    session.AudioPacketPending = true;
    return true;
}

// Decodes the next chunk into the audio buffer: its size in bytes, or -1 when there is none.
int DecodeChunk(PlaybackSession& session) {
    AVCodecContext* codec = session.AudioCodec.get();
    AVFrame* frame = session.AudioFrame.get();
    const double bytesPerSecond = 2.0 * session.AudioChannels * session.AudioSampleRate;
    for (;;) {
        if (avcodec_receive_frame(codec, frame) == 0) {
            if (frame->pts != AV_NOPTS_VALUE)
                session.AudioClock = frame->pts * av_q2d(session.AudioStream->time_base);
            const int bytes = ConvertFrame(session, frame);
            av_frame_unref(frame);
            if (bytes <= 0)
                continue;
            session.AudioClock = session.AudioClock + bytes / bytesPerSecond;
            return bytes;
        }
        if (session.AudioPacketPending) {
            const int sent = avcodec_send_packet(codec, session.AudioPacket.get());
            if (sent == AVERROR(EAGAIN))
                continue;
            if (sent < 0)
                Log(session, llInfo, "avcodec_decode_audio2() failed");
            av_packet_unref(session.AudioPacket.get());
            session.AudioPacketPending = false;
            continue;
        }
        if (!TakePacket(session))
            return -1;
    }
}

} // namespace

bool OpenAudioDevice(PlaybackSession& session) {
    const AVCodecContext* codec = session.AudioCodec.get();
    SDL_AudioSpec wanted{};
    wanted.freq = codec->sample_rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = static_cast<Uint8>(OutputChannels(codec));
    wanted.silence = 0;
    wanted.samples = 1024;
    wanted.callback = &AudioCallback;
    wanted.userdata = &session;
    {
        std::lock_guard lock(session.AudioMutex);
        session.AudioSampleRate = codec->sample_rate;
        session.AudioChannels = wanted.channels;
        session.AudioBuffer.assign(kAudioBufferSize, 0);
        session.AudioFrame = MakeFrame();
        session.AudioPacket = MakePacket();
    }
    if (wanted.freq <= 0)
        return false;
    SDL_AudioSpec obtained{};
    session.AudioDevice = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    return session.AudioDevice != 0;
}

void CloseAudioDevice(PlaybackSession& session) {
    if (session.AudioDevice)
        SDL_CloseAudioDevice(session.AudioDevice);
    session.AudioDevice = 0;
    std::lock_guard lock(session.AudioMutex);
    if (session.AudioPacket)
        av_packet_unref(session.AudioPacket.get());
    session.AudioPacketPending = false;
    session.AudioConverter.reset();
    av_channel_layout_uninit(&session.ConverterLayout);
}

double AudioClock(const PlaybackSession& session) {
    const double bytesPerSecond = 2.0 * session.AudioChannels * session.AudioSampleRate;
    const double clock = session.AudioClock;
    if (bytesPerSecond <= 0)
        return clock;
    return clock - (session.AudioBufferSize - session.AudioBufferIndex) / bytesPerSecond;
}

void FillAudioBlock(PlaybackSession& session, uint8_t* stream, int length) {
    session.CallbackTime = av_gettime_relative();
    // SDL 2 hands the block over uninitialised: start from silence and mix into it.
    std::memset(stream, 0, length);
    std::lock_guard lock(session.AudioMutex);
    while (length > 0) {
        if (session.AudioBufferIndex >= session.AudioBufferSize) {
            const int chunk = DecodeChunk(session);
            if (session.AudioQueue.Aborted())
                return;
            if (chunk < 0) {
                std::memset(session.AudioBuffer.data(), 0, kSilenceBytes);
                session.AudioBufferSize = kSilenceBytes;
            } else {
                if (session.ShowAudio)
                    CopyToSampleRing(session, chunk);
                session.AudioBufferSize = chunk;
            }
            session.AudioBufferIndex = 0;
        }
        const int n = std::min(session.AudioBufferSize - session.AudioBufferIndex, length);
        if (!session.Player.Mute())
            SDL_MixAudioFormat(stream, session.AudioBuffer.data() + session.AudioBufferIndex, AUDIO_S16SYS,
                               static_cast<Uint32>(n), session.Player.AudioVolume());
        stream += n;
        length -= n;
        session.AudioBufferIndex += n;
    }
}

} // namespace tarnel
