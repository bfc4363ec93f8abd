#include "TestSupport.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLoader.h"
#include "engine/FFmpeg.h"

#include <algorithm>
#include <bit>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace tarnel {
namespace {

namespace fs = std::filesystem;
using test::Fixtures;
using test::TempDir;

constexpr int64_t kSecond = AV_TIME_BASE;

// Reaches the engine's option state and input tables.
class InputEngine : public TCustomFFmpeg {
public:
    InputEngine() { Reset(); }
    TOptionState& State() { return Opt; }
    int64_t TsOffset(int file) const { return InputTsOffset[file]; }
    const TInputFile& Input(int file) const { return *InputFiles[file]; }
    int32_t DecoderCount() const { return InputDecoderCount; }
    const AVCodec* Decoder(int entry) const { return InputDecoders[entry]; }
};

class InputFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError();
    }
};

void WriteBytes(const fs::path& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<char> ReadPrefix(const std::string& path, size_t count) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes(count);
    in.read(bytes.data(), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

// --- Option state taken from the inputs -------------------------------------------------------

struct StateCase {
    const char* label;
    std::string fixtures::FixtureSet::*file;
    int width, height, fps;   // 0: no video stream, the picture options keep their defaults
    int channels, sampleRate; // 0: no audio stream
};

class InputState : public InputFileTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(InputState, OptionStateDescribesTheInput) {
    const StateCase& c = GetParam();
    InputEngine engine;
    const std::string& file = Fixtures().*c.file;
    ASSERT_TRUE(engine.AddInputFile(file)) << engine.LastError();

    const TOptionState& opt = engine.Options();
    const TOptionState defaults;
    EXPECT_EQ(opt.FrameWidth, c.width ? c.width : defaults.FrameWidth);
    EXPECT_EQ(opt.FrameHeight, c.height ? c.height : defaults.FrameHeight);
    if (c.width) {
        EXPECT_FLOAT_EQ(opt.FrameAspectRatio, static_cast<float>(c.width) / c.height);
        EXPECT_EQ(av_cmp_q(opt.FrameRate, AVRational{c.fps, 1}), 0)
            << opt.FrameRate.num << "/" << opt.FrameRate.den;
        EXPECT_EQ(opt.FramePixelFormat, AV_PIX_FMT_YUV420P);
    }
    EXPECT_EQ(opt.AudioChannels, c.channels ? c.channels : defaults.AudioChannels);
    EXPECT_EQ(opt.AudioSampleRate, c.sampleRate ? c.sampleRate : defaults.AudioSampleRate);
    if (c.channels) {
        EXPECT_EQ(std::popcount(static_cast<uint64_t>(opt.ChannelLayout)), c.channels);
        EXPECT_GE(opt.AudioSampleFormat, 0);
    }

    // One codec context and one decoder slot per stream, none forced.
    const AVFormatContext* ctx = engine.Input(0).Context.get();
    ASSERT_EQ(engine.Input(0).Codecs.size(), ctx->nb_streams);
    EXPECT_EQ(engine.DecoderCount(), static_cast<int32_t>(ctx->nb_streams));
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        EXPECT_EQ(engine.Input(0).Codecs[i]->codec_id, ctx->streams[i]->codecpar->codec_id);
        EXPECT_EQ(engine.Decoder(static_cast<int>(i)), nullptr);
    }
    EXPECT_EQ(engine.InputFileCount(), 1);
    EXPECT_EQ(engine.TotalDuration(), ctx->duration);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, InputState,
    ::testing::Values(StateCase{"Mp4", &fixtures::FixtureSet::h264AacMp4, 320, 240, 25, 2, 44100},
                      StateCase{"Avi", &fixtures::FixtureSet::videoOnly, 320, 240, 25, 0, 0},
                      StateCase{"Mp3", &fixtures::FixtureSet::audioOnly, 0, 0, 0, 2, 44100},
                      StateCase{"Ac3", &fixtures::FixtureSet::surround51, 0, 0, 0, 6, 48000}),
    [](const auto& testInfo) { return std::string(testInfo.param.label); });

// Generic options reach the input's contexts: reduced-resolution decoding halves the picture.
TEST_F(InputFileTest, GenericOptionsApplyToTheInputContexts) {
    InputEngine engine;
    ASSERT_TRUE(engine.GenericOption("lowres", "1"));
    ASSERT_TRUE(engine.GenericOption("probesize", "65536"));
    ASSERT_TRUE(engine.AddInputFile(Fixtures().videoOnly)) << engine.LastError();
    EXPECT_EQ(engine.Options().FrameWidth, fixtures::kFixtureWidth / 2);
    EXPECT_EQ(engine.Options().FrameHeight, fixtures::kFixtureHeight / 2);
    EXPECT_EQ(engine.Input(0).Context->probesize, 65536);
    ASSERT_EQ(engine.Input(0).Codecs.size(), 1u);
    EXPECT_EQ(engine.Input(0).Codecs[0]->lowres, 1);
}

// Raw inputs have no header: the opening options decide how they are read.
TEST_F(InputFileTest, RawInputsAreReadWithTheOpeningOptions) {
    TempDir dir;
    const fs::path video = dir / "frames.yuv";
    WriteBytes(video, std::vector<char>(64 * 48 * 4, 'x')); // four grey frames
    const fs::path audio = dir / "tone.pcm";
    WriteBytes(audio, std::vector<char>(8000 * 3 * 2, 'x'));

    InputEngine engine;
    TOptionState& opt = engine.State();
    opt.LastAskedFormat = "rawvideo";
    opt.FrameWidth = 64;
    opt.FrameHeight = 48;
    opt.FramePixelFormat = AV_PIX_FMT_GRAY8;
    opt.FrameRate = {10, 1};
    ASSERT_TRUE(engine.AddInputFile(video.string())) << engine.LastError();
    EXPECT_EQ(opt.FrameWidth, 64);
    EXPECT_EQ(opt.FrameHeight, 48);
    EXPECT_EQ(opt.FramePixelFormat, AV_PIX_FMT_GRAY8);
    EXPECT_EQ(av_cmp_q(opt.FrameRate, AVRational{10, 1}), 0);
    EXPECT_EQ(engine.TotalDuration(), 4 * kSecond / 10);
    EXPECT_TRUE(opt.LastAskedFormat.empty());

    opt.LastAskedFormat = "s16le";
    opt.AudioSampleRate = 8000;
    opt.AudioChannels = 3;
    ASSERT_TRUE(engine.AddInputFile(audio.string())) << engine.LastError();
    EXPECT_EQ(opt.AudioSampleRate, 8000);
    EXPECT_EQ(opt.AudioChannels, 3);
    EXPECT_EQ(engine.Input(1).Context->duration, kSecond);
}

// --- Timestamp offsets and duration --------------------------------------------------------------

TEST_F(InputFileTest, StartTimeSeeksAndShiftsTheInputToZero) {
    InputEngine engine;
    engine.SetStartTime(kSecond);
    ASSERT_TRUE(engine.AddInputFile(Fixtures().mpeg2Ts)) << engine.LastError();
    const int64_t fileStart = engine.Input(0).Context->start_time;
    ASSERT_NE(fileStart, AV_NOPTS_VALUE);
    EXPECT_EQ(engine.TsOffset(0), -(kSecond + fileStart));
    EXPECT_EQ(engine.Options().StartTime, 0); // the start time belonged to that input only

    ASSERT_TRUE(engine.AddInputFile(Fixtures().mpeg2Ts)) << engine.LastError();
    EXPECT_EQ(engine.TsOffset(1), -fileStart);
}

TEST_F(InputFileTest, CopyTsKeepsTheOffsetOptionExactly) {
    InputEngine engine;
    engine.State().CopyTs = true;
    engine.State().InputTsOffsetOption = 2 * kSecond;
    engine.SetStartTime(kSecond);
    ASSERT_TRUE(engine.AddInputFile(Fixtures().mpeg2Ts)) << engine.LastError();
    EXPECT_EQ(engine.TsOffset(0), 2 * kSecond);
}

TEST_F(InputFileTest, TotalDurationIsTheLongestInput) {
    TempDir dir;
    const fs::path shortRaw = dir / "short.pcm";
    WriteBytes(shortRaw, std::vector<char>(44100 * 2 * 2 / 2, 'x')); // 0.5 s of s16le stereo

    for (bool shortFirst : {true, false}) {
        SCOPED_TRACE(shortFirst ? "short first" : "long first");
        InputEngine engine;
        auto addShort = [&] {
            engine.State().LastAskedFormat = "s16le";
            engine.State().AudioSampleRate = 44100;
            engine.State().AudioChannels = 2;
            return engine.AddInputFile(shortRaw.string());
        };
        auto addLong = [&] {
            return engine.AddInputFile(Fixtures().audioOnly);
        };
        ASSERT_TRUE(shortFirst ? addShort() : addLong()) << engine.LastError();
        ASSERT_TRUE(shortFirst ? addLong() : addShort()) << engine.LastError();
        const int64_t longDuration = engine.Input(shortFirst ? 1 : 0).Context->duration;
        EXPECT_EQ(engine.Input(shortFirst ? 0 : 1).Context->duration, kSecond / 2);
        EXPECT_EQ(engine.TotalDuration(), longDuration);
    }

    InputEngine limited;
    limited.SetRecordingTime(100 * kSecond);
    ASSERT_TRUE(limited.AddInputFile(Fixtures().audioOnly)) << limited.LastError();
    EXPECT_EQ(limited.TotalDuration(), 100 * kSecond);
}

// --- Forced decoders -------------------------------------------------------------------------------

TEST_F(InputFileTest, ForcedDecoderFillsItsSlotsAndIsConsumed) {
    InputEngine engine;
    engine.State().VideoCodecName = "h264";
    ASSERT_TRUE(engine.AddInputFile(Fixtures().h264AacMp4)) << engine.LastError();
    const AVFormatContext* ctx = engine.Input(0).Context.get();
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const bool video = ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        EXPECT_EQ(engine.Decoder(static_cast<int>(i)),
                  video ? avcodec_find_decoder_by_name("h264") : nullptr);
    }
    EXPECT_TRUE(engine.Options().VideoCodecName.empty());

    // The second input's entries follow the first's, without the consumed name.
    ASSERT_TRUE(engine.AddInputFile(Fixtures().h264AacMp4)) << engine.LastError();
    EXPECT_EQ(engine.DecoderCount(), static_cast<int32_t>(2 * ctx->nb_streams));
    EXPECT_EQ(engine.Decoder(static_cast<int>(ctx->nb_streams)), nullptr);
}

