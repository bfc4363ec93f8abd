// 1080p H.264 + AAC → 720p H.264 (libx264) + AAC: the engine against a bare pipeline written here on
// the same libraries with the same settings (demux → decode → scale → encode → mux, nothing else).
// Each measurement runs in its own process, so its peak memory is its own; the two sides alternate
// and the median ratio is printed. Then the engine with an identity RGB hook and with preview
// bitmaps at the default interval. When HandBrakeCLI is on the PATH it runs the same job as a fourth
// side (x264 veryfast at the same constant quality, 1280 × 720 uncropped with square pixels, constant
// 25 pictures/s, AAC at the same bit rate, MP4), also in its own process, alternating with the others.
//
// Usage: TranscodeBench [work folder] [runs per side]
#include "BenchSupport.h"
#include "base/Bitmap.h"
#include "base/FFmpegLoader.h"
#include "base/LibHandles.h"
#include "engine/FFmpeg.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <numbers>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace tarnel;
using bench::Median;

namespace {

// The settings both sides use.
constexpr int kSourceWidth = 1920, kSourceHeight = 1080, kFps = 25, kSeconds = 10;
constexpr int kTargetWidth = 1280, kTargetHeight = 720;
constexpr int kAudioRate = 48000, kAudioBitRate = 128000;
constexpr const char* kPreset = "veryfast";
constexpr int kCrf = 23;                  // constant quality: libx264's own default, set on every side
constexpr int kScalerFlags = SWS_BICUBIC; // the engine's default

void Check(int ret, const char* what) {
    if (ret < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(ret, text, sizeof text);
        throw std::runtime_error(std::string(what) + ": " + text);
    }
}

// A muxer with one encoder per stream; packets are rescaled and interleaved.
struct Muxer {
    FormatContextPtr context;
    void Open(const std::string& path) {
        AVFormatContext* raw = nullptr;
        Check(avformat_alloc_output_context2(&raw, nullptr, nullptr, path.c_str()), "output format");
        context.reset(raw);
    }
    AVStream* Add(AVCodecContext* codec) {
        AVStream* stream = avformat_new_stream(context.get(), nullptr);
        Check(avcodec_parameters_from_context(stream->codecpar, codec), "stream parameters");
        stream->time_base = codec->time_base;
        return stream;
    }
    void Start(const std::string& path) {
        Check(avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE), "open output");
        Check(avformat_write_header(context.get(), nullptr), "header");
    }
    void Finish() {
        Check(av_write_trailer(context.get()), "trailer");
        avio_closep(&context->pb);
    }
};

