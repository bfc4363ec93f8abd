#include "LogCapture.h"
#include "TestSupport.h"
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "engine/BuiltinPresets.h"
#include "engine/FFmpeg.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

using namespace tarnel;

namespace {

// Reaches the option state, the generic option contexts and the opened inputs.
class PresetEngine : public TCustomFFmpeg {
public:
    PresetEngine() { Reset(); }
    TOptionState& State() { return Opt; }
    AVCodecContext* GenericVideo() { return Generic->CodecContexts[0].get(); }
    AVCodecContext* GenericAudio() { return Generic->CodecContexts[1].get(); }
    AVFormatContext* Output(int index) { return OutputFiles[index]->Context; }

    // Opens `fileName` as the next input without AddInputFile, so only its streams matter here.
    void OpenInput(const std::string& fileName) {
        AVFormatContext* context = nullptr;
        ASSERT_GE(avformat_open_input(&context, fileName.c_str(), nullptr, nullptr), 0) << fileName;
        auto input = std::make_unique<TInputFile>();
        input->Context.reset(context);
        ASSERT_GE(avformat_find_stream_info(context, nullptr), 0);
        InputFiles[inputFileCount_++] = std::move(input);
    }

    // A libx264 encoder for 320x240 yuv420p at 25 fps opened with what the options recorded. On
    // failure returns null and `error` says why; options the encoder did not take are listed in
    // `unused`.
    CodecContextPtr OpenX264(std::string& error, std::string& unused) {
        const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
        if (!encoder) {
            error = "libx264 is not available";
            return nullptr;
        }
        CodecContextPtr context(avcodec_alloc_context3(encoder));
        context->width = 320;
        context->height = 240;
        context->pix_fmt = AV_PIX_FMT_YUV420P;
        context->time_base = {1, 25};
        context->framerate = {25, 1};
        ApplyContextOptions(context.get(), GenericVideo(),
                            AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        AVDictionary* options = EncoderPrivateOptions(encoder).release();
        const int result = avcodec_open2(context.get(), encoder, &options);
        const AVDictionaryEntry* entry = nullptr;
        while ((entry = av_dict_get(options, "", entry, AV_DICT_IGNORE_SUFFIX)))
            unused += std::string(entry->key) + "=" + entry->value + " ";
        av_dict_free(&options);
        if (result < 0) {
            error = LibraryErrorText(result);
            return nullptr;
        }
        return context;
    }
};

std::string ThrownMessage(const std::function<void()>& action) {
    try {
        action();
    } catch (const FFmpegException& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

int64_t PrivateOption(AVCodecContext* context, const char* name) {
    int64_t value = INT64_MIN;
    EXPECT_GE(av_opt_get_int(context->priv_data, name, 0, &value), 0) << name;
    return value;
}

std::map<std::string, std::string> ContentMap(const std::string& content) {
    std::map<std::string, std::string> lines;
    std::istringstream stream(content);
    for (std::string line; std::getline(stream, line);) {
        const size_t equals = line.find('=');
        EXPECT_NE(equals, std::string::npos) << line;
        EXPECT_TRUE(lines.emplace(line.substr(0, equals), line.substr(equals + 1)).second)
            << "repeated " << line;
    }
    return lines;
}

class TargetsPresetsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError(); }
    // Whether a line of `level` reads exactly `message`.
    bool Logged(TLogLevel level, const std::string& message) const {
        return std::ranges::any_of(log_.Lines(), [&](const test::LogLine& line) {
            return line.level == level && line.text == message;
        });
    }

private:
    test::LogCapture log_{llVerbose};
};

// ---- Built-in table ----

TEST(BuiltinPresetsTable, FortyUniquePresetsOfKeyValueLines) {
    const auto& presets = BuiltinPresets();
    EXPECT_EQ(presets.size(), 40u);
    std::set<std::string> names;
    for (const auto& preset : presets) {
        EXPECT_TRUE(names.insert(preset.Name).second) << preset.Name;
        EXPECT_FALSE(ContentMap(preset.Content).empty()) << preset.Name;
    }
    EXPECT_EQ(FindBuiltinPreset("LIBX264-HQ"), FindBuiltinPreset("libx264-hq"));
    EXPECT_NE(FindBuiltinPreset("libx264-hq"), nullptr);
    EXPECT_EQ(FindBuiltinPreset("libx264-h"), nullptr);
}

TEST(BuiltinPresetsTable, DifferencesAppliedToTheBase) {
    auto content = [](const char* name) {
        const TOptionsPreset* preset = FindBuiltinPreset(name);
        EXPECT_NE(preset, nullptr) << name;
        return preset ? ContentMap(preset->Content) : std::map<std::string, std::string>{};
    };
    const auto base = content("libx264-fast_firstpass");
    EXPECT_EQ(base.size(), 22u);
    EXPECT_EQ(base.at("flags2"), "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip");
    EXPECT_EQ(content("libx264-medium_firstpass"), base);

    // A short preset is whole, not merged with the base.
    const std::map<std::string, std::string> baseline = {
        {"coder", "0"}, {"bf", "0"}, {"flags2", "-wpred-dct8x8"}, {"wpredp", "0"}};
    EXPECT_EQ(content("libx264-baseline"), baseline);

    auto hq = content("libx264-hq");
    EXPECT_EQ(hq.size(), 22u);
    EXPECT_EQ(hq.at("refs"), "4");
    EXPECT_EQ(hq.at("directpred"), "3");
    EXPECT_EQ(hq.at("qmax"), "51");

    auto lossless = content("libx264-lossless_ultrafast");
    for (const char* removed : {"bf", "wpredp", "refs", "trellis"})
        EXPECT_EQ(lossless.count(removed), 0u) << removed;
    EXPECT_EQ(lossless.at("cqp"), "0");
    EXPECT_EQ(lossless.size(), 22u - 4u + 1u);

    auto psp = content("libx264-psp");
    EXPECT_EQ(content("libx264-mp4"), psp);
    EXPECT_EQ(psp.at("b"), "1250000");
    EXPECT_EQ(psp.count("flags2"), 0u);
    auto ps3 = content("libx264-ps3");
    EXPECT_EQ(ps3.count("b"), 0u);
    EXPECT_EQ(ps3.at("maxrate"), "3500000");
    psp.erase("b");
    psp["maxrate"] = "3500000";
    EXPECT_EQ(ps3, psp);
}

// ---- Presets on a libx264 stream ----

TEST_F(TargetsPresetsTest, EveryBuiltinPresetOpensLibx264) {
    std::vector<std::string> failures;
    for (const auto& preset : BuiltinPresets()) {
        PresetEngine engine;
        engine.SetOption("vcodec", "libx264");
        const std::string thrown = ThrownMessage([&] { engine.ApplyPreset("vpre", preset.Name); });
        if (thrown != "(nothing thrown)") {
            failures.push_back(preset.Name + ": " + thrown);
            continue;
        }
        std::string error, unused;
        if (!engine.OpenX264(error, unused))
            failures.push_back(preset.Name + ": open failed: " + error);
        else if (!unused.empty())
            failures.push_back(preset.Name + ": not taken by the encoder: " + unused);
    }
    EXPECT_TRUE(failures.empty()) << [&] {
        std::string text;
        for (const auto& failure : failures)
            text += failure + "\n";
        return text;
    }();
}

TEST_F(TargetsPresetsTest, PresetKeysReachTheEncoder) {
    struct Case {
        const char* preset;
        std::function<void(AVCodecContext*)> check;
    };
    const std::vector<Case> cases = {
        {"libx264-baseline",
         [](AVCodecContext* c) {
             EXPECT_EQ(c->max_b_frames, 0);
             EXPECT_EQ(PrivateOption(c, "coder"), 0); // CAVLC
         }},
        {"libx264-hq",
         [](AVCodecContext* c) {
             EXPECT_EQ(c->refs, 4);
             EXPECT_EQ(c->max_b_frames, 3);
             EXPECT_EQ(c->gop_size, 250);
             EXPECT_EQ(PrivateOption(c, "direct-pred"), 3); // auto
         }},
        {"libx264-lossless_medium",
         [](AVCodecContext* c) {
             EXPECT_EQ(PrivateOption(c, "qp"), 0);
         }},
        {"libx264-ipod320",
         [](AVCodecContext* c) {
             EXPECT_EQ(c->level, 13);
             EXPECT_EQ(c->rc_max_rate, 768000);
             EXPECT_EQ(c->rc_buffer_size, 3000000);
         }},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.preset);
        PresetEngine engine;
        engine.SetOption("vcodec", "libx264");
        ASSERT_NO_THROW(engine.ApplyPreset("vpre", testCase.preset));
        std::string error, unused;
        CodecContextPtr context = engine.OpenX264(error, unused);
        ASSERT_TRUE(context) << error;
        testCase.check(context.get());
    }
}

// ---- Preset lookup and files ----

TEST_F(TargetsPresetsTest, ShortNameFoundThroughTheVideoCodecName) {
    PresetEngine engine;
    engine.SetOption("vcodec", "libx264");
    ASSERT_NO_THROW(engine.ApplyPreset("vpre", "iPod"));
    EXPECT_EQ(engine.GenericVideo()->bit_rate, 1000000);
    EXPECT_EQ(engine.GenericVideo()->rc_max_rate, 1250000);
    EXPECT_EQ(engine.GenericVideo()->level, 30);
}

TEST_F(TargetsPresetsTest, MissingPresetIsReported) {
    PresetEngine engine;
    EXPECT_EQ(ThrownMessage([&] { engine.ApplyPreset("vpre", "ipod"); }), "Preset \"ipod\" not found");
    // "fpre" reads files only, even for a built-in name.
    EXPECT_EQ(ThrownMessage([&] { engine.ApplyPreset("fpre", "libx264-hq"); }),
              "Preset \"libx264-hq\" not found");
    // An audio codec name does not prefix a video preset.
    engine.SetOption("acodec", "libx264");
    EXPECT_EQ(ThrownMessage([&] { engine.ApplyPreset("vpre", "ipod"); }), "Preset \"ipod\" not found");
    EXPECT_NO_THROW(engine.ApplyPreset("vpre", ""));
}

TEST_F(TargetsPresetsTest, PresetFileApplied) {
    test::TempDir dir;
    const std::string file = (dir / "mine.ffpreset").string();
    std::ofstream(file, std::ios::binary)
        << "\r\n  VCodec=mpeg4\r\ng = 12\r\n\r\nmaxrate=900000\rbufsize=400000\n";
    PresetEngine engine;
    ASSERT_NO_THROW(engine.ApplyPreset("fpre", file));
    EXPECT_EQ(engine.Options().VideoCodecName, "mpeg4");
    EXPECT_EQ(engine.GenericVideo()->gop_size, 12);
    EXPECT_EQ(engine.GenericVideo()->rc_max_rate, 900000);
    EXPECT_EQ(engine.GenericVideo()->rc_buffer_size, 400000);
}

TEST_F(TargetsPresetsTest, BadPresetFileLinesAreReported) {
    test::TempDir dir;
    struct Case {
        const char* content;
        const char* message; // %s: the file name
    };
    const Case cases[] = {
        {"g=12\nnovalue\n", "%s: Invalid syntax: \"novalue\""},
        {"g=12\n=5\n", "%s: Invalid syntax: \"=5\""},
        {"g=\n", "%s: Invalid syntax: \"g=\""},
        {"nosuchoption_xyz=1\n",
         "%s: Invalid option or argument: \"nosuchoption_xyz=1\", parsed as \"nosuchoption_xyz\" = \"1\""},
    };
    for (const auto& testCase : cases) {
        const std::string file = (dir / "bad.ffpreset").string();
        std::ofstream(file, std::ios::binary | std::ios::trunc) << testCase.content;
        PresetEngine engine;
        char expected[512];
        std::snprintf(expected, sizeof expected, testCase.message, file.c_str());
        EXPECT_EQ(ThrownMessage([&] { engine.ApplyPreset("vpre", file); }), expected);
    }
}

// ---- Targets ----

TEST_F(TargetsPresetsTest, TargetSettingsPerKindAndNorm) {
    struct Case {
        const char* kind;
        const char* norm;
        int width, height;
        AVRational rate;
        int gop; // 0: not set by the target (the library's default stays)
        const char* videoCodec;
        const char* format;
        int64_t videoBitRate; // 0: not set
        int audioRate;
        const char* pixelFormat; // null: unchanged
    };
    const int defaultGop = PresetEngine().GenericVideo()->gop_size;
    const Case cases[] = {
        {"vcd", "pal", 352, 288, {25, 1}, 15, "mpeg1video", "vcd", 1150000, 44100, nullptr},
        {"vcd", "ntsc", 352, 240, {30000, 1001}, 18, "mpeg1video", "vcd", 1150000, 44100, nullptr},
        {"svcd", "film", 480, 480, {24000, 1001}, 18, "mpeg2video", "svcd", 2040000, 44100, nullptr},
        {"dvd", "pal", 720, 576, {25, 1}, 15, "mpeg2video", "dvd", 6000000, 48000, nullptr},
        {"dv", "ntsc", 720, 480, {30000, 1001}, 0, "", "dv", 0, 48000, "yuv411p"},
        {"dv", "pal", 720, 576, {25, 1}, 0, "", "dv", 0, 48000, "yuv420p"},
        {"dv50", "film", 720, 480, {24000, 1001}, 0, "", "dv", 0, 48000, "yuv422p"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.norm) + "-" + c.kind);
        PresetEngine engine;
        ASSERT_NO_THROW(engine.SetTarget(c.kind, c.norm, "ntsc"));
        const TOptionState& o = engine.Options();
        EXPECT_EQ(o.FrameWidth, c.width);
        EXPECT_EQ(o.FrameHeight, c.height);
        EXPECT_EQ(av_cmp_q(o.FrameRate, c.rate), 0) << o.FrameRate.num << "/" << o.FrameRate.den;
        EXPECT_EQ(engine.GenericVideo()->gop_size, c.gop ? c.gop : defaultGop);
        EXPECT_EQ(o.VideoCodecName, c.videoCodec);
        EXPECT_EQ(o.LastAskedFormat, c.format);
        if (c.videoBitRate) {
            EXPECT_EQ(engine.GenericVideo()->bit_rate, c.videoBitRate);
        }
        EXPECT_EQ(o.AudioSampleRate, c.audioRate);
        EXPECT_EQ(o.FramePixelFormat,
                  c.pixelFormat ? av_get_pix_fmt(c.pixelFormat) : PresetEngine().Options().FramePixelFormat);
    }
}

