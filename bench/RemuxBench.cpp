// Remux throughput and memory: the engine's stream copy of a large MP4 (H.264 + AAC) into Matroska
// against copying the same bytes with plain reads and writes, for two file sizes. Every measured step
// runs in its own child process so that its peak memory is its own.
//
//   RemuxBench [folder] [small MB] [large MB]
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "base/LibHandles.h"
#include "engine/FFmpeg.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/time.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace tarnel;

// A clip of whole video and audio packets that repeats seamlessly: 80 pictures at 25 fps and
// 150 AAC frames at 48 kHz both last 3.2 s.
constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFps = 25;
constexpr int kClipFrames = 80;
constexpr int kSampleRate = 48000;
constexpr int kClipAudioFrames = 150;
constexpr size_t kIoBufferSize = 32768; // the libraries' default byte-stream buffer

struct Measure {
    double seconds = 0;
    long startRssKb = 0; // before the measured work
    long peakRssKb = 0;  // ru_maxrss at its end
    bool ok = false;
};

long CurrentRssKb() {
    long pages = 0, resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Runs `work` in a child process; the child reports its time and memory through a pipe.
Measure InChild(const std::function<bool()>& work) {
    int channel[2];
    if (pipe(channel) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        Measure measure;
        measure.startRssKb = CurrentRssKb();
        const int64_t start = av_gettime_relative();
        measure.ok = work();
        measure.seconds = (av_gettime_relative() - start) / 1e6;
        measure.peakRssKb = PeakRssKb();
        const bool sent = write(channel[1], &measure, sizeof measure) == sizeof measure;
        _exit(sent ? 0 : 1);
    }
    close(channel[1]);
    Measure measure;
    if (read(channel[0], &measure, sizeof measure) != sizeof measure)
        measure.ok = false;
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        measure.ok = false;
    return measure;
}

CodecContextPtr OpenEncoder(const char* name, const std::function<void(AVCodecContext*)>& configure,
                            AVDictionary* options = nullptr) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec)
        throw std::runtime_error(std::string("no encoder ") + name);
    CodecContextPtr context(avcodec_alloc_context3(codec));
    configure(context.get());
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int ret = avcodec_open2(context.get(), codec, &options);
    av_dict_free(&options);
    if (ret < 0)
        throw std::runtime_error(std::string("cannot open ") + name);
    return context;
}

void Collect(AVCodecContext* encoder, const AVFrame* frame, std::vector<PacketPtr>& packets) {
    avcodec_send_frame(encoder, frame);
    for (PacketPtr packet = MakePacket(); avcodec_receive_packet(encoder, packet.get()) >= 0;
         packet = MakePacket())
        packets.push_back(std::move(packet));
}

// Moving bars with noise, so that the pictures cost a realistic high bit rate.
std::vector<PacketPtr> EncodeClipVideo(AVCodecParameters* parameters) {
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", "ultrafast", 0);
    av_dict_set(&options, "qp", "18", 0);
    CodecContextPtr encoder = OpenEncoder(
        "libx264",
        [](AVCodecContext* c) {
            c->width = kWidth;
            c->height = kHeight;
            c->pix_fmt = AV_PIX_FMT_YUV420P;
            c->time_base = {1, kFps};
            c->framerate = {kFps, 1};
            c->gop_size = kClipFrames;
            c->max_b_frames = 0;
        },
        options);
    FramePtr frame = MakeFrame();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = kWidth;
    frame->height = kHeight;
    av_frame_get_buffer(frame.get(), 0);
    uint32_t noise = 12345;
    std::vector<PacketPtr> packets;
    for (int n = 0; n < kClipFrames; ++n) {
        av_frame_make_writable(frame.get());
        for (int plane = 0; plane < 3; ++plane) {
            const int width = plane ? kWidth / 2 : kWidth;
            const int height = plane ? kHeight / 2 : kHeight;
            for (int y = 0; y < height; ++y) {
                uint8_t* row = frame->data[plane] + y * frame->linesize[plane];
                for (int x = 0; x < width; ++x) {
                    noise = noise * 1664525u + 1013904223u;
                    row[x] = static_cast<uint8_t>(((x + 4 * n) / 16 * 37 + y) + (noise >> 29));
                }
            }
        }
        frame->pts = n;
        Collect(encoder.get(), frame.get(), packets);
    }
    Collect(encoder.get(), nullptr, packets);
    avcodec_parameters_from_context(parameters, encoder.get());
    return packets;
}