// Sends `frame` (null: the end) and writes what comes out.
void EncodeTo(AVCodecContext* codec, AVFrame* frame, AVFormatContext* output, AVStream* stream,
              AVPacket* packet) {
    Check(avcodec_send_frame(codec, frame), "encode");
    int ret;
    while ((ret = avcodec_receive_packet(codec, packet)) >= 0) {
        av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        Check(av_interleaved_write_frame(output, packet), "write");
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
        Check(ret, "encode");
}

CodecContextPtr VideoEncoder(const char* name, int width, int height, AVDictionary** options, bool global) {
    const AVCodec* encoder = avcodec_find_encoder_by_name(name);
    if (!encoder)
        throw std::runtime_error(std::string("no encoder ") + name);
    CodecContextPtr codec(avcodec_alloc_context3(encoder));
    codec->width = width;
    codec->height = height;
    codec->pix_fmt = AV_PIX_FMT_YUV420P;
    codec->time_base = {1, kFps};
    codec->framerate = {kFps, 1};
    codec->sample_aspect_ratio = {1, 1};
    codec->thread_count = 0;
    if (global)
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Check(avcodec_open2(codec.get(), encoder, options), "open video encoder");
    return codec;
}

CodecContextPtr AudioEncoder(bool global) {
    const AVCodec* encoder = avcodec_find_encoder_by_name("aac");
    CodecContextPtr codec(avcodec_alloc_context3(encoder));
    codec->sample_rate = kAudioRate;
    codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    codec->bit_rate = kAudioBitRate;
    codec->time_base = {1, kAudioRate};
    codec->thread_count = 0;
    av_channel_layout_default(&codec->ch_layout, 2);
    if (global)
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Check(avcodec_open2(codec.get(), encoder, nullptr), "open audio encoder");
    return codec;
}

// The source clip: a moving pattern and a tone, made once.
void MakeSource(const std::string& path) {
    Muxer muxer;
    muxer.Open(path);
    const bool global = muxer.context->oformat->flags & AVFMT_GLOBALHEADER;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", "ultrafast", 0);
    CodecContextPtr video = VideoEncoder("libx264", kSourceWidth, kSourceHeight, &options, global);
    av_dict_free(&options);
    CodecContextPtr audio = AudioEncoder(global);
    AVStream* videoStream = muxer.Add(video.get());
    AVStream* audioStream = muxer.Add(audio.get());
    muxer.Start(path);
    PacketPtr packet = MakePacket();
    FramePtr picture = MakeFrame();
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = kSourceWidth;
    picture->height = kSourceHeight;
    Check(av_frame_get_buffer(picture.get(), 0), "picture");
    FramePtr samples = MakeFrame();
    samples->format = AV_SAMPLE_FMT_FLTP;
    samples->nb_samples = audio->frame_size;
    samples->sample_rate = kAudioRate;
    av_channel_layout_default(&samples->ch_layout, 2);
    Check(av_frame_get_buffer(samples.get(), 0), "samples");
    int64_t audioPts = 0;
    for (int n = 0; n < kFps * kSeconds; ++n) {
        Check(av_frame_make_writable(picture.get()), "picture");
        for (int y = 0; y < kSourceHeight; ++y)
            for (int x = 0; x < kSourceWidth; ++x)
                picture->data[0][y * picture->linesize[0] + x] = static_cast<uint8_t>(x + y + 3 * n);
        for (int p = 1; p < 3; ++p)
            for (int y = 0; y < kSourceHeight / 2; ++y)
                for (int x = 0; x < kSourceWidth / 2; ++x)
                    picture->data[p][y * picture->linesize[p] + x] =
                        static_cast<uint8_t>(128 + p * (x - y + n));
        picture->pts = n;
        EncodeTo(video.get(), picture.get(), muxer.context.get(), videoStream, packet.get());
        while (audioPts < int64_t{kAudioRate} * (n + 1) / kFps) {
            Check(av_frame_make_writable(samples.get()), "samples");
            for (int c = 0; c < 2; ++c) {
                auto* data = reinterpret_cast<float*>(samples->data[c]);
                for (int i = 0; i < samples->nb_samples; ++i)
                    data[i] =
                        0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 * (c + 1) *
                                                           static_cast<double>(audioPts + i) / kAudioRate));
            }
            samples->pts = audioPts;
            audioPts += samples->nb_samples;
            EncodeTo(audio.get(), samples.get(), muxer.context.get(), audioStream, packet.get());
        }
    }
    EncodeTo(video.get(), nullptr, muxer.context.get(), videoStream, packet.get());
    EncodeTo(audio.get(), nullptr, muxer.context.get(), audioStream, packet.get());
    muxer.Finish();
}

// How much of the bare pipeline runs: everything, only demuxing and decoding, or those and scaling;
// the differences give each stage's share of a picture's time.
enum class Stages { All, Decode, DecodeScale };