// --- Stream selection -------------------------------------------------------------------------

TEST_F(InputFileTest, ProgramAndDisableOptionsSetTheDiscardLevels) {
    InputEngine probe;
    ASSERT_TRUE(probe.AddInputFile(Fixtures().mpeg2Ts)) << probe.LastError();
    ASSERT_GE(probe.Input(0).Context->nb_programs, 1u);
    const int programId = probe.Input(0).Context->programs[0]->id;

    InputEngine engine;
    engine.SetProgramID(programId);
    engine.State().AudioDisable = true;
    ASSERT_TRUE(engine.AddInputFile(Fixtures().mpeg2Ts)) << engine.LastError();
    EXPECT_EQ(engine.Options().ProgramId, 0);
    const AVFormatContext* ctx = engine.Input(0).Context.get();
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const bool audio = ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
        EXPECT_EQ(ctx->streams[i]->discard, audio ? AVDISCARD_ALL : AVDISCARD_DEFAULT) << i;
    }
}

// --- Failures ---------------------------------------------------------------------------------

struct FailureCase {
    const char* label;
    std::function<void(InputEngine&)> prepare;
    std::function<std::string(const TempDir&)> file;
    // Expected LastError from the file name; empty: only "starts with the file name".
    std::function<std::string(const std::string&)> message;
};

