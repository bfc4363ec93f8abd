#include "LogCapture.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "engine/BuiltinPresets.h"
#include "engine/FFmpeg.h"
#include "engine/OptionTranslation.h"

#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>

extern "C" {
#include <libavutil/opt.h>
}

using namespace tarnel;

namespace {

class OptionsEngine : public TCustomFFmpeg {
public:
    OptionsEngine() { Reset(); }
    using TCustomFFmpeg::ApplyContextOptions;
    using TCustomFFmpeg::EncoderPrivateOptions;
    using TCustomFFmpeg::Generic;
    using TCustomFFmpeg::InputTsScale;
    using TCustomFFmpeg::MetadataMapCount;
    using TCustomFFmpeg::MetadataMaps;
    using TCustomFFmpeg::StreamIdMap;
    using TCustomFFmpeg::StreamMapCount;
    using TCustomFFmpeg::StreamMaps;

    AVCodecContext* GenericContext(int index) { return Generic->CodecContexts[index].get(); }
};

class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError(); }
    bool Logged(TLogLevel level, const std::string& text) const { return log_.Logged(level, text); }

    test::LogCapture log_;
};

using TSteps = std::vector<std::pair<std::string, std::string>>;

struct TOptionCase {
    const char* Label;
    TSteps Steps;
    const char* Error; // message of an FFmpegException raised by the last step, or null
    std::function<void(OptionsEngine& engine)> Check;
};

const TOptionState kDefaults{};

