// The video output path of whole conversions: frame-rate synchronisation, the RGB hook, previews,
// filter graphs, odd sizes, deinterlacing and size changes in the middle of a stream. Inputs are
// written here with the libraries so that timestamps, sizes and colours are known exactly.
#include "LogCapture.h"
#include "MediaInspect.h"
#include "TestSupport.h"
#include "base/Bitmap.h"
#include "base/FFUtils.h"
#include "base/FFmpegLoader.h"
#include "engine/FFmpeg.h"
#include "engine/Previewer.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace tarnel {
namespace {

using test::InspectMedia;
using test::TempDir;

struct Yuv {
    uint8_t y, u, v;
};
// BT.601 limited-range values of pure green and pure red.
constexpr Yuv kGreen{145, 54, 34};
constexpr Yuv kRed{81, 90, 240};

struct Rgb {
    int r, g, b;
};

using Painter = std::function<void(AVFrame*)>;

Painter Solid(Yuv colour) {
    return [colour](AVFrame* frame) {
        for (int y = 0; y < frame->height; ++y)
            std::memset(frame->data[0] + y * frame->linesize[0], colour.y, frame->width);
        for (int y = 0; y < (frame->height + 1) / 2; ++y) {
            std::memset(frame->data[1] + y * frame->linesize[1], colour.u, (frame->width + 1) / 2);
            std::memset(frame->data[2] + y * frame->linesize[2], colour.v, (frame->width + 1) / 2);
        }
    };
}

// One-line stripes of bright and dark grey: what two fields of very different content look like.
void Stripes(AVFrame* frame) {
    Solid({128, 128, 128})(frame);
    for (int y = 0; y < frame->height; ++y)
        std::memset(frame->data[0] + y * frame->linesize[0], y % 2 ? 16 : 235, frame->width);
}

struct TestFrame {
    int64_t pts; // in the writer's time base
    int width;
    int height;
    Painter paint;
};

CodecContextPtr OpenEncoder(const char* name, int width, int height, AVRational timeBase, bool globalHeader) {
    const AVCodec* encoder = avcodec_find_encoder_by_name(name);
    if (!encoder)
        throw std::runtime_error(std::string("no encoder ") + name);
    CodecContextPtr codec(avcodec_alloc_context3(encoder));
    codec->width = width;
    codec->height = height;
    codec->pix_fmt = AV_PIX_FMT_YUV420P;
    codec->time_base = timeBase;
    codec->framerate = AVRational{25, 1};
    codec->gop_size = 5;
    codec->max_b_frames = 0;
    if (globalHeader)
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(codec.get(), encoder, nullptr) < 0)
        throw std::runtime_error(std::string("cannot open encoder ") + name);
    return codec;
}