std::string FileIn(const TempDir& dir, const std::string& name, const std::vector<char>& bytes) {
    WriteBytes(dir / name, bytes);
    return (dir / name).string();
}

std::vector<char> RandomBytes(size_t count) {
    std::mt19937 random(12345);
    std::vector<char> bytes(count);
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
    return bytes;
}

class InputFailure : public InputFileTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(InputFailure, ReturnsFalseWithTheReasonAndConsumesTheOptions) {
    const FailureCase& c = GetParam();
    TempDir dir;
    InputEngine engine;
    TOptionState& opt = engine.State();
    opt.AudioCodecName = "aac";
    opt.SubtitleCodecName = "subrip";
    opt.VideoChannel = 3;
    if (c.prepare)
        c.prepare(engine);
    const std::string file = c.file(dir);

    EXPECT_FALSE(engine.AddInputFile(file));
    if (c.message)
        EXPECT_EQ(engine.LastError(), c.message(file));
    else
        EXPECT_EQ(engine.LastError().rfind(file + ": ", 0), 0u) << engine.LastError();
    EXPECT_EQ(engine.InputFileCount(), 0);
    EXPECT_EQ(engine.DecoderCount(), 0);
    EXPECT_TRUE(opt.VideoCodecName.empty());
    EXPECT_TRUE(opt.AudioCodecName.empty());
    EXPECT_TRUE(opt.SubtitleCodecName.empty());
    EXPECT_EQ(opt.VideoChannel, 0);