std::vector<TOptionCase> OptionCases() {
    return {
        {"empty boolean is true",
         {{"dump", ""}},
         nullptr,
         [](auto& e) {
             EXPECT_TRUE(e.Options().PacketDump);
         }},
        {"boolean 0 is false",
         {{"dump", ""}, {"dump", "0"}},
         nullptr,
         [](auto& e) {
             EXPECT_FALSE(e.Options().PacketDump);
         }},
        {"other boolean text is true",
         {{"shortest", "no"}},
         nullptr,
         [](auto& e) {
             EXPECT_TRUE(e.Options().Shortest);
         }},
        {"qscale 0", {{"qscale", "0"}}, "qscale must be > 0.0 and <= 255", nullptr},
        {"qscale 255.5", {{"qscale", "255.5"}}, "qscale must be > 0.0 and <= 255", nullptr},
        {"qscale 255",
         {{"qscale", "255"}},
         nullptr,
         [](auto& e) {
             EXPECT_FLOAT_EQ(e.Options().VideoQScale, 255.0f);
         }},
        {"pass 3", {{"pass", "3"}}, "pass number can be only 1 or 2", nullptr},
        {"pass 2",
         {{"pass", "2"}},
         nullptr,
         [](auto& e) {
             EXPECT_EQ(e.Options().Pass, 2);
         }},
        {"ar 0 and ac -1 keep defaults",
         {{"ar", "0"}, {"ac", "-1"}},
         nullptr,
         [](auto& e) {
             EXPECT_EQ(e.Options().AudioSampleRate, kDefaults.AudioSampleRate);
             EXPECT_EQ(e.Options().AudioChannels, kDefaults.AudioChannels);
         }},
        {"ar 48000",
         {{"ar", "48000"}},
         nullptr,
         [](auto& e) {
             EXPECT_EQ(e.Options().AudioSampleRate, 48000);
         }},
        {"aspect 16:0", {{"aspect", "16:0"}}, "Incorrect aspect ratio specification.", nullptr},
        {"aspect negative", {{"aspect", "-4:3"}}, "Incorrect aspect ratio specification.", nullptr},
        {"aspect 4:3",
         {{"aspect", "4:3"}},
         nullptr,
         [](auto& e) {
             EXPECT_NEAR(e.Options().FrameAspectRatio, 4.0 / 3.0, 1e-4);
         }},
        {"aspect 1.78",
         {{"aspect", "1.78"}},
         nullptr,
         [](auto& e) {
             EXPECT_FLOAT_EQ(e.Options().FrameAspectRatio, 1.78f);
         }},
        {"croptop 0 ignored",
         {{"s", "320x240"}, {"croptop", "0"}},
         nullptr,
         [](auto& e) {
             EXPECT_EQ(e.Options().CropTop, 0);
             EXPECT_EQ(e.Options().FrameHeight, 240);
         }},
        {"croptop 10",
         {{"s", "320x240"}, {"croptop", "10"}},
         nullptr,
         [](auto& e) {
             EXPECT_EQ(e.Options().CropTop, 10);
             EXPECT_EQ(e.Options().FrameHeight, 230);
         }},
        {"croptop = height",
         {{"s", "320x240"}, {"croptop", "240"}},
         "Vertical crop dimensions are outside the range of the original image.\nRemember to crop first and "
         "scale "
         "second.",
         nullptr},
        {"cropright = width",
         {{"s", "320x240"}, {"cropright", "320"}},
         "Horizontal crop dimensions are outside the range of the original image.\nRemember to crop first "
         "and scale "
         "second.",
         nullptr},
        {"f pgmyuv",
         {{"f", "pgmyuv"}},
         nullptr,
         [](auto& e) {
             EXPECT_EQ(e.Options().LastAskedFormat, "image2");
             EXPECT_TRUE(e.Options().PgmyuvHack);
         }},
        {"threads 3",
         {{"threads", "3"}},
         nullptr,
         [](auto& e) {
             EXPECT_EQ(e.Options().ThreadCount, 3);
         }},
        {"y and i",
         {{"y", ""}, {"i", "in.avi"}},
         nullptr,
         [](auto& e) {
             EXPECT_EQ(e.Options().LastAskedFormat, kDefaults.LastAskedFormat);
             EXPECT_EQ(e.InputFileCount(), 0);
         }},
        {"unknown name",
         {{"no_such_option_here", "12"}},
         nullptr,
         [](auto& e) {
             EXPECT_TRUE(e.Generic->Names.empty());
             EXPECT_TRUE(e.Generic->PrivateOptions.empty());
         }},
        {"metadata without =", {{"metadata", "title"}}, "Missing =", nullptr},
        {"metadata",
         {{"metadata", "title=a=b"}},
         nullptr,
         [](auto& e) {
             ASSERT_EQ(e.PendingMetadata().size(), 1u);
             EXPECT_EQ(e.PendingMetadata()[0].first, "title");
             EXPECT_EQ(e.PendingMetadata()[0].second, "a=b");
         }},
        {"itsscale 20", {{"itsscale", "20:2"}}, "stream index over MAX_STREAMS(20)", nullptr},
        {"itsscale -1", {{"itsscale", "-1:2"}}, "stream index over MAX_STREAMS(20)", nullptr},
        {"itsscale 1",
         {{"itsscale", "1:2.5"}},
         nullptr,
         [](auto& e) {
             EXPECT_DOUBLE_EQ(e.InputTsScale[0][1], 2.5);
         }},
        {"vtag DIVX",
         {{"vtag", "DIVX"}},
         nullptr,
         [](auto& e) {
             EXPECT_EQ(e.Options().VideoCodecTag, MKTAG('D', 'I', 'V', 'X'));
         }},
        {"s vga",
         {{"s", "vga"}},
         nullptr,
         [](auto& e) {
             EXPECT_EQ(e.Options().FrameWidth, 640);
             EXPECT_EQ(e.Options().FrameHeight, 480);
         }},
        {"s bad", {{"s", "12y"}}, "Incorrect frame size", nullptr},
        {"r ntsc",
         {{"r", "30000/1001"}},
         nullptr,
         [](auto& e) {
             EXPECT_EQ(av_cmp_q(e.Options().FrameRate, AVRational{30000, 1001}), 0);
         }},
        {"r bad", {{"r", "fast"}}, "Incorrect frame rate", nullptr},
        {"t 1:30",
         {{"t", "1:30"}},
         nullptr,
         [](auto& e) {
             EXPECT_EQ(e.Options().RecordingTime, 90 * AV_TIME_BASE);
             EXPECT_EQ(e.TotalDuration(), 90 * AV_TIME_BASE);
         }},
        {"t bad", {{"t", "x"}}, "Invalid duration specification for t: x", nullptr},
        {"ss 2.5",
         {{"ss", "2.5"}},
         nullptr,
         [](auto& e) {
             EXPECT_EQ(e.Options().StartTime, 2500000);
         }},
        {"timestamp bad",
         {{"timestamp", "yesterday"}},
         "Invalid date specification for timestamp: yesterday",
         nullptr},
        {"padtop", {{"padtop", "4"}}, "Please use vfilters=pad", nullptr},
        {"vcodec copy keeps copying",
         {{"vcodec", "copy"}, {"vcodec", "mpeg4"}},
         nullptr,
         [](auto& e) {
             EXPECT_TRUE(e.Options().VideoStreamCopy);
             EXPECT_EQ(e.Options().VideoCodecName, "mpeg4");
         }},
        {"matrix too short",
         {{"intra_matrix", "8,9,10"}},
         "Syntax error in matrix \"8,9,10\" at coeff 2",
         nullptr},
        {"streamid without value",
         {{"streamid", "1"}},
         "Invalid value \"1\" for option \"streamid\", required syntax is \"index:value\"",
         nullptr},
        {"streamid beyond table",
         {{"streamid", "20:5"}},
         "Stream id index 20 is outside the table (0 to 19)",
         nullptr},
        {"streamid",
         {{"streamid", "19:5"}},
         nullptr,
         [](auto& e) {
             EXPECT_EQ(e.StreamIdMap[19], 5);
         }},
        {"unknown bitstream filter",
         {{"vbsf", "no_such_bsf"}},
         "Unknown bitstream filter no_such_bsf",
         nullptr},
        {"bitstream filter",
         {{"absf", "aac_adtstoasc"}},
         nullptr,
         [](auto& e) {
             EXPECT_EQ(e.Options().AudioBsfChain, TBsfChain{"aac_adtstoasc"});
         }},
        {"newvideo without output",
         {{"newvideo", ""}},
         "At least one output file must be specified",
         nullptr},
    };
}

