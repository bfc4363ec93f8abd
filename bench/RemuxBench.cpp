// Remux speed: the engine's stream copy of a large MP4 (H.264 + AAC) into Matroska against mkvmerge
// (package mkvtoolnix) and the bare library, and of the same streams from Matroska back into MP4
// against the bare library; plain reads and writes of the source are the floor. Every measured step
// runs in its own child process, so that its peak memory is its own, and every output is read back.
// The generated source stays in the folder for later runs (and for profiling).
//
//   RemuxBench [folder] [MB] [rounds]
#include "BenchSupport.h"
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
        measure.startRssKb = bench::ResidentKiB();
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
bool LibraryRemux(const std::string& from, const std::string& to, const char* format, bool crc = true) {
    AVFormatContext* rawInput = nullptr;
    if (avformat_open_input(&rawInput, from.c_str(), nullptr, nullptr) < 0)
        return false;
    InputContextPtr input(rawInput);
    if (avformat_find_stream_info(rawInput, nullptr) < 0)
        return false;
    AVFormatContext* rawOutput = nullptr;
    if (avformat_alloc_output_context2(&rawOutput, nullptr, format, to.c_str()) < 0)
        return false;
    FormatContextPtr output(rawOutput);
    for (unsigned i = 0; i < rawInput->nb_streams; ++i) {
        AVStream* stream = avformat_new_stream(rawOutput, nullptr);
        avcodec_parameters_copy(stream->codecpar, rawInput->streams[i]->codecpar);
        stream->codecpar->codec_tag = 0;
        stream->time_base = rawInput->streams[i]->time_base;
    }
    AVDictionary* options = nullptr;
    if (std::strcmp(format, "matroska") == 0)
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

// mkvmerge (package mkvtoolnix) rewrapping `from` into Matroska; its peak memory is its own.
bool Mkvmerge(const std::string& from, const std::string& to) {
    const pid_t child = fork();
    if (child == 0) {
        execlp("mkvmerge", "mkvmerge", "--quiet", "-o", to.c_str(), from.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Contender {
    std::function<bool()> work;
    std::string output; // deleted before each run, so that no run pays for dropping an earlier file
};

// The best run of each contender over `rounds` rounds. Each round runs every contender once, in
// turn, each after the previous writes reached the disk: no contender inherits another's backlog of
// dirty pages, and a slow spell of the machine hits all of them alike.
std::vector<Measure> BestOfEach(int rounds, const std::vector<Contender>& contenders) {
    std::vector<Measure> best(contenders.size());
    for (int round = 0; round < rounds; ++round) {
        for (size_t i = 0; i < contenders.size(); ++i) {
            std::filesystem::remove(contenders[i].output);
            sync();
            const Measure measure = InChild(contenders[i].work);
            if (!measure.ok)
                best[i].ok = false;
            else if (round == 0 || (best[i].ok && measure.seconds < best[i].seconds))
                best[i] = measure;
        }
    }
    return best;
}

// Packets per stream and the file's duration: a remux must keep every packet and the length.
struct Contents {
    std::vector<int64_t> packets;
    double seconds = 0;
    bool operator==(const Contents& other) const {
        return packets == other.packets && std::fabs(seconds - other.seconds) < 0.1;
    }
};

Contents ReadContents(const std::string& fileName) {
    Contents contents;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, fileName.c_str(), nullptr, nullptr) < 0)
        return contents;
    InputContextPtr input(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0)
        return contents;
    contents.packets.assign(raw->nb_streams, 0);
    std::vector<int64_t> ends(raw->nb_streams, 0);
    PacketPtr packet = MakePacket();
    while (av_read_frame(raw, packet.get()) >= 0) {
        const AVStream* stream = raw->streams[packet->stream_index];
        ++contents.packets[packet->stream_index];
        if (packet->pts != AV_NOPTS_VALUE)
            ends[packet->stream_index] =
                std::max(ends[packet->stream_index],
                         av_rescale_q(packet->pts + packet->duration, stream->time_base, {1, 1000}));
        av_packet_unref(packet.get());
    }
    contents.seconds = *std::max_element(ends.begin(), ends.end()) / 1000.0;
    return contents;
}

void PrintLine(const char* label, const Measure& measure, double sizeMb) {
    std::printf("  %-30s %6.3f s  %7.1f MB/s  peak RSS %6.1f MB\n", label, measure.seconds,
                sizeMb / measure.seconds, measure.peakRssKb / 1024.0);
}

bool MeasureRemux(const std::filesystem::path& folder, int megabytes, int rounds) {
    const std::string source = (folder / ("remux-source-" + std::to_string(megabytes) + ".mp4")).string();
    const std::string plain = (folder / "remux-plain.bin").string();
    const std::string matroska = (folder / "remux-source.mkv").string();
    const std::string toMkv = (folder / "remux-out.mkv").string();
    const std::string toMp4 = (folder / "remux-out.mp4").string();
    if (!std::filesystem::exists(source) &&
        !InChild([&] { return MakeLargeMp4(source, int64_t{megabytes} << 20); }).ok) {
        std::fprintf(stderr, "could not make %s\n", source.c_str());
        return false;
    }
    const double sizeMb = std::filesystem::file_size(source) / 1048576.0;
    const Contents expected = ReadContents(source);
    const auto valid = [&](const std::string& output) {
        return ReadContents(output) == expected;
    };

    InChild([&] { return PlainCopy(source, plain); }); // the source into the page cache
    const bool madeMatroska = InChild([&] { return LibraryRemux(source, matroska, "matroska"); }).ok;
    const std::vector<Measure> measures =
        BestOfEach(rounds, {
                               {[&] { return PlainCopy(source, plain); }, plain},
                               // MP4 -> Matroska: the engine against mkvmerge and the bare library.
                               {[&] { return Mkvmerge(source, toMkv); }, toMkv},
                               {[&] { return LibraryRemux(source, toMkv, "matroska"); }, toMkv},
                               {[&] { return LibraryRemux(source, toMkv, "matroska", false); }, toMkv},
                               {[&] { return EngineRemux(source, toMkv); }, toMkv},
                               // Matroska -> MP4: the engine against the bare library.
                               {[&] { return LibraryRemux(matroska, toMp4, "mp4"); }, toMp4},
                               {[&] { return EngineRemux(matroska, toMp4); }, toMp4},
                           });
    const Measure &baseline = measures[0], &mkvmerge = measures[1], &libraryToMkv = measures[2],
                  &libraryNoCrc = measures[3], &engineToMkv = measures[4], &libraryToMp4 = measures[5],
                  &engineToMp4 = measures[6];
    // The last run of each direction was the engine's: its outputs are read back.
    const bool engineMkvValid = engineToMkv.ok && valid(toMkv);
    const bool engineMp4Valid = engineToMp4.ok && valid(toMp4);
    const bool mkvmergeValid =
        mkvmerge.ok && InChild([&] { return Mkvmerge(source, toMkv); }).ok && valid(toMkv);

    for (const std::string& file : {plain, matroska, toMkv, toMp4})
        std::filesystem::remove(file);
    if (!baseline.ok || !libraryToMkv.ok || !libraryNoCrc.ok || !engineToMkv.ok || !madeMatroska ||
        !libraryToMp4.ok || !engineToMp4.ok) {
        std::fprintf(stderr, "a measured run failed\n");
        return false;
    }
    std::printf("%.0f MB MP4 source (H.264 + AAC), best of %d runs each\n", sizeMb, rounds);
    PrintLine("plain copy", baseline, sizeMb);
    std::printf(" MP4 -> Matroska\n");
    if (mkvmerge.ok)
        std::printf("  %-30s %6.3f s  %7.1f MB/s%s\n", "mkvmerge", mkvmerge.seconds,
                    sizeMb / mkvmerge.seconds, mkvmergeValid ? "" : "  (OUTPUT DIFFERS)");
    else
        std::printf("  mkvmerge not available (scripts/install-deps.sh bench installs it)\n");
    PrintLine("bare library remux", libraryToMkv, sizeMb);
    PrintLine("bare library remux, no CRC", libraryNoCrc, sizeMb);
    PrintLine("engine remux", engineToMkv, sizeMb);
    std::printf(" Matroska -> MP4\n");
    PrintLine("bare library remux", libraryToMp4, sizeMb);
    PrintLine("engine remux", engineToMp4, sizeMb);
    std::printf("outputs valid (every packet, same length): engine MKV %s, engine MP4 %s\n",
                engineMkvValid ? "yes" : "NO", engineMp4Valid ? "yes" : "NO");
    if (mkvmerge.ok)
        std::printf("time ratio engine / mkvmerge (MP4 -> MKV): %.2f\n",
                    engineToMkv.seconds / mkvmerge.seconds);
    std::printf("time ratio engine / bare library (MKV -> MP4): %.2f\n",
                engineToMp4.seconds / libraryToMp4.seconds);
    std::printf("time ratio engine / bare library (MP4 -> MKV): %.2f\n",
                engineToMkv.seconds / libraryToMkv.seconds);
    return engineMkvValid && engineMp4Valid;
}

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path();
    const int megabytes = argc > 2 ? std::atoi(argv[2]) : 200;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    std::filesystem::create_directories(folder);
    av_log_set_level(AV_LOG_ERROR);
    return MeasureRemux(folder, megabytes, rounds) ? 0 : 1;
}