TEST_F(TargetsPresetsTest, TargetOptionSplitsTheNorm) {
    PresetEngine pal;
    pal.SetOption("target", "pal-vcd");
    EXPECT_EQ(pal.Options().FrameWidth, 352);
    EXPECT_EQ(pal.Options().FrameHeight, 288);
    EXPECT_EQ(av_cmp_q(pal.Options().FrameRate, {25, 1}), 0);
    EXPECT_EQ(pal.GenericVideo()->gop_size, 15);
    EXPECT_EQ(pal.GenericAudio()->bit_rate, 224000);
    EXPECT_FLOAT_EQ(pal.Options().MuxPreload, 0.44f);

    PresetEngine ntsc;
    ntsc.SetOption("target", "ntsc-vcd");
    EXPECT_EQ(ntsc.Options().FrameHeight, 240);
    EXPECT_EQ(av_cmp_q(ntsc.Options().FrameRate, {30000, 1001}), 0);
    EXPECT_EQ(ntsc.GenericVideo()->gop_size, 18);

    PresetEngine unknown;
    EXPECT_EQ(ThrownMessage([&] { unknown.SetTarget("laserdisc", "pal", "ntsc"); }), "Unknown target type");
}

TEST_F(TargetsPresetsTest, DiscTargetsReachTheMuxer) {
    struct Case {
        const char* target;
        const char* file;
        int64_t muxRate;
    };
    for (const Case& c : {Case{"pal-vcd", "disc.mpg", 1411200}, Case{"pal-dvd", "disc.vob", 10080000}}) {
        test::TempDir dir;
        PresetEngine engine;
        engine.SetOption("target", c.target);
        ASSERT_EQ(engine.AddOutputFile((dir / c.file).string()), 1) << engine.LastError();
        int64_t muxRate = 0;
        ASSERT_GE(av_opt_get_int(engine.Output(0)->priv_data, "muxrate", 0, &muxRate), 0);
        EXPECT_EQ(muxRate, c.muxRate) << c.target;
    }
}