TEST_F(OptionsTest, OptionValuesAndMessages) {
    for (const TOptionCase& c : OptionCases()) {
        SCOPED_TRACE(c.Label);
        OptionsEngine engine;
        for (size_t i = 0; i + 1 < c.Steps.size(); ++i)
            engine.SetOption(c.Steps[i].first, c.Steps[i].second);
        const auto& [name, value] = c.Steps.back();
        if (c.Error) {
            try {
                engine.SetOption(name, value);
                ADD_FAILURE() << "no exception";
            } catch (const FFmpegException& e) {
                EXPECT_STREQ(e.what(), c.Error);
            }
            continue;
        }
        EXPECT_NO_THROW(engine.SetOption(name, value));
        c.Check(engine);
    }
}

TEST_F(OptionsTest, MalformedValuesRaiseTheirOwnErrors) {
    OptionsEngine engine;
    EXPECT_THROW(engine.SetOption("vframes", "many"), std::invalid_argument);
    try {
        engine.SetOption("vtag", "XVID1");
        ADD_FAILURE() << "no exception";
    } catch (const FFmpegException&) {
        ADD_FAILURE() << "a tag of the wrong length is not an engine error";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "video tag parameter must be 4 chars");
    }
}

TEST_F(OptionsTest, IgnoredOptionsOnlyLog) {
    OptionsEngine engine;
    engine.SetOption("y", "");
    EXPECT_TRUE(Logged(llInfo, "Do nothing: option - y"));
    engine.SetOption("f", "pgmyuv");
    EXPECT_TRUE(Logged(llInfo, "pgmyuv format is deprecated, use image2"));
}