// The bare pipeline.
void BarePipeline(const std::string& input, const std::string& output, Stages stages = Stages::All) {
    AVFormatContext* rawInput = nullptr;
    Check(avformat_open_input(&rawInput, input.c_str(), nullptr, nullptr), "open input");
    InputContextPtr demuxer(rawInput);
    Check(avformat_find_stream_info(rawInput, nullptr), "stream info");
    const int videoIndex = av_find_best_stream(rawInput, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int audioIndex = av_find_best_stream(rawInput, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    Check(videoIndex, "video stream");
    Check(audioIndex, "audio stream");
    auto openDecoder = [&](int index) {
        const AVCodecParameters* parameters = rawInput->streams[index]->codecpar;
        const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
        CodecContextPtr codec(avcodec_alloc_context3(decoder));
        Check(avcodec_parameters_to_context(codec.get(), parameters), "decoder parameters");
        codec->thread_count = 0;
        Check(avcodec_open2(codec.get(), decoder, nullptr), "open decoder");
        return codec;
    };
    CodecContextPtr videoDecoder = openDecoder(videoIndex);
    CodecContextPtr audioDecoder = openDecoder(audioIndex);
    const AVRational videoTimeBase = rawInput->streams[videoIndex]->time_base;

    Muxer muxer;
    muxer.Open(output);
    const bool global = muxer.context->oformat->flags & AVFMT_GLOBALHEADER;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", kPreset, 0);
    av_dict_set(&options, "crf", std::to_string(kCrf).c_str(), 0);
    CodecContextPtr videoEncoder = VideoEncoder("libx264", kTargetWidth, kTargetHeight, &options, global);
    av_dict_free(&options);
    CodecContextPtr audioEncoder = AudioEncoder(global);
    AVStream* videoStream = muxer.Add(videoEncoder.get());
    AVStream* audioStream = muxer.Add(audioEncoder.get());
    muxer.Start(output);

    SwsContextPtr scaler(sws_getContext(videoDecoder->width, videoDecoder->height, videoDecoder->pix_fmt,
                                        kTargetWidth, kTargetHeight, AV_PIX_FMT_YUV420P, kScalerFlags,
                                        nullptr, nullptr, nullptr));
    SwrContextPtr resampler;
    AudioFifoPtr fifo(av_audio_fifo_alloc(audioEncoder->sample_fmt, 2, audioEncoder->frame_size));
    FramePtr decoded = MakeFrame();
    FramePtr scaled = MakeFrame();
    FramePtr converted = MakeFrame();
    FramePtr encoderFrame = MakeFrame();
    PacketPtr packet = MakePacket();
    PacketPtr encoded = MakePacket();
    int64_t audioPts = 0;

    auto encodeAudioFrames = [&](bool last) {
        if (stages != Stages::All) {
            av_audio_fifo_reset(fifo.get());
            return;
        }
        const int frameSize = audioEncoder->frame_size;
        while (av_audio_fifo_size(fifo.get()) >= frameSize || (last && av_audio_fifo_size(fifo.get()) > 0)) {
            av_frame_unref(encoderFrame.get());
            encoderFrame->format = audioEncoder->sample_fmt;
            encoderFrame->sample_rate = kAudioRate;
            encoderFrame->nb_samples = std::min(frameSize, av_audio_fifo_size(fifo.get()));
            av_channel_layout_copy(&encoderFrame->ch_layout, &audioEncoder->ch_layout);
            Check(av_frame_get_buffer(encoderFrame.get(), 0), "audio frame");
            av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(encoderFrame->extended_data),
                               encoderFrame->nb_samples);
            encoderFrame->pts = audioPts;
            audioPts += encoderFrame->nb_samples;
            EncodeTo(audioEncoder.get(), encoderFrame.get(), muxer.context.get(), audioStream, encoded.get());
        }
    };
    auto receiveVideo = [&] {
        while (avcodec_receive_frame(videoDecoder.get(), decoded.get()) >= 0) {
            if (stages == Stages::Decode) {
                av_frame_unref(decoded.get());
                continue;
            }
            av_frame_unref(scaled.get());
            scaled->format = AV_PIX_FMT_YUV420P;
            scaled->width = kTargetWidth;
            scaled->height = kTargetHeight;
            Check(av_frame_get_buffer(scaled.get(), 0), "scaled picture");
            sws_scale(scaler.get(), decoded->data, decoded->linesize, 0, decoded->height, scaled->data,
                      scaled->linesize);
            scaled->pts =
                av_rescale_q(decoded->best_effort_timestamp, videoTimeBase, videoEncoder->time_base);
            if (stages != Stages::All) {
                av_frame_unref(decoded.get());
                continue;
            }
            EncodeTo(videoEncoder.get(), scaled.get(), muxer.context.get(), videoStream, encoded.get());
            av_frame_unref(decoded.get());
        }
    };
    auto receiveAudio = [&] {
        while (avcodec_receive_frame(audioDecoder.get(), decoded.get()) >= 0) {
            const bool same = decoded->format == audioEncoder->sample_fmt &&
                              decoded->sample_rate == kAudioRate &&
                              av_channel_layout_compare(&decoded->ch_layout, &audioEncoder->ch_layout) == 0;
            if (same) {
                av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(decoded->extended_data),
                                    decoded->nb_samples);
            } else {
                if (!resampler) {
                    SwrContext* swr = nullptr;
                    Check(swr_alloc_set_opts2(&swr, &audioEncoder->ch_layout, audioEncoder->sample_fmt,
                                              kAudioRate, &decoded->ch_layout,
                                              static_cast<AVSampleFormat>(decoded->format),
                                              decoded->sample_rate, 0, nullptr),
                          "resampler");
                    resampler.reset(swr);
                    Check(swr_init(swr), "resampler");
                }
                av_frame_unref(converted.get());
                converted->format = audioEncoder->sample_fmt;
                converted->sample_rate = kAudioRate;
                av_channel_layout_copy(&converted->ch_layout, &audioEncoder->ch_layout);
                Check(swr_convert_frame(resampler.get(), converted.get(), decoded.get()), "resample");
                av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(converted->extended_data),
                                    converted->nb_samples);
            }
            av_frame_unref(decoded.get());
            encodeAudioFrames(false);
        }
    };
    while (av_read_frame(rawInput, packet.get()) >= 0) {
        if (packet->stream_index == videoIndex) {
            Check(avcodec_send_packet(videoDecoder.get(), packet.get()), "decode video");
            receiveVideo();
        } else if (packet->stream_index == audioIndex) {
            Check(avcodec_send_packet(audioDecoder.get(), packet.get()), "decode audio");
            receiveAudio();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(videoDecoder.get(), nullptr);
    receiveVideo();
    avcodec_send_packet(audioDecoder.get(), nullptr);
    receiveAudio();
    encodeAudioFrames(true);
    EncodeTo(videoEncoder.get(), nullptr, muxer.context.get(), videoStream, encoded.get());
    EncodeTo(audioEncoder.get(), nullptr, muxer.context.get(), audioStream, encoded.get());
    muxer.Finish();
}

enum class Extra { None, IdentityHook, Preview, Sequential };

// The engine with the same settings; returns how many hook or preview calls it made.
int EngineRun(const std::string& input, const std::string& output, Extra extra) {
    TCustomFFmpeg engine;
    engine.Reset();
    if (!engine.AddInputFile(input))
        throw std::runtime_error(engine.LastError());
    engine.SetOption("s", std::to_string(kTargetWidth) + "x" + std::to_string(kTargetHeight));
    engine.SetOption("vcodec", "libx264");
    engine.SetOption("preset", kPreset);
    engine.SetOption("crf", std::to_string(kCrf));
    engine.SetOption("acodec", "aac");
    engine.SetOption("ab", std::to_string(kAudioBitRate));
    engine.SetOption("ar", std::to_string(kAudioRate));
    engine.SetOption("ac", "2");
    engine.SetPipeline(extra != Extra::Sequential);
    std::atomic<int> calls{0};
    if (extra == Extra::IdentityHook)
        engine.HookCallback = [&calls](TCustomFFmpeg&, TBitmap&, bool&, bool& update, int64_t, int32_t) {
            update = true;
            ++calls;
        };
    if (extra == Extra::Preview) {
        engine.SetPreviewFlags(2);
        engine.PreviewCallback = [&calls](TCustomFFmpeg&, TBitmap&, int64_t, int32_t) {
            ++calls;
        };
    }
    if (engine.AddOutputFile(output) < 0)
        throw std::runtime_error(engine.LastError());
    engine.Start(false);
    if (engine.ErrorOccurred())
        throw std::runtime_error(engine.ErrorMessage());
    return calls;
}

struct Measurement {
    double seconds = 0;
    double cpuSeconds = 0; // user + system: less disturbed than wall time on a busy machine
    long peakKiB = 0;
    int calls = 0;
};

// Runs `work` in a child process: wall time and calls through a pipe, peak memory from the kernel.
Measurement Measure(const std::function<int()>& work) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        throw std::runtime_error("pipe");
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        double result[2] = {-1, 0};
        try {
            const int64_t start = av_gettime_relative();
            const int calls = work();
            result[0] = static_cast<double>(av_gettime_relative() - start) / 1e6;
            result[1] = calls;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "failed: %s\n", e.what());
        }
        if (write(pipeEnds[1], result, sizeof result) != static_cast<ssize_t>(sizeof result))
            _exit(2);
        _exit(0);
    }
    close(pipeEnds[1]);
    double result[2] = {-1, 0};
    const ssize_t got = read(pipeEnds[0], result, sizeof result);
    close(pipeEnds[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (got != static_cast<ssize_t>(sizeof result) || result[0] < 0)
        throw std::runtime_error("measurement failed");
    return {result[0], bench::CpuSeconds(usage), usage.ru_maxrss, static_cast<int>(result[1])};
}

long MaxPeak(const std::vector<Measurement>& runs) {
    long peak = 0;
    for (const Measurement& m : runs)
        peak = std::max(peak, m.peakKiB);
    return peak;
}

// Whether `program` is an executable file in a folder of the PATH.
bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    size_t start = 0;
    while (start <= folders.size()) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = folders.substr(start, end - start);
        const std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// The HandBrakeCLI arguments for the same job: x264 veryfast at constant quality kCrf, 1280 × 720
// with no cropping and square pixels, constant 25 pictures/s (the source's), the first audio track
// as stereo AAC at the same bit rate and sample rate, MP4. Threads are left to the encoders, as on
// the engine side (thread count 0). `scanOnly`: read and scan the source, encode nothing.
std::vector<std::string> HandBrakeArguments(const std::string& input, const std::string& output,
                                            bool scanOnly) {
    std::vector<std::string> args = {"HandBrakeCLI", "-i", input, "--min-duration", "0"};
    if (scanOnly) {
        args.insert(args.end(), {"--scan", "-t", "1"});
        return args;
    }
    const auto add = [&args](std::initializer_list<std::string> more) {
        args.insert(args.end(), more);
    };
    add({"-o", output, "-f", "av_mp4"});
    add({"-e", "x264", "--encoder-preset", kPreset, "-q", std::to_string(kCrf)});
    add({"-w", std::to_string(kTargetWidth), "-l", std::to_string(kTargetHeight)});
    add({"--crop", "0:0:0:0", "--non-anamorphic"});
    add({"-r", std::to_string(kFps), "--cfr"});
    add({"-a", "1", "-E", "av_aac", "-B", std::to_string(kAudioBitRate / 1000)});
    add({"-R", std::to_string(kAudioRate / 1000), "-6", "stereo"});
    return args;
}

// Runs `args` as a child process with its output going to `log`: wall time from fork to the end of
// wait4 (so it includes the program's start), processor time and peak memory from the child's rusage.
Measurement MeasureProgram(const std::vector<std::string>& args, const std::string& log) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int64_t start = av_gettime_relative();
    const pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("fork");
    if (child == 0) {
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            close(fd);
        }
        const int devNull = open("/dev/null", O_RDONLY);
        if (devNull >= 0) {
            dup2(devNull, STDIN_FILENO);
            close(devNull);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0)
        if (errno != EINTR)
            throw std::runtime_error("wait4");
    const double seconds = static_cast<double>(av_gettime_relative() - start) / 1e6;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(args[0] + " failed (status " + std::to_string(status) + "), see " + log);
    return {seconds, bench::CpuSeconds(usage), usage.ru_maxrss, 0};
}