TEST_F(TargetsPresetsTest, AspectAssumedOnlyWhenUnset) {
    PresetEngine dvd;
    dvd.SetTarget("dvd", "pal", "ntsc");
    EXPECT_NEAR(dvd.Options().FrameAspectRatio, 16.0 / 9.0, 1e-5);
    EXPECT_TRUE(Logged(llInfo, "Assuming 16:9 for aspect ratio"));

    PresetEngine vcd;
    vcd.SetOption("aspect", "16:9");
    vcd.SetTarget("vcd", "pal", "ntsc");
    EXPECT_NEAR(vcd.Options().FrameAspectRatio, 16.0 / 9.0, 1e-5);
    EXPECT_FALSE(Logged(llInfo, "Assuming 4:3 for aspect ratio"));
}

TEST_F(TargetsPresetsTest, AudioChannelRules) {
    struct Case {
        const char* kind;
        int before, after;
    };
    const Case cases[] = {{"svcd", 1, 2}, {"svcd", 6, 6}, {"dvd", 1, 2},
                          {"dvd", 6, 6},  {"vcd", 6, 2},  {"dv", 1, 2}};
    for (const auto& c : cases) {
        PresetEngine engine;
        engine.State().AudioChannels = c.before;
        engine.SetTarget(c.kind, "pal", "ntsc");
        EXPECT_EQ(engine.Options().AudioChannels, c.after) << c.kind << " from " << c.before;
    }
}