// Writes the frames with `encoderName` into `path`; a new size starts a new encoder on the same
// stream (its bitstream then announces the new size).
void WriteVideo(const std::string& path, const char* encoderName, AVRational timeBase,
                const std::vector<TestFrame>& frames) {
    AVFormatContext* raw = nullptr;
    ASSERT_GE(avformat_alloc_output_context2(&raw, nullptr, nullptr, path.c_str()), 0);
    FormatContextPtr context(raw);
    AVStream* stream = avformat_new_stream(raw, nullptr);
    const bool globalHeader = raw->oformat->flags & AVFMT_GLOBALHEADER;
    CodecContextPtr codec =
        OpenEncoder(encoderName, frames[0].width, frames[0].height, timeBase, globalHeader);
    ASSERT_GE(avcodec_parameters_from_context(stream->codecpar, codec.get()), 0);
    stream->time_base = timeBase;
    ASSERT_GE(avio_open(&raw->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(avformat_write_header(raw, nullptr), 0);
    PacketPtr packet = MakePacket();
    auto drain = [&](AVFrame* frame) {
        ASSERT_GE(avcodec_send_frame(codec.get(), frame), 0);
        while (avcodec_receive_packet(codec.get(), packet.get()) >= 0) {
            av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
            packet->stream_index = 0;
            ASSERT_GE(av_interleaved_write_frame(raw, packet.get()), 0);
        }
    };
    for (const TestFrame& f : frames) {
        if (f.width != codec->width || f.height != codec->height) {
            drain(nullptr);
            codec = OpenEncoder(encoderName, f.width, f.height, timeBase, globalHeader);
        }
        FramePtr frame = MakeFrame();
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = f.width;
        frame->height = f.height;
        ASSERT_GE(av_frame_get_buffer(frame.get(), 0), 0);
        f.paint(frame.get());
        frame->pts = f.pts;
        drain(frame.get());
    }
    drain(nullptr);
    ASSERT_GE(av_write_trailer(raw), 0);
    avio_closep(&raw->pb);
}

// `count` frames of one size and colour at 25 fps in a lossless file.
std::string WriteSolidInput(const TempDir& dir, const std::string& name, int count, int width, int height,
                            const Painter& paint) {
    std::vector<TestFrame> frames;
    for (int i = 0; i < count; ++i)
        frames.push_back({i, width, height, paint});
    const std::string path = (dir / name).string();
    WriteVideo(path, "rawvideo", AVRational{1, 25}, frames);
    return path;
}

struct Decoded {
    std::vector<FramePtr> frames;
    std::vector<int64_t> packetPts; // in µs
};

Decoded DecodeVideo(const std::string& path) {
    Decoded result;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return result;
    InputContextPtr context(raw);
    avformat_find_stream_info(raw, nullptr);
    const int index = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        return result;
    AVStream* stream = raw->streams[index];
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    CodecContextPtr codec(avcodec_alloc_context3(decoder));
    avcodec_parameters_to_context(codec.get(), stream->codecpar);
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0)
        return result;
    PacketPtr packet = MakePacket();
    FramePtr frame = MakeFrame();
    auto receive = [&] {
        while (avcodec_receive_frame(codec.get(), frame.get()) >= 0) {
            result.frames.emplace_back(av_frame_clone(frame.get()));
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(raw, packet.get()) >= 0) {
        if (packet->stream_index == index) {
            const int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (time != AV_NOPTS_VALUE)
                result.packetPts.push_back(av_rescale_q(time, stream->time_base, kMicrosecondBase));
            avcodec_send_packet(codec.get(), packet.get());
            receive();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(codec.get(), nullptr);
    receive();
    return result;
}

// The colour at (x, y), by default the picture's centre.
Rgb ColourAt(const AVFrame* frame, int x = -1, int y = -1) {
    SwsContextPtr scaler(
        sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
                       frame->height, AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr));
    std::vector<uint8_t> rgb(static_cast<size_t>(frame->width) * frame->height * 3);
    uint8_t* planes[4] = {rgb.data(), nullptr, nullptr, nullptr};
    int strides[4] = {frame->width * 3, 0, 0, 0};
    sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
    if (x < 0) {
        x = frame->width / 2;
        y = frame->height / 2;
    }
    const uint8_t* p = rgb.data() + (static_cast<size_t>(y) * frame->width + x) * 3;
    return {p[0], p[1], p[2]};
}

bool Near(Rgb a, Rgb b) {
    constexpr int kTolerance = 24;
    return std::abs(a.r - b.r) <= kTolerance && std::abs(a.g - b.g) <= kTolerance &&
           std::abs(a.b - b.b) <= kTolerance;
}
constexpr Rgb kRgbGreen{0, 255, 0};
constexpr Rgb kRgbRed{255, 0, 0};

// Mean absolute difference of neighbouring luma rows away from the borders.
double RowToRowDifference(const AVFrame* frame) {
    double sum = 0;
    int count = 0;
    for (int y = 3; y < frame->height - 2; ++y) {
        for (int x = frame->width / 4; x < frame->width * 3 / 4; ++x) {
            sum += std::abs(frame->data[0][y * frame->linesize[0] + x] -
                            frame->data[0][(y - 1) * frame->linesize[0] + x]);
            ++count;
        }
    }
    return sum / count;
}

class VideoEngine : public TCustomFFmpeg {
public:
    VideoEngine() { Reset(); }
    const TOptionState& State() const { return Opt; }
};

using Options = std::vector<std::pair<std::string, std::string>>;

class VideoPathTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError(); }
    void TearDown() override { SetPreviewerFactory(nullptr); }
    int LogCount(const std::string& text) const { return log_.Count(text); }

    // Converts `input` into `output` with the options given before the output; false on a failed run.
    static bool Convert(VideoEngine& engine, const std::string& input, const std::string& output,
                        const Options& options) {
        EXPECT_TRUE(engine.AddInputFile(input)) << engine.LastError();
        for (const auto& [name, value] : options)
            engine.SetOption(name, value);
        EXPECT_GT(engine.AddOutputFile(output), 0) << engine.LastError();
        engine.Start(false);
        return !engine.ErrorOccurred();
    }

    TempDir dir_;

private:
    test::LogCapture log_;
};

// Input timestamps in frames of the 25 fps output (written in ms), and what the synchronisation
// makes of them: pictures written, duplicates, drops and the last written timestamp in frames.
struct SyncCase {
    const char* name;
    int videoSync;
    const char* container;
    std::vector<double> inputFrames;
    Options extra;
    int written;
    int duplicated;
    int dropped;
    int lastFrame;
};

TEST_F(VideoPathTest, FrameRateSynchronisationDuplicatesAndDrops) {
    const std::vector<SyncCase> cases = {
        // Constant rate: the jump from 2 to 6 is filled by writing the picture three times.
        {"constant rate fills a jump", -1, "avi", {0, 1, 2, 6, 7}, {}, 7, 2, 0, 6},
        {"constant rate fills a two-frame jump", 1, "avi", {0, 1, 2, 5}, {}, 5, 1, 0, 4},
        {"forced constant rate in a variable-rate format", 1, "mkv", {0, 1, 2, 6, 7}, {}, 7, 2, 0, 6},
        // Variable rate: the jump re-times the output instead.
        {"variable-rate format re-times", -1, "mkv", {0, 1, 2, 6, 7}, {}, 5, 0, 0, 7},
        {"a picture 0.7 frame early is dropped", 2, "mkv", {0, 1, 2, 2.3, 3, 4}, {}, 5, 0, 1, 4},
        {"a picture 0.7 frame late is re-timed", 2, "mkv", {0, 1, 2, 3.7, 4.7}, {}, 5, 0, 0, 5},
        // 50 pictures a second into 25: every second one falls more than 1.1 frames behind.
        {"a faster input loses pictures", 1, "avi", {0, 0.5, 1, 1.5, 2, 2.5, 3}, {}, 5, 0, 2, 4},
        {"pass-through keeps the input's times", 0, "mkv", {0, 1, 2, 6, 7}, {}, 5, 0, 0, 7},
        {"vframes limits the pictures", -1, "avi", {0, 1, 2, 3, 4, 5, 6, 7}, {{"vframes", "4"}}, 4, 0, 0, 3},
    };
    for (const SyncCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TestFrame> frames;
        for (double f : c.inputFrames)
            frames.push_back({std::llround(f * 40), 64, 48, Solid(kGreen)});
        const std::string input = (dir_ / "sync.nut").string();
        WriteVideo(input, "rawvideo", AVRational{1, 1000}, frames);
        const std::string output = (dir_ / (std::string("sync.") + c.container)).string();

        VideoEngine engine;
        engine.SetVideoSync(c.videoSync);
        Options options = {{"r", "25"}, {"vcodec", "mpeg4"}};
        options.insert(options.end(), c.extra.begin(), c.extra.end());
        ASSERT_TRUE(Convert(engine, input, output, options)) << engine.ErrorMessage();

        EXPECT_EQ(engine.State().FramesDuplicated, c.duplicated);
        EXPECT_EQ(engine.State().FramesDropped, c.dropped);
        const Decoded decoded = DecodeVideo(output);
        EXPECT_EQ(static_cast<int>(decoded.frames.size()), c.written);
        ASSERT_FALSE(decoded.packetPts.empty());
        EXPECT_NEAR(decoded.packetPts.back(), c.lastFrame * 40000, 1000);
    }
}

enum class HookAction { PaintKeep, PaintUpdate, PaintStop, Throw };

TEST_F(VideoPathTest, RgbHookChangesTheOutputOnlyWhenAsked) {
    struct HookCase {
        const char* name;
        HookAction action;
        int expectedCalls;
        Rgb first;
        Rgb last;
    };
    const std::vector<HookCase> cases = {
        {"update false leaves the picture", HookAction::PaintKeep, 10, kRgbGreen, kRgbGreen},
        {"update true writes the bitmap back", HookAction::PaintUpdate, 10, kRgbRed, kRgbRed},
        {"stop hook after the first picture", HookAction::PaintStop, 1, kRgbRed, kRgbGreen},
        {"a throwing hook is logged", HookAction::Throw, 10, kRgbGreen, kRgbGreen},
    };
    const std::string input = WriteSolidInput(dir_, "green.nut", 10, 64, 48, Solid(kGreen));
    for (const HookCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string output = (dir_ / "hooked.nut").string();
        VideoEngine engine;
        int calls = 0;
        engine.HookCallback = [&](TCustomFFmpeg&, TBitmap& bitmap, bool& stop, bool& update, int64_t,
                                  int32_t) {
            ++calls;
            for (int y = 0; y < bitmap.Height(); ++y) {
                uint8_t* row = bitmap.ScanLine(y);
                for (int x = 0; x < bitmap.Width(); ++x) {
                    row[3 * x] = 0;
                    row[3 * x + 1] = 0;
                    row[3 * x + 2] = 255;
                }
            }
            switch (c.action) {
            case HookAction::PaintKeep:
                update = false;
                break;
            case HookAction::PaintUpdate:
                break;
            case HookAction::PaintStop:
                stop = true;
                break;
            case HookAction::Throw:
                throw std::runtime_error("hook broke");
            }
        };
        ASSERT_TRUE(Convert(engine, input, output, {{"vcodec", "ffv1"}})) << engine.ErrorMessage();
        EXPECT_EQ(calls, c.expectedCalls);
        const Decoded decoded = DecodeVideo(output);
        ASSERT_EQ(decoded.frames.size(), 10u);
        const Rgb first = ColourAt(decoded.frames.front().get());
        const Rgb last = ColourAt(decoded.frames.back().get());
        EXPECT_TRUE(Near(first, c.first)) << first.r << "," << first.g << "," << first.b;
        EXPECT_TRUE(Near(last, c.last)) << last.r << "," << last.g << "," << last.b;
    }
    EXPECT_EQ(LogCount("Error occurs OnCustomHook: hook broke"), 10);
}

TEST_F(VideoPathTest, HookModulesChangeEveryPicture) {
    const std::string input = WriteSolidInput(dir_, "green.nut", 4, 64, 48, Solid(kGreen));
    const std::string output = (dir_ / "vhook.nut").string();
    const std::string module = std::filesystem::absolute(test::TestModuleDir() / "hook_invert.so").string();
    VideoEngine engine;
    // The module adds its argument to the first plane.
    ASSERT_TRUE(Convert(engine, input, output, {{"vhook", module + " 20"}, {"vcodec", "ffv1"}}))
        << engine.ErrorMessage();
    const Decoded decoded = DecodeVideo(output);
    ASSERT_EQ(decoded.frames.size(), 4u);
    for (const FramePtr& frame : decoded.frames) {
        EXPECT_EQ(frame->data[0][(frame->height / 2) * frame->linesize[0] + frame->width / 2], kGreen.y + 20);
        EXPECT_EQ(frame->data[1][(frame->height / 4) * frame->linesize[1] + frame->width / 4], kGreen.u);
    }
}

TEST_F(VideoPathTest, VideoStatisticsFile) {
    const std::string input = WriteSolidInput(dir_, "green.nut", 6, 64, 48, Solid(kGreen));
    const std::string output = (dir_ / "stats.avi").string();
    const std::vector<std::pair<std::string, bool>> cases = {
        {(dir_ / "vstats.log").string(), true},
        {(dir_ / "missing" / "vstats.log").string(), false},
    };
    for (const auto& [statsName, writable] : cases) {
        SCOPED_TRACE(statsName);
        VideoEngine engine;
        const bool ok = Convert(engine, input, output, {{"vcodec", "mpeg4"}, {"vstats_file", statsName}});
        if (!writable) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(engine.ErrorMessage(), "fopen fail: " + statsName);
            continue;
        }
        ASSERT_TRUE(ok) << engine.ErrorMessage();
        engine.Reset(); // closes the statistics file
        std::FILE* file = std::fopen(statsName.c_str(), "r");
        ASSERT_NE(file, nullptr);
        std::vector<std::string> lines;
        char line[512];
        while (std::fgets(line, sizeof line, file))
            lines.emplace_back(line);
        std::fclose(file);
        ASSERT_EQ(lines.size(), 6u);
        EXPECT_EQ(lines[0].rfind("frame=     0 q= ", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find("type= I\n"), std::string::npos) << lines[0];
        EXPECT_NE(lines[5].find("f_size= "), std::string::npos);
        EXPECT_NE(lines[5].find("avg_br= "), std::string::npos);
    }
}

TEST_F(VideoPathTest, DeinterlacingBlendsTheFields) {
    const std::string input = WriteSolidInput(dir_, "stripes.nut", 3, 64, 48, Stripes);
    double differences[2] = {};
    for (int deinterlace = 0; deinterlace < 2; ++deinterlace) {
        const std::string output = (dir_ / Format("out%d.nut", deinterlace)).string();
        VideoEngine engine;
        Options options = {{"vcodec", "ffv1"}};
        if (deinterlace)
            options.push_back({"deinterlace", "1"});
        ASSERT_TRUE(Convert(engine, input, output, options)) << engine.ErrorMessage();
        const Decoded decoded = DecodeVideo(output);
        ASSERT_EQ(decoded.frames.size(), 3u) << "one picture out per picture in";
        differences[deinterlace] = RowToRowDifference(decoded.frames[1].get());
    }
    EXPECT_GT(differences[0], 200.0); // the stripes pass unchanged
    EXPECT_LT(differences[1], 2.0);   // blended into one grey
}

class CountingPreviewer : public TPreviewer {
public:
    explicit CountingPreviewer(int& shows)
        : shows_(shows) {}
    bool Show(const TBitmap& bitmap, int32_t, int64_t) override {
        shows_ += bitmap.Width() == 64 ? 1 : 0;
        return true;
    }

private:
    int& shows_;
};

TEST_F(VideoPathTest, PreviewTimingAndWindow) {
    const std::string input = WriteSolidInput(dir_, "preview.nut", 10, 64, 48, Solid(kGreen));
    const std::string output = (dir_ / "preview.avi").string();
    struct PreviewCase {
        const char* name;
        uint8_t flags;
        int64_t interval;
        bool factory;
        int minimum, maximum; // deliveries
        uint8_t flagsAfter;
    };
    const std::vector<PreviewCase> cases = {
        {"interval 0: every encoded picture", 2, 0, false, 10, 10, 2},
        {"a huge interval: at most one", 2, int64_t{1} << 50, false, 0, 1, 2},
        {"window from the host's factory", 1, 0, true, 10, 10, 1},
        {"no factory turns the window off", 1, 0, false, 0, 0, 0},
    };
    for (const PreviewCase& c : cases) {
        SCOPED_TRACE(c.name);
        int shows = 0;
        SetPreviewerFactory(
            c.factory ? TPreviewerFactory([&] { return std::make_unique<CountingPreviewer>(shows); })
                      : TPreviewerFactory());
        VideoEngine engine;
        engine.PreviewInterval = c.interval;
        engine.SetPreviewFlags(c.flags);
        std::vector<int64_t> times;
        std::vector<int32_t> counters;
        engine.PreviewCallback = [&](TCustomFFmpeg&, TBitmap& bitmap, int64_t pts, int32_t counter) {
            EXPECT_EQ(bitmap.Width(), 64);
            times.push_back(pts);
            counters.push_back(counter);
        };
        const int before = LogCount("preview window is off");
        ASSERT_TRUE(Convert(engine, input, output, {{"vcodec", "mpeg4"}})) << engine.ErrorMessage();
        const int deliveries = static_cast<int>(times.size()) + shows;
        EXPECT_GE(deliveries, c.minimum);
        EXPECT_LE(deliveries, c.maximum);
        EXPECT_EQ(engine.PreviewFlags(), c.flagsAfter);
        EXPECT_EQ(LogCount("preview window is off") - before, c.flagsAfter == 0 ? 1 : 0);
        if (times.size() == 10) {
            EXPECT_EQ(times.back(), 9 * 40000); // the encoded picture's time
            EXPECT_EQ(counters.back(), 10);     // pictures decoded so far
        }
    }
}

TEST_F(VideoPathTest, FilterGraphSizes) {
    // Green with a red band over the top 8 rows.
    const std::string input = WriteSolidInput(dir_, "vf.nut", 5, 64, 48, [](AVFrame* frame) {
        Solid(kGreen)(frame);
        for (int y = 0; y < 8; ++y)
            std::memset(frame->data[0] + y * frame->linesize[0], kRed.y, frame->width);
        for (int y = 0; y < 4; ++y) {
            std::memset(frame->data[1] + y * frame->linesize[1], kRed.u, frame->width / 2);
            std::memset(frame->data[2] + y * frame->linesize[2], kRed.v, frame->width / 2);
        }
    });
    struct FilterCase {
        const char* filters;
        Options extra;
        int width, height; // 0: the run fails
        bool topCropped;   // the red band is gone
        int row;           // of the output where the band (or what replaced it) is looked at
    };
    const std::vector<FilterCase> cases = {
        {"crop=32:24:0:0", {}, 32, 24, false, 1},
        {"scale=80:60", {}, 80, 60, false, 2},
        {"pad=96:64:16:8", {}, 96, 64, false, 10},
        {"crop=32:32:8:12,scale=64:48,pad=80:64:8:8", {}, 80, 64, true, 10},
        // "s" scales before the user's filters.
        {"pad=48:40:8:8", {{"s", "32x24"}}, 48, 40, false, 9},
        {"nosuchfilter", {}, 0, 0, false, 0},
        // Crop options without a graph: cropped by reference, not scaled.
        {"", {{"croptop", "8"}, {"cropleft", "16"}}, 48, 40, true, 1},
    };
    for (const FilterCase& c : cases) {
        SCOPED_TRACE(c.filters);
        const std::string output = (dir_ / "vf.avi").string();
        std::filesystem::remove(output);
        VideoEngine engine;
        Options options = {{"vcodec", "mpeg4"}};
        if (*c.filters)
            options.push_back({"vf", c.filters});
        options.insert(options.end(), c.extra.begin(), c.extra.end());
        const bool ok = Convert(engine, input, output, options);
        if (c.width == 0) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(engine.ErrorMessage().rfind("Error opening filters: ", 0), 0u) << engine.ErrorMessage();
            continue;
        }
        ASSERT_TRUE(ok) << engine.ErrorMessage();
        const Decoded decoded = DecodeVideo(output);
        ASSERT_EQ(decoded.frames.size(), 5u);
        EXPECT_EQ(decoded.frames[0]->width, c.width);
        EXPECT_EQ(decoded.frames[0]->height, c.height);
        const AVFrame* first = decoded.frames[0].get();
        const Rgb top = ColourAt(first, first->width / 2, c.row);
        EXPECT_TRUE(Near(top, c.topCropped ? kRgbGreen : kRgbRed)) << top.r << "," << top.g << "," << top.b;
    }
}