// What an output holds, read back with the libraries: picture size, frame rate, pictures, audio.
std::string Describe(const std::string& path) {
    AVFormatContext* raw = nullptr;
    Check(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), "open output for reading");
    InputContextPtr input(raw);
    Check(avformat_find_stream_info(raw, nullptr), "output stream info");
    std::string text;
    int videoPackets = 0;
    const int video = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int audio = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    PacketPtr packet = MakePacket();
    while (av_read_frame(raw, packet.get()) >= 0) {
        videoPackets += packet->stream_index == video;
        av_packet_unref(packet.get());
    }
    char line[256];
    if (video >= 0) {
        const AVStream* s = raw->streams[video];
        std::snprintf(line, sizeof line, "%s %dx%d SAR %d:%d, %d/%d fps, %d pictures",
                      avcodec_get_name(s->codecpar->codec_id), s->codecpar->width, s->codecpar->height,
                      s->codecpar->sample_aspect_ratio.num, s->codecpar->sample_aspect_ratio.den,
                      s->avg_frame_rate.num, s->avg_frame_rate.den, videoPackets);
        text += line;
    }
    if (audio >= 0) {
        const AVStream* s = raw->streams[audio];
        std::snprintf(line, sizeof line, "; %s %d Hz %d ch %ld kbit/s",
                      avcodec_get_name(s->codecpar->codec_id), s->codecpar->sample_rate,
                      s->codecpar->ch_layout.nb_channels, static_cast<long>(s->codecpar->bit_rate / 1000));
        text += line;
    }
    std::snprintf(line, sizeof line, "; %.2f s, %.2f MB", raw->duration / 1e6,
                  static_cast<double>(std::filesystem::file_size(path)) / 1e6);
    return text + line;
}