TEST_F(OptionsTest, StreamMapsAndTheirBounds) {
    OptionsEngine engine;
    engine.SetOption("map", "0:1");
    engine.SetOption("map", "0.1:1.0");
    ASSERT_EQ(engine.StreamMapCount, 2);
    const TStreamMap self = engine.StreamMaps[0];
    EXPECT_EQ((std::array{self.FileIndex, self.StreamIndex, self.SyncFileIndex, self.SyncStreamIndex}),
              (std::array{0, 1, 0, 1}));
    const TStreamMap synced = engine.StreamMaps[1];
    EXPECT_EQ(
        (std::array{synced.FileIndex, synced.StreamIndex, synced.SyncFileIndex, synced.SyncStreamIndex}),
        (std::array{0, 1, 1, 0}));

    while (engine.StreamMapCount < static_cast<int>(engine.StreamMaps.size()))
        engine.SetOption("map", "0:0");
    EXPECT_THROW(engine.SetOption("map", "0:0"), FFmpegException);
    EXPECT_EQ(engine.StreamMapCount, static_cast<int>(engine.StreamMaps.size()));

    while (engine.MetadataMapCount < static_cast<int>(engine.MetadataMaps.size()))
        engine.SetOption("map_meta_data", "0:0");
    EXPECT_THROW(engine.SetOption("map_meta_data", "0:0"), FFmpegException);
}

CodecContextPtr EncoderContext(const char* name) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    return CodecContextPtr(codec ? avcodec_alloc_context3(codec) : nullptr);
}