std::vector<PacketPtr> EncodeClipAudio(AVCodecParameters* parameters) {
    CodecContextPtr encoder = OpenEncoder("aac", [](AVCodecContext* c) {
        c->sample_rate = kSampleRate;
        c->sample_fmt = AV_SAMPLE_FMT_FLTP;
        av_channel_layout_default(&c->ch_layout, 2);
        c->bit_rate = 192000;
        c->time_base = {1, kSampleRate};
    });
    FramePtr frame = MakeFrame();
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->sample_rate = kSampleRate;
    av_channel_layout_default(&frame->ch_layout, 2);
    frame->nb_samples = encoder->frame_size;
    av_frame_get_buffer(frame.get(), 0);
    std::vector<PacketPtr> packets;
    for (int n = 0; n < kClipAudioFrames; ++n) {
        av_frame_make_writable(frame.get());
        for (int channel = 0; channel < 2; ++channel) {
            auto* samples = reinterpret_cast<float*>(frame->data[channel]);
            for (int i = 0; i < frame->nb_samples; ++i)
                samples[i] = 0.5f * std::sin(2 * M_PI * 440 * (channel + 1) * (n * frame->nb_samples + i) /
                                             kSampleRate);
        }
        frame->pts = int64_t{n} * frame->nb_samples;
        Collect(encoder.get(), frame.get(), packets);
    }
    Collect(encoder.get(), nullptr, packets);
    avcodec_parameters_from_context(parameters, encoder.get());
    packets.resize(std::min<size_t>(packets.size(), kClipAudioFrames));
    return packets;
}

// Writes the clip's packets over and over with continuing timestamps until the file reaches
// `bytes`.
bool MakeLargeMp4(const std::string& fileName, int64_t bytes) {
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "mp4", fileName.c_str()) < 0)
        return false;
    FormatContextPtr output(raw);
    AVStream* video = avformat_new_stream(raw, nullptr);
    AVStream* audio = avformat_new_stream(raw, nullptr);
    const std::vector<PacketPtr> pictures = EncodeClipVideo(video->codecpar);
    const std::vector<PacketPtr> sounds = EncodeClipAudio(audio->codecpar);
    video->time_base = {1, kFps};
    audio->time_base = {1, kSampleRate};
    if (avio_open(&raw->pb, fileName.c_str(), AVIO_FLAG_WRITE) < 0 || avformat_write_header(raw, nullptr) < 0)
        return false;
    const AVRational videoBase{1, kFps};
    const AVRational audioBase{1, kSampleRate};
    const int audioFrameSize = 1024;
    int64_t pictureCount = 0, soundCount = 0;
    PacketPtr packet = MakePacket();
    while (avio_tell(raw->pb) < bytes) {
        const bool pictureNext =
            av_compare_ts(pictureCount, videoBase, soundCount * audioFrameSize, audioBase) <= 0;
        const PacketPtr& source =
            pictureNext ? pictures[pictureCount % pictures.size()] : sounds[soundCount % sounds.size()];
        av_packet_ref(packet.get(), source.get());
        packet->stream_index = pictureNext ? 0 : 1;
        packet->pts = packet->dts = pictureNext ? pictureCount++ : soundCount++ * audioFrameSize;
        packet->duration = pictureNext ? 1 : audioFrameSize;
        av_packet_rescale_ts(packet.get(), pictureNext ? videoBase : audioBase,
                             raw->streams[packet->stream_index]->time_base);
        if (av_interleaved_write_frame(raw, packet.get()) < 0)
            return false;
    }
    const bool written = av_write_trailer(raw) >= 0;
    avio_closep(&raw->pb);
    return written;
}

// The baseline: the same bytes read and written with buffers of the libraries' size.
bool PlainCopy(const std::string& from, const std::string& to) {
    const int in = open(from.c_str(), O_RDONLY);
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0)
        return false;
    std::vector<char> buffer(kIoBufferSize);
    ssize_t got;
    bool ok = true;
    while ((got = read(in, buffer.data(), buffer.size())) > 0)
        ok = ok && write(out, buffer.data(), static_cast<size_t>(got)) == got;
    close(in);
    close(out);
    return ok && got == 0;
}

// The least the libraries need for the same remux: read, rescale, write; no engine around it.
// Without `crc` the Matroska muxer leaves out its CRC-32 elements (it writes them by default).
bool LibraryRemux(const std::string& from, const std::string& to, bool crc) {
    AVFormatContext* rawInput = nullptr;
    if (avformat_open_input(&rawInput, from.c_str(), nullptr, nullptr) < 0)
        return false;
    InputContextPtr input(rawInput);
    if (avformat_find_stream_info(rawInput, nullptr) < 0)
        return false;
    AVFormatContext* rawOutput = nullptr;
    if (avformat_alloc_output_context2(&rawOutput, nullptr, "matroska", to.c_str()) < 0)
        return false;
    FormatContextPtr output(rawOutput);
    for (unsigned i = 0; i < rawInput->nb_streams; ++i) {
        AVStream* stream = avformat_new_stream(rawOutput, nullptr);
        avcodec_parameters_copy(stream->codecpar, rawInput->streams[i]->codecpar);
        stream->codecpar->codec_tag = 0;
        stream->time_base = rawInput->streams[i]->time_base;
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "write_crc32", crc ? "1" : "0", 0);
    const bool opened = avio_open(&rawOutput->pb, to.c_str(), AVIO_FLAG_WRITE) >= 0 &&
                        avformat_write_header(rawOutput, &options) >= 0;
    av_dict_free(&options);
    if (!opened)
        return false;
    PacketPtr packet = MakePacket();
    while (av_read_frame(rawInput, packet.get()) >= 0) {
        av_packet_rescale_ts(packet.get(), rawInput->streams[packet->stream_index]->time_base,
                             rawOutput->streams[packet->stream_index]->time_base);
        packet->pos = -1;
        if (av_interleaved_write_frame(rawOutput, packet.get()) < 0)
            return false;
    }
    const bool written = av_write_trailer(rawOutput) >= 0;
    avio_closep(&rawOutput->pb);
    return written;
}