// Median, lowest and highest of `values`, as "median (low–high)".
std::string Spread(const std::vector<double>& values) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f (%.3f-%.3f)", Median(values),
                  *std::min_element(values.begin(), values.end()),
                  *std::max_element(values.begin(), values.end()));
    return text;
}

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path dir =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path() / "tarnel-bench";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::filesystem::create_directories(dir);
    if (!Loader().LoadSet(kConverterLibraries)) {
        std::fprintf(stderr, "libraries: %s\n", Loader().LastLoadError().c_str());
        return 1;
    }
    av_log_set_level(AV_LOG_ERROR);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string source = (dir / "source-1080p.mp4").string();
    try {
        if (!std::filesystem::exists(source)) {
            std::printf("making %s (%d s of %dx%d H.264 + AAC)\n", source.c_str(), kSeconds, kSourceWidth,
                        kSourceHeight);
            MakeSource(source);
        }
        const std::string bareOut = (dir / "bare.mp4").string();
        const std::string engineOut = (dir / "engine.mp4").string();
        const std::string sequentialOut = (dir / "sequential.mp4").string();
        const std::string stagesOut = (dir / "stages.mp4").string(); // the partial runs' (incomplete) output
        const std::string handBrakeOut = (dir / "handbrake.mp4").string();
        const std::string handBrakeLog = (dir / "handbrake.log").string();
        const bool handBrake = OnPath("HandBrakeCLI");
        if (!handBrake)
            std::printf("HandBrakeCLI is not on the PATH: its side is skipped "
                        "(scripts/install-deps.sh bench installs it)\n");
        std::vector<Measurement> bare, engine, sequential, handBrakeRuns, hook, preview, decode, decodeScale;
        std::vector<double> ratios, cpuRatios, sequentialRatios, pipelinedSequential, pipelinedSequentialPeak,
            handBrakeRatios, handBrakeCpuRatios, handBrakePeakRatios, sequentialHandBrakeRatios;
        for (int i = 0; i < runs; ++i) {
            bare.push_back(Measure([&] {
                BarePipeline(source, bareOut);
                return 0;
            }));
            engine.push_back(Measure([&] { return EngineRun(source, engineOut, Extra::None); }));
            sequential.push_back(
                Measure([&] { return EngineRun(source, sequentialOut, Extra::Sequential); }));
            ratios.push_back(engine.back().seconds / bare.back().seconds);
            cpuRatios.push_back(engine.back().cpuSeconds / bare.back().cpuSeconds);
            sequentialRatios.push_back(sequential.back().seconds / bare.back().seconds);
            pipelinedSequential.push_back(engine.back().seconds / sequential.back().seconds);
            pipelinedSequentialPeak.push_back(static_cast<double>(engine.back().peakKiB) /
                                              static_cast<double>(sequential.back().peakKiB));
            std::printf(
                "run %d: bare %.2f s (cpu %.2f s), engine %.2f s (cpu %.2f s), ratio %.3f (cpu %.3f), "
                "sequential engine %.2f s, ratio %.3f\n",
                i + 1, bare.back().seconds, bare.back().cpuSeconds, engine.back().seconds,
                engine.back().cpuSeconds, ratios.back(), cpuRatios.back(), sequential.back().seconds,
                sequentialRatios.back());
            if (handBrake) {
                handBrakeRuns.push_back(
                    MeasureProgram(HandBrakeArguments(source, handBrakeOut, false), handBrakeLog));
                const Measurement& h = handBrakeRuns.back();
                handBrakeRatios.push_back(engine.back().seconds / h.seconds);
                handBrakeCpuRatios.push_back(engine.back().cpuSeconds / h.cpuSeconds);
                handBrakePeakRatios.push_back(static_cast<double>(engine.back().peakKiB) /
                                              static_cast<double>(h.peakKiB));
                sequentialHandBrakeRatios.push_back(sequential.back().seconds / h.seconds);
                std::printf("run %d: HandBrakeCLI %.2f s (cpu %.2f s, peak %ld KiB), engine / HandBrakeCLI "
                            "%.3f (cpu %.3f, peak %.3f)\n",
                            i + 1, h.seconds, h.cpuSeconds, h.peakKiB, handBrakeRatios.back(),
                            handBrakeCpuRatios.back(), handBrakePeakRatios.back());
            }
            if (i == 0) {
                std::printf("  bare:       %s\n", Describe(bareOut).c_str());
                std::printf("  engine:     %s\n", Describe(engineOut).c_str());
                std::printf("  sequential: %s\n", Describe(sequentialOut).c_str());
                if (handBrake)
                    std::printf("  HandBrake:  %s\n", Describe(handBrakeOut).c_str());
            }
            std::fflush(stdout);
            decode.push_back(Measure([&] {
                BarePipeline(source, stagesOut, Stages::Decode);
                return 0;
            }));
            decodeScale.push_back(Measure([&] {
                BarePipeline(source, stagesOut, Stages::DecodeScale);
                return 0;
            }));
        }
        for (int i = 0; i < runs; ++i) {
            hook.push_back(Measure([&] { return EngineRun(source, engineOut, Extra::IdentityHook); }));
            preview.push_back(Measure([&] { return EngineRun(source, engineOut, Extra::Preview); }));
        }
        auto seconds = [](const std::vector<Measurement>& m) {
            std::vector<double> s;
            for (const Measurement& x : m)
                s.push_back(x.seconds);
            return Median(s);
        };
        auto cpu = [](const std::vector<Measurement>& m) {
            std::vector<double> s;
            for (const Measurement& x : m)
                s.push_back(x.cpuSeconds);
            return Median(s);
        };
        const double engineSeconds = seconds(engine);
        std::printf("\n%dx%d -> %dx%d libx264 preset %s + AAC %d kbit/s, %d runs per side\n", kSourceWidth,
                    kSourceHeight, kTargetWidth, kTargetHeight, kPreset, kAudioBitRate / 1000, runs);
        std::printf("bare pipeline   median %.2f s, peak %ld KiB\n", seconds(bare), MaxPeak(bare));
        std::printf("engine          median %.2f s, peak %ld KiB, median ratio %.3f (aim <= 1.05), cpu time "
                    "ratio %.3f\n",
                    engineSeconds, MaxPeak(engine), Median(ratios), Median(cpuRatios));
        auto extraLine = [&](const char* name, const std::vector<Measurement>& m) {
            if (m.front().calls == 0) {
                std::printf("%-15s not measured: the engine made no %s calls\n", name, name);
                return;
            }
            std::printf(
                "%-15s median %.2f s (%+.1f%% over the engine; cpu %+.1f%%), peak %ld KiB, %d calls\n", name,
                seconds(m), (seconds(m) / engineSeconds - 1) * 100, (cpu(m) / cpu(engine) - 1) * 100,
                MaxPeak(m), m.front().calls);
        };
        std::printf("engine sequential (pipeline 0) median %.2f s, peak %ld KiB, median ratio %.3f\n",
                    seconds(sequential), MaxPeak(sequential), Median(sequentialRatios));
        std::printf("pipelined / sequential: time %.3f, peak memory %.3f\n",
                    engineSeconds / seconds(sequential),
                    static_cast<double>(MaxPeak(engine)) / static_cast<double>(MaxPeak(sequential)));
        std::printf("\nmedian of the per-round ratios (lowest-highest), %d rounds:\n", runs);
        std::printf("  pipelined / bare, time           %s\n", Spread(ratios).c_str());
        std::printf("  pipelined / bare, cpu time       %s\n", Spread(cpuRatios).c_str());
        std::printf("  sequential / bare, time          %s\n", Spread(sequentialRatios).c_str());
        std::printf("  pipelined / sequential, time     %s\n", Spread(pipelinedSequential).c_str());
        std::printf("  pipelined / sequential, peak mem %s\n", Spread(pipelinedSequentialPeak).c_str());
        if (handBrake) {
            std::printf("  pipelined / HandBrakeCLI, time   %s\n", Spread(handBrakeRatios).c_str());
            std::printf("  pipelined / HandBrakeCLI, cpu    %s\n", Spread(handBrakeCpuRatios).c_str());
            std::printf("  pipelined / HandBrakeCLI, peak   %s\n", Spread(handBrakePeakRatios).c_str());
            std::printf("  sequential / HandBrakeCLI, time  %s\n", Spread(sequentialHandBrakeRatios).c_str());
            std::printf("HandBrakeCLI    median %.2f s (cpu %.2f s), peak %ld KiB\n", seconds(handBrakeRuns),
                        cpu(handBrakeRuns), MaxPeak(handBrakeRuns));
            // HandBrakeCLI's wall time includes starting the program and scanning the source (it
            // decodes preview pictures first); measured on their own once, for scale.
            const Measurement scan =
                MeasureProgram(HandBrakeArguments(source, "", true), handBrakeLog + ".scan");
            std::printf("HandBrakeCLI start + scan alone: %.2f s (cpu %.2f s), peak %ld KiB\n", scan.seconds,
                        scan.cpuSeconds, scan.peakKiB);
        } else {
            std::printf("  pipelined / HandBrakeCLI         skipped: HandBrakeCLI is not on the PATH\n");
        }
        // Shares of a picture's processor time, from the bare stages; decoding and encoding spread over
        // the codecs' threads, scaling runs on one, so with N cores a picture takes at least
        // max(scaling, all / N).
        const double all = cpu(bare);
        const double decoding = cpu(decode);
        const double scaling = std::max(0.0, cpu(decodeScale) - decoding);
        const double encoding = std::max(0.0, all - cpu(decodeScale));
        std::printf("cpu shares: demux+decode %.0f%%, scale %.0f%%, encode+mux %.0f%%\n",
                    100 * decoding / all, 100 * scaling / all, 100 * encoding / all);
        const double twoCores = std::max(scaling, all / 2);
        for (const int cores : {2, 4, 8, 16}) {
            const double bound = std::max(scaling, all / cores);
            std::printf(
                "projected pipelined throughput on %2d cores: at most %.0f pictures/s (%.1fx the 2-core "
                "figure)\n",
                cores, kFps * kSeconds / bound, twoCores / bound);
        }
        extraLine("identity hook", hook);
        extraLine("preview", preview);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