// libx264 takes no odd 4:2:0 sizes: the engine rounds the size down to even.
TEST_F(VideoPathTest, OddSizesAreRoundedForSubsampledEncoders) {
    if (!avcodec_find_encoder_by_name("libx264"))
        GTEST_SKIP() << "libx264 is not available";
    const std::string input = WriteSolidInput(dir_, "odd.nut", 5, 321, 241, Solid(kGreen));
    const std::vector<Options> cases = {
        {{"s", "161x121"}},
        {{"vf", "scale=161:121"}},
    };
    for (const Options& extra : cases) {
        SCOPED_TRACE(extra[0].second);
        const std::string output = (dir_ / "odd.mp4").string();
        VideoEngine engine;
        Options options = {{"vcodec", "libx264"}, {"pix_fmt", "yuv420p"}};
        options.insert(options.end(), extra.begin(), extra.end());
        ASSERT_TRUE(Convert(engine, input, output, options)) << engine.ErrorMessage();
        const test::MediaFacts facts = InspectMedia(output);
        const test::StreamFacts* video = facts.First("video");
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->width, 160);
        EXPECT_EQ(video->height, 120);
        EXPECT_EQ(video->packets, 5);
    }
}

TEST_F(VideoPathTest, SizeChangeInTheMiddleOfAStreamIsConverted) {
    std::vector<TestFrame> frames;
    for (int i = 0; i < 10; ++i)
        frames.push_back({i, 320, 240, Solid(kGreen)});
    for (int i = 10; i < 20; ++i)
        frames.push_back({i, 160, 120, Solid(kRed)});
    const std::string input = (dir_ / "change.ts").string();
    WriteVideo(input, "mpeg2video", AVRational{1, 25}, frames);
    // The decoder may lose the picture at the change; every picture it gives must come out.
    const size_t inputPictures = DecodeVideo(input).frames.size();
    ASSERT_GE(inputPictures, 19u);

    for (const char* filters : {"", "hflip"}) {
        SCOPED_TRACE(filters);
        const std::string output = (dir_ / "change.nut").string();
        VideoEngine engine;
        Options options = {{"vcodec", "ffv1"}};
        if (*filters)
            options.push_back({"vf", filters});
        const int before = LogCount("frame size changed to 160x120, yuv420p");
        ASSERT_TRUE(Convert(engine, input, output, options)) << engine.ErrorMessage();
        EXPECT_EQ(LogCount("frame size changed to 160x120, yuv420p") - before, 1);
        const Decoded decoded = DecodeVideo(output);
        ASSERT_EQ(decoded.frames.size(), inputPictures);
        for (const FramePtr& frame : decoded.frames) {
            EXPECT_EQ(frame->width, 320);
            EXPECT_EQ(frame->height, 240);
        }
        EXPECT_TRUE(Near(ColourAt(decoded.frames.front().get()), kRgbGreen));
        EXPECT_TRUE(Near(ColourAt(decoded.frames.back().get()), kRgbRed));
    }
}

} // namespace
} // namespace tarnel