TEST_F(OptionsTest, GenericOptionsReachRealCodecContexts) {
    OptionsEngine engine;
    engine.SetOption("g", "12");
    engine.SetOption("b", "500k");
    engine.SetOption("ab", "96k");
    engine.SetOption("flags", "+qscale");
    EXPECT_FALSE(Logged(llWarning, "bitrate parameter is set too low"));

    CodecContextPtr video = EncoderContext("mpeg4");
    CodecContextPtr audio = EncoderContext("mp2");
    ASSERT_TRUE(video && audio);
    engine.ApplyContextOptions(video.get(), engine.GenericContext(0),
                               AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    engine.ApplyContextOptions(audio.get(), engine.GenericContext(1),
                               AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(video->gop_size, 12);
    EXPECT_EQ(video->bit_rate, 500000);
    EXPECT_TRUE(video->flags & AV_CODEC_FLAG_QSCALE);
    EXPECT_EQ(audio->bit_rate, 96000);

    // The video bit rate alone leaves the audio encoder's own default alone.
    OptionsEngine videoOnly;
    videoOnly.SetOption("b", "500k");
    CodecContextPtr untouched = EncoderContext("mp2");
    const int64_t defaultRate = untouched->bit_rate;
    videoOnly.ApplyContextOptions(untouched.get(), videoOnly.GenericContext(1),
                                  AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(untouched->bit_rate, defaultRate);

    engine.SetOption("vb", "500");
    EXPECT_TRUE(
        Logged(llWarning,
               "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s"));
    EXPECT_FALSE(engine.GenericOption("g", "twelve"));
    EXPECT_FALSE(engine.GenericOption("", "1"));
}

TEST_F(OptionsTest, PrivateEncoderOptionsWaitForTheirEncoder) {
    OptionsEngine engine;
    EXPECT_FALSE(engine.GenericOption("crf", "20")) << "no encoder chosen that knows it";
    engine.SetOption("vcodec", "libx264");
    EXPECT_TRUE(engine.GenericOption("crf", "20"));
    engine.SetOption("preset", "veryfast");
    EXPECT_FALSE(engine.GenericOption("crf", "much")) << "the encoder refuses the value";

    DictionaryPtr x264 = engine.EncoderPrivateOptions(avcodec_find_encoder_by_name("libx264"));
    ASSERT_TRUE(x264);
    EXPECT_EQ(av_dict_count(x264.get()), 2);
    EXPECT_STREQ(av_dict_get(x264.get(), "crf", nullptr, 0)->value, "20");
    EXPECT_STREQ(av_dict_get(x264.get(), "preset", nullptr, 0)->value, "veryfast");
    EXPECT_FALSE(engine.EncoderPrivateOptions(avcodec_find_encoder_by_name("mpeg4")));
}

// Opens libx264 for a small picture with the engine's recorded options; leftovers are options the
// encoder did not take.
void ExpectX264Opens(OptionsEngine& engine) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    CodecContextPtr context(avcodec_alloc_context3(codec));
    context->width = 64;
    context->height = 64;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = {1, 25};
    engine.ApplyContextOptions(context.get(), engine.GenericContext(0),
                               AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    AVDictionary* options = engine.EncoderPrivateOptions(codec).release();
    const int opened = avcodec_open2(context.get(), codec, &options);
    const DictionaryPtr leftovers(options);
    EXPECT_GE(opened, 0);
    EXPECT_EQ(av_dict_count(leftovers.get()), 0);
}

TEST_F(OptionsTest, OldX264NamesBecomeTodaysOptions) {
    OptionsEngine engine;
    engine.SetOption("vcodec", "libx264");
    for (const auto& [name, value] : TSteps{{"directpred", "3"},
                                            {"flags2", "+bpyramid-wpred+fast"},
                                            {"cqp", "0"},
                                            {"flags", "-loop+qscale"},
                                            {"partitions", "-parti8x8+parti4x4+partp8x8"},
                                            {"me_method", "umh"},
                                            {"wpredp", "2"}})
        EXPECT_TRUE(engine.GenericOption(name, value)) << name;

    const DictionaryPtr options = engine.EncoderPrivateOptions(avcodec_find_encoder_by_name("libx264"));
    const std::pair<const char*, const char*> expected[] = {
        {"direct-pred", "auto"}, {"b-pyramid", "normal"},     {"weightb", "0"},      {"qp", "0"},
        {"deblock", "0"},        {"partitions", "i4x4,p8x8"}, {"motion-est", "umh"}, {"weightp", "smart"}};
    for (const auto& [name, value] : expected) {
        const AVDictionaryEntry* entry = av_dict_get(options.get(), name, nullptr, 0);
        ASSERT_TRUE(entry) << name;
        EXPECT_STREQ(entry->value, value) << name;
    }
    // Flags that still exist stay generic.
    EXPECT_TRUE(engine.GenericContext(0)->flags & AV_CODEC_FLAG_QSCALE);
    EXPECT_TRUE(engine.GenericContext(0)->flags2 & AV_CODEC_FLAG2_FAST);
    ExpectX264Opens(engine);
}

TEST_F(OptionsTest, EveryBuiltinPresetOpensX264) {
    for (const TOptionsPreset& preset : BuiltinPresets()) {
        SCOPED_TRACE(preset.Name);
        OptionsEngine engine;
        engine.SetOption("vcodec", "libx264");
        ASSERT_NO_THROW(engine.SetOption("vpre", preset.Name));
        EXPECT_GT(av_dict_count(engine.EncoderPrivateOptions(avcodec_find_encoder_by_name("libx264")).get()),
                  0);
        ExpectX264Opens(engine);
    }
}

TEST_F(OptionsTest, TranslationTableMatchesTodaysEncoders) {
    const AVClass* generic = avcodec_get_class();
    for (const std::string& legacy : LegacyOptionNames())
        EXPECT_FALSE(av_opt_find2(&generic, legacy.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ, nullptr))
            << legacy;
    for (const std::string& current : TranslatedOptionNames()) {
        bool known = false;
        for (const char* encoder : {"libx264", "mpeg2video"}) {
            auto* privateClass =
                const_cast<const AVClass**>(&avcodec_find_encoder_by_name(encoder)->priv_class);
            known = known ||
                    av_opt_find2(privateClass, current.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ, nullptr);
        }
        EXPECT_TRUE(known) << current;
    }
}

TEST_F(OptionsTest, EncoderAliasesOnlyForMissingEncoders) {
    EXPECT_EQ(CurrentEncoderName("libx264"), "libx264");
    EXPECT_EQ(CurrentEncoderName("no_such_encoder"), "no_such_encoder");
    ASSERT_FALSE(avcodec_find_encoder_by_name("libfaac"));
    EXPECT_EQ(CurrentEncoderName("libfaac"), "aac");
    EXPECT_TRUE(Logged(llWarning, "\"libfaac\""));
}

} // namespace