    // The engine is still usable (a program id stays set until an input opens with it).
    engine.SetProgramID(0);
    EXPECT_TRUE(engine.AddInputFile(Fixtures().audioOnly)) << engine.LastError();
    EXPECT_EQ(engine.InputFileCount(), 1);
}

const auto kMp4 = [](const TempDir&) {
    return Fixtures().h264AacMp4;
};

INSTANTIATE_TEST_SUITE_P(
    Cases, InputFailure,
    ::testing::Values(
        FailureCase{"MissingFile", nullptr, [](const TempDir& d) { return (d / "missing.mp4").string(); },
                    [](const std::string& f) {
                        return f + ": No such file or directory";
                    }},
        FailureCase{"GarbageFile", nullptr,
                    [](const TempDir& d) { return FileIn(d, "noise.mp4", RandomBytes(64 * 1024)); }, nullptr},
        FailureCase{"EmptyFile", nullptr, [](const TempDir& d) { return FileIn(d, "empty.mp4", {}); },
                    nullptr},
        FailureCase{
            "TruncatedMp4", nullptr,
            [](const TempDir& d) { return FileIn(d, "cut.mp4", ReadPrefix(Fixtures().h264AacMp4, 2048)); },
            nullptr},
        FailureCase{"UnknownDecoder", [](InputEngine& e) { e.State().VideoCodecName = "nope"; }, kMp4,
                    [](const std::string&) {
                        return std::string("Unknown decoder 'nope'");
                    }},
        FailureCase{"MissingProgram", [](InputEngine& e) { e.SetProgramID(5); }, kMp4,
                    [](const std::string&) {
                        return std::string("Specified program id not found");
                    }}),
    [](const auto& testInfo) { return std::string(testInfo.param.label); });

TEST_F(InputFileTest, UnknownForcedFormatRaisesAndIsConsumed) {
    InputEngine engine;
    engine.State().LastAskedFormat = "xyz";
    engine.State().VideoCodecName = "h264";
    try {
        engine.AddInputFile(Fixtures().h264AacMp4);
        FAIL() << "no exception";
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "Unknown input format: \"xyz\"");
    }
    EXPECT_TRUE(engine.Options().LastAskedFormat.empty());
    EXPECT_TRUE(engine.Options().VideoCodecName.empty());
    EXPECT_EQ(engine.InputFileCount(), 0);
}

TEST_F(InputFileTest, TwentyFirstInputIsRefused) {
    InputEngine engine;
    engine.SetVerbosity(-1);
    for (int i = 0; i < kMaxFiles; ++i)
        ASSERT_TRUE(engine.AddInputFile(Fixtures().audioOnly)) << i << ": " << engine.LastError();
    EXPECT_FALSE(engine.AddInputFile(Fixtures().audioOnly));
    EXPECT_EQ(engine.LastError(), "Too many input files (at most 20)");
    EXPECT_EQ(engine.InputFileCount(), kMaxFiles);
    EXPECT_EQ(engine.DecoderCount(), kMaxFiles);
}

} // namespace
} // namespace tarnel

namespace tarnel {
namespace {

// An engine made before the libraries were loaded refuses files until they are, then works.
TEST_F(InputFileTest, FilesNeedTheLibrariesLoaded) {
    Loader().UnloadSet(kConverterLibraries);
    TCustomFFmpeg engine;
    engine.Reset();
    EXPECT_FALSE(engine.AddInputFile(Fixtures().h264AacMp4));
    EXPECT_EQ(engine.LastError(), "LibAVCodec not loaded.");
    EXPECT_LT(engine.AddOutputFile("/tmp/never.mkv"), 0);
    ASSERT_TRUE(Loader().LoadSet(kConverterLibraries));
    EXPECT_TRUE(engine.AddInputFile(Fixtures().h264AacMp4)) << engine.LastError();
}

} // namespace
} // namespace tarnel