bool EngineRemux(const std::string& from, const std::string& to) {
    if (!Loader().LoadSet(kConverterLibraries))
        return false;
    TFFLogger::Instance().SetLogLevel(llQuiet);
    TCustomFFmpeg engine;
    engine.Reset();
    if (!engine.AddInputFile(from))
        return false;
    engine.SetOption("vcodec", "copy");
    engine.SetOption("acodec", "copy");
    if (engine.AddOutputFile(to) < 0)
        return false;
    engine.Start(false);
    return engine.IsFinished() && !engine.ErrorOccurred();
}

// The best of `rounds` runs (the least disturbed by the rest of the machine).
Measure Best(int rounds, const std::function<bool()>& work) {
    Measure best;
    for (int i = 0; i < rounds; ++i) {
        const Measure measure = InChild(work);
        if (!measure.ok)
            return measure;
        if (!best.ok || measure.seconds < best.seconds)
            best = measure;
    }
    return best;
}

bool MeasureSize(const std::filesystem::path& folder, int megabytes) {
    const std::string source = (folder / ("remux-source-" + std::to_string(megabytes) + ".mp4")).string();
    const std::string plain = (folder / "remux-plain.bin").string();
    const std::string remuxed = (folder / "remux-engine.mkv").string();
    const int64_t start = av_gettime_relative();
    if (!InChild([&] { return MakeLargeMp4(source, int64_t{megabytes} << 20); }).ok) {
        std::fprintf(stderr, "could not make %s\n", source.c_str());
        return false;
    }
    const double generation = (av_gettime_relative() - start) / 1e6;
    const double sizeMb = std::filesystem::file_size(source) / 1048576.0;

    InChild([&] { return PlainCopy(source, plain); }); // the source into the page cache
    const Measure baseline = Best(3, [&] { return PlainCopy(source, plain); });
    const Measure library = Best(3, [&] { return LibraryRemux(source, remuxed, true); });
    const Measure withoutCrc = Best(3, [&] { return LibraryRemux(source, remuxed, false); });
    const Measure engine = Best(3, [&] { return EngineRemux(source, remuxed); });
    const double remuxedMb = std::filesystem::file_size(remuxed) / 1048576.0;
    std::filesystem::remove(source);
    std::filesystem::remove(plain);
    std::filesystem::remove(remuxed);
    if (!baseline.ok || !library.ok || !withoutCrc.ok || !engine.ok) {
        std::fprintf(stderr, "a measured run failed\n");
        return false;
    }
    std::printf("%.0f MB source (made in %.1f s) -> %.0f MB Matroska\n", sizeMb, generation, remuxedMb);
    std::printf("  plain copy         %6.3f s  %7.1f MB/s  peak RSS %6.1f MB\n", baseline.seconds,
                sizeMb / baseline.seconds, baseline.peakRssKb / 1024.0);
    std::printf("  bare library remux %6.3f s  %7.1f MB/s  peak RSS %6.1f MB\n", library.seconds,
                sizeMb / library.seconds, library.peakRssKb / 1024.0);
    std::printf("  the same, no CRC   %6.3f s  %7.1f MB/s  peak RSS %6.1f MB\n", withoutCrc.seconds,
                sizeMb / withoutCrc.seconds, withoutCrc.peakRssKb / 1024.0);
    std::printf("  engine remux       %6.3f s  %7.1f MB/s  peak RSS %6.1f MB (grew %.1f MB during the run)\n",
                engine.seconds, sizeMb / engine.seconds, engine.peakRssKb / 1024.0,
                (engine.peakRssKb - engine.startRssKb) / 1024.0);
    std::printf("  time ratio engine / plain copy: %.2f (bare library: %.2f, without CRC: %.2f; "
                "engine / bare library: %.2f)\n",
                engine.seconds / baseline.seconds, library.seconds / baseline.seconds,
                withoutCrc.seconds / baseline.seconds, engine.seconds / library.seconds);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path();
    const int small = argc > 2 ? std::atoi(argv[2]) : 150;
    const int large = argc > 3 ? std::atoi(argv[3]) : 450;
    std::filesystem::create_directories(folder);
    av_log_set_level(AV_LOG_ERROR);
    for (const int megabytes : {small, large}) {
        if (!MeasureSize(folder, megabytes))
            return 1;
    }
    return 0;
}