TEST_F(TargetsPresetsTest, NormDerivedFromFrameRateInputsOrFallback) {
    PresetEngine byRate;
    byRate.State().FrameRate = {25, 1};
    byRate.SetTarget("vcd", "auto", "ntsc");
    EXPECT_EQ(byRate.Options().FrameHeight, 288);
    EXPECT_TRUE(Logged(llVerbose, "Assuming PAL for target."));

    // A rate of no norm: the 25 fps input decides.
    PresetEngine byInput;
    ASSERT_NO_FATAL_FAILURE(byInput.OpenInput(test::Fixtures().h264AacMp4));
    byInput.State().FrameRate = {10, 1};
    byInput.SetTarget("vcd", "auto", "ntsc");
    EXPECT_EQ(byInput.Options().FrameHeight, 288);

    // Nothing decides: the fallback does; film is reported as NTSC.
    PresetEngine byFallback;
    byFallback.State().FrameRate = {10, 1};
    byFallback.SetTarget("vcd", "auto", "film");
    EXPECT_EQ(byFallback.Options().FrameHeight, 240);
    EXPECT_EQ(av_cmp_q(byFallback.Options().FrameRate, {24000, 1001}), 0);
    EXPECT_TRUE(Logged(llVerbose, "Assuming NTSC for target."));

    PresetEngine noRate;
    EXPECT_EQ(ThrownMessage([&] { noRate.SetTarget("vcd", "auto", "ntsc"); }), "frame_rate is invalid.");
}

} // namespace
