#include "LogCapture.h"
#include "TestSupport.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "engine/CodecChoices.h"
#include "engine/FFmpeg.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
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

// Reaches the engine's option state, output tables and stream constructors.
class OutputEngine : public TCustomFFmpeg {
public:
    OutputEngine() { Reset(); }
    TOptionState& State() { return Opt; }
    TOutputFile& Output(int file) { return *OutputFiles[file]; }
    const TOutputFile* OutputEntry(int file) const { return OutputFiles[file].get(); }
    const AVCodec* Encoder(int entry) const { return OutputEncoders[entry]; }
    int32_t EncoderCount() const { return OutputEncoderCount; }
    int64_t InputDuration(int file) const { return InputFiles[file]->Context->duration; }
    AVCodecContext* GenericCodec(int kind) { return Generic->CodecContexts[kind].get(); }
    void AddVideoStream(int file) { NewVideoStream(*OutputFiles[file]); }
    void AddAudioStream(int file) { NewAudioStream(*OutputFiles[file]); }
    bool LookupCodec(const std::string& name, AVMediaType type, AVCodecID& id, const AVCodec** found) {
        return FindCodec(name, type, id, FF_COMPLIANCE_NORMAL, true, found);
    }
    bool Lookup(const std::string& name, AVMediaType type, AVCodecID& id, int strictness, bool encoder) {
        return FindCodec(name, type, id, strictness, encoder);
    }
    std::string PassLog(int index) const { return PassLogFileName(index); }
    CFilePtr CreatePassOne(int index) const { return CreatePassOneLog(index); }
    void LoadPassTwo(AVCodecContext* codec, int index) const { LoadPassTwoLog(codec, index); }

    void Open(const std::string& fileName) { ASSERT_TRUE(AddInputFile(fileName)) << LastError(); }
};

class OutputFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError();
    }
    std::string OutPath(const std::string& name) const { return (dir_ / name).string(); }

    TempDir dir_;
};

std::string MetadataValue(const AVDictionary* metadata, const char* key) {
    const AVDictionaryEntry* entry = av_dict_get(metadata, key, nullptr, AV_DICT_MATCH_CASE);
    return entry ? entry->value : "<none>";
}

// --- Format choice --------------------------------------------------------------------------

TEST_F(OutputFileTest, UnknownFormatsFailWithTheirMessages) {
    struct Case {
        std::string askedFormat;
        std::string fileName;
        std::string expected;
    };
    const std::string unknownExtension = OutPath("out.nosuchextension");
    const Case cases[] = {
        {"nosuchformat", OutPath("out.mp4"),
         "Requested output format 'nosuchformat' is not a suitable output format"},
        {"", unknownExtension, "Unable to find a suitable output format for '" + unknownExtension + "'"},
        // The streaming-server feed format is gone from the libraries.
        {"ffm", "http://localhost:8090/feed1.ffm",
         "Requested output format 'ffm' is not a suitable output format"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileName);
        OutputEngine engine;
        engine.State().LastAskedFormat = c.askedFormat;
        EXPECT_EQ(engine.AddOutputFile(c.fileName), -1);
        EXPECT_EQ(engine.LastError(), c.expected);
        EXPECT_EQ(engine.OutputFileCount(), 0);
        EXPECT_FALSE(fs::exists(c.fileName));
    }
}

TEST_F(OutputFileTest, AskedFormatIsUsedAndConsumed) {
    OutputEngine engine;
    engine.Open(Fixtures().audioOnly);
    engine.State().LastAskedFormat = "adts";
    ASSERT_EQ(engine.AddOutputFile(OutPath("out.mp3")), 1) << engine.LastError();
    EXPECT_STREQ(engine.Output(0).Context->oformat->name, "adts");
    EXPECT_TRUE(engine.State().LastAskedFormat.empty());
    ASSERT_EQ(engine.Output(0).Streams.size(), 1u);
    EXPECT_EQ(engine.Output(0).Streams[0].Codec->codec_id, AV_CODEC_ID_AAC);
}

// --- Streams from the inputs and the option state -------------------------------------------

TEST_F(OutputFileTest, Mp3OutputGetsOneAudioStreamOnlyWhenAnInputHasAudio) {
    struct Case {
        std::string input;
        size_t streams;
    };
    const Case cases[] = {
        {Fixtures().videoOnly, 0},
        {Fixtures().audioOnly, 1},
        {Fixtures().h264AacMp4, 1}, // the format's cover-art picture codec is no video stream
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        OutputEngine engine;
        engine.Open(c.input);
        const std::string output = OutPath("out.mp3");
        ASSERT_EQ(engine.AddOutputFile(output), 1) << engine.LastError();
        const TOutputFile& file = engine.Output(0);
        ASSERT_EQ(file.Streams.size(), c.streams);
        EXPECT_EQ(file.Context->nb_streams, c.streams);
        EXPECT_EQ(engine.EncoderCount(), static_cast<int32_t>(c.streams));
        EXPECT_EQ(file.FileName, output);
        if (c.streams == 1) {
            const TOutputStream& stream = file.Streams[0];
            EXPECT_EQ(stream.Codec->codec_type, AVMEDIA_TYPE_AUDIO);
            EXPECT_EQ(stream.Codec->codec_id, AV_CODEC_ID_MP3);
            EXPECT_FALSE(stream.StreamCopy);
            EXPECT_EQ(stream.Encoder, nullptr); // chosen by id, not by name
            EXPECT_EQ(engine.Encoder(0), nullptr);
            EXPECT_EQ(stream.Codec->sample_rate, 44100);
            EXPECT_EQ(stream.Codec->ch_layout.nb_channels, 2);
            EXPECT_EQ(stream.Codec->time_base.den, 44100);
        }
    }
}

TEST_F(OutputFileTest, OutputFreedWithoutDataLeavesNoFile) {
    OutputEngine engine;
    engine.Open(Fixtures().audioOnly);
    const std::string output = OutPath("empty.mp3");
    ASSERT_EQ(engine.AddOutputFile(output), 1) << engine.LastError();
    ASSERT_TRUE(fs::exists(output)); // opened for writing
    EXPECT_EQ(fs::file_size(output), 0u);
    engine.FreeAll();
    EXPECT_FALSE(fs::exists(output));
}

TEST_F(OutputFileTest, ExistingFileIsReplaced) {
    const std::string output = OutPath("existing.mp3");
    std::ofstream(output) << "old contents";
    OutputEngine engine;
    engine.Open(Fixtures().audioOnly);
    ASSERT_EQ(engine.AddOutputFile(output), 1) << engine.LastError();
    EXPECT_EQ(fs::file_size(output), 0u);
}

TEST_F(OutputFileTest, NameTheLibrariesWouldMisreadIsOpenedVerbatim) {
    const std::string output = OutPath("bad\xff name.mp3"); // not valid UTF-8
    OutputEngine engine;
    engine.Open(Fixtures().audioOnly);
    ASSERT_EQ(engine.AddOutputFile(output), 1) << engine.LastError();
    EXPECT_EQ(std::string(engine.Output(0).Context->url).rfind("unicode:", 0), 0u);
    EXPECT_TRUE(fs::exists(output));
}

TEST_F(OutputFileTest, CopiedVideoThenANewEncodedVideoStream) {
    OutputEngine engine;
    engine.Open(Fixtures().h264AacMp4);
    TOptionState& opt = engine.State();
    opt.VideoStreamCopy = true;
    opt.AudioDisable = true;
    opt.FrameAspectRatio = 16.0f / 9.0f; // 320x240 shown at 16:9 needs 4:3 pixels
    opt.VideoLanguage = "deu";
    opt.VideoBsfChain = {"h264_mp4toannexb"};
    ASSERT_EQ(engine.AddOutputFile(OutPath("out.mp4")), 1) << engine.LastError();

    TOutputFile& file = engine.Output(0);
    ASSERT_EQ(file.Streams.size(), 1u);
    const TOutputStream& copied = file.Streams[0];
    EXPECT_TRUE(copied.StreamCopy);
    EXPECT_EQ(copied.Encoder, nullptr);
    EXPECT_EQ(av_cmp_q(copied.Codec->sample_aspect_ratio, AVRational{4, 3}), 0);
    EXPECT_EQ(av_cmp_q(copied.Stream->sample_aspect_ratio, AVRational{4, 3}), 0);
    EXPECT_EQ(MetadataValue(copied.Stream->metadata, "language"), "deu");
    EXPECT_FALSE(opt.VideoStreamCopy);
    EXPECT_TRUE(opt.AudioDisable); // left alone: no audio stream consumed it
    EXPECT_TRUE(opt.VideoLanguage.empty());
    EXPECT_TRUE(opt.VideoBsfChain.empty());

    opt.VideoCodecName = "libx264";
    opt.FramePixelFormat = AV_PIX_FMT_RGB24; // not among libx264's formats
    engine.AddVideoStream(0);
    ASSERT_EQ(file.Streams.size(), 2u);
    EXPECT_EQ(file.Context->nb_streams, 2u);
    const TOutputStream& encoded = file.Streams[1];
    const AVCodec* x264 = avcodec_find_encoder_by_name("libx264");
    ASSERT_NE(x264, nullptr);
    EXPECT_FALSE(encoded.StreamCopy);
    EXPECT_EQ(encoded.Encoder, x264);
    EXPECT_EQ(engine.Encoder(1), x264);
    EXPECT_EQ(engine.EncoderCount(), 2);
    EXPECT_EQ(encoded.Codec->codec_id, AV_CODEC_ID_H264);
    EXPECT_EQ(encoded.Codec->pix_fmt, x264->pix_fmts[0]);
    EXPECT_EQ(encoded.Codec->width, 320);
    EXPECT_EQ(encoded.Codec->height, 240);
    EXPECT_EQ(av_cmp_q(encoded.Codec->time_base, AVRational{1, 25}), 0);
    EXPECT_TRUE(encoded.Codec->flags & AV_CODEC_FLAG_GLOBAL_HEADER); // mp4 wants global headers
    EXPECT_TRUE(opt.VideoCodecName.empty());
    EXPECT_EQ(opt.FramePixelFormat, -1);
}

TEST_F(OutputFileTest, NewStreamsGetThePendingFilterChainOfTheirOwnOutput) {
    OutputEngine engine;
    engine.Open(Fixtures().audioOnly);
    ASSERT_EQ(engine.AddOutputFile(OutPath("a.mp3")), 1) << engine.LastError();
    ASSERT_EQ(engine.AddOutputFile(OutPath("b.mp3")), 2) << engine.LastError();
    engine.State().AudioBsfChain = {"null"};
    engine.AddAudioStream(0);
    EXPECT_EQ(engine.Output(0).Streams.size(), 2u);
    EXPECT_EQ(engine.Output(1).Streams.size(), 1u);
    EXPECT_TRUE(engine.State().AudioBsfChain.empty());
}

TEST_F(OutputFileTest, EncodedVideoParametersFromTheOptionState) {
    struct Case {
        std::string rcOverride;
        std::vector<RcOverride> expected;
    };
    const Case cases[] = {
        {"", {}},
        {"0,10,5", {{0, 10, 5, 1.0f}}},
        {"0,10,5/11,20,-50", {{0, 10, 5, 1.0f}, {11, 20, 0, 0.5f}}},
        {"3,4,-20/5,6,2", {{3, 4, 0, 0.2f}, {5, 6, 2, 1.0f}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rcOverride);
        OutputEngine engine;
        TOptionState& opt = engine.State();
        opt.FrameWidth = 64;
        opt.FrameHeight = 48;
        opt.FrameRate = {30000, 1001};
        opt.VideoCodecName = "mpeg4";
        opt.VideoQScale = 3.0f;
        opt.IntraOnly = true;
        opt.Pass = 2;
        opt.Psnr = true;
        opt.RcOverride = c.rcOverride;
        TMatrix matrix;
        matrix.fill(16);
        opt.IntraMatrix = matrix;
        ASSERT_EQ(engine.AddOutputFile(OutPath("out.avi")), 1) << engine.LastError();
        const AVCodecContext* codec = engine.Output(0).Streams.at(0).Codec.get();
        EXPECT_EQ(codec->codec_id, AV_CODEC_ID_MPEG4);
        EXPECT_EQ(av_cmp_q(codec->time_base, AVRational{1001, 30000}), 0);
        EXPECT_EQ(codec->gop_size, 0);
        EXPECT_TRUE(codec->flags & AV_CODEC_FLAG_QSCALE);
        EXPECT_EQ(codec->global_quality, 3 * FF_QP2LAMBDA);
        EXPECT_TRUE(codec->flags & AV_CODEC_FLAG_PASS2);
        EXPECT_TRUE(codec->flags & AV_CODEC_FLAG_PSNR);
        ASSERT_NE(codec->intra_matrix, nullptr);
        EXPECT_EQ(codec->intra_matrix[63], 16);
        ASSERT_EQ(codec->rc_override_count, static_cast<int>(c.expected.size()));
        for (size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(codec->rc_override[i].start_frame, c.expected[i].start_frame);
            EXPECT_EQ(codec->rc_override[i].end_frame, c.expected[i].end_frame);
            EXPECT_EQ(codec->rc_override[i].qscale, c.expected[i].qscale);
            EXPECT_FLOAT_EQ(codec->rc_override[i].quality_factor, c.expected[i].quality_factor);
        }
    }
}

TEST_F(OutputFileTest, StreamConstructorFailuresNameTheConstructor) {
    struct Case {
        std::string videoCodec;
        std::string audioCodec;
        std::string rcOverride;
        std::string expected;
    };
    const Case cases[] = {
        {"aac", "", "", "new_video_stream fail: Invalid encoder type 'aac'"},
        {"nosuchencoder", "", "", "new_video_stream fail: Unknown encoder 'nosuchencoder'"},
        {"mpeg4", "", "1,2", "new_video_stream fail: error parsing rc_override"},
        {"mpeg4", "", "1,2,3/4,x,6", "new_video_stream fail: error parsing rc_override"},
        {"mpeg4", "libx264", "", "new_audio_stream fail: Invalid encoder type 'libx264'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        OutputEngine engine;
        engine.Open(Fixtures().h264AacMp4);
        engine.State().VideoCodecName = c.videoCodec;
        engine.State().AudioCodecName = c.audioCodec;
        engine.State().RcOverride = c.rcOverride;
        engine.State().VideoBsfChain = {"null"};
        const std::string output = OutPath("out.mp4");
        EXPECT_EQ(engine.AddOutputFile(output), -1);
        EXPECT_EQ(engine.LastError(), c.expected);
        EXPECT_EQ(engine.OutputFileCount(), 0);
        EXPECT_EQ(engine.EncoderCount(), 0); // also after a video stream was made
        EXPECT_FALSE(fs::exists(output));
    }
}

TEST_F(OutputFileTest, FirstGivenMetadataEntryWins) {
    OutputEngine engine;
    engine.Open(Fixtures().audioOnly);
    engine.AddMetadata("title", "First");
    engine.AddMetadata("artist", "Someone");
    engine.AddMetadata("title", "Second");
    ASSERT_EQ(engine.AddOutputFile(OutPath("out.mp3")), 1) << engine.LastError();
    const AVDictionary* metadata = engine.Output(0).Context->metadata;
    EXPECT_EQ(MetadataValue(metadata, "title"), "First");
    EXPECT_EQ(MetadataValue(metadata, "artist"), "Someone");
    EXPECT_TRUE(engine.PendingMetadata().empty());
}

TEST_F(OutputFileTest, MuxerSettingsFromTheOptionState) {
    OutputEngine engine;
    engine.Open(Fixtures().audioOnly);
    engine.State().MuxMaxDelay = 0.25f;
    engine.State().RecordingTimestamp = 86400; // 1970-01-02
    ASSERT_EQ(engine.AddOutputFile(OutPath("out.mp3")), 1) << engine.LastError();
    const AVFormatContext* context = engine.Output(0).Context;
    EXPECT_EQ(context->max_delay, 250000);
    EXPECT_TRUE(context->flags & AVFMT_FLAG_NONBLOCK);
    EXPECT_EQ(MetadataValue(context->metadata, "creation_time"), "1970-01-02T00:00:00.000000Z");
}

// --- Join mode and limits -------------------------------------------------------------------

TEST_F(OutputFileTest, JoinListsTheOutputOncePerInput) {
    OutputEngine engine;
    const std::string inputs[] = {Fixtures().h264AacMp4, Fixtures().mpeg2Ts, Fixtures().withSubtitles};
    int64_t sum = 0;
    for (int i = 0; i < 3; ++i) {
        engine.Open(inputs[i]);
        sum += engine.InputDuration(i);
    }
    engine.State().VideoStreamCopy = true;
    engine.State().AudioStreamCopy = true;
    ASSERT_EQ(engine.AddOutputFile(OutPath("joined.mkv"), true), 3) << engine.LastError();
    EXPECT_TRUE(engine.Joined());
    EXPECT_EQ(engine.OutputFileCount(), 3);
    EXPECT_EQ(engine.TotalDuration(), sum);
    EXPECT_EQ(engine.OutputEntry(1), engine.OutputEntry(0));
    EXPECT_EQ(engine.OutputEntry(2), engine.OutputEntry(0));
    EXPECT_EQ(engine.Output(0).Streams.size(), 2u); // the first input's kinds only

    EXPECT_EQ(engine.AddOutputFile(OutPath("second.mkv")), -1);
    EXPECT_EQ(engine.LastError(), "Cannot join more than one output file.");
    EXPECT_EQ(engine.OutputFileCount(), 3);
}

TEST_F(OutputFileTest, JoinWithOneInputIsAnOrdinaryOutput) {
    OutputEngine engine;
    engine.Open(Fixtures().audioOnly);
    ASSERT_EQ(engine.AddOutputFile(OutPath("out.mp3"), true), 1) << engine.LastError();
    EXPECT_FALSE(engine.Joined());
    ASSERT_EQ(engine.AddOutputFile(OutPath("out2.mp3"), true), 2) << engine.LastError();
}

TEST_F(OutputFileTest, OutputsAndStreamsAreBounded) {
    OutputEngine engine;
    engine.Open(Fixtures().audioOnly);
    for (int i = 1; i <= kMaxFiles; ++i)
        ASSERT_EQ(engine.AddOutputFile(OutPath("out" + std::to_string(i) + ".mp3")), i) << engine.LastError();
    EXPECT_EQ(engine.AddOutputFile(OutPath("extra.mp3")), -1);
    EXPECT_EQ(engine.LastError(), "Too many output files (at most 20)");
    EXPECT_EQ(engine.OutputFileCount(), kMaxFiles);

    while (engine.Output(0).Streams.size() < static_cast<size_t>(kMaxStreams))
        engine.AddAudioStream(0);
    try {
        engine.AddAudioStream(0);
        FAIL() << "a 21st stream was accepted";
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "Too many streams in one output file (at most 20)");
    }
    EXPECT_EQ(engine.Output(0).Context->nb_streams, static_cast<unsigned>(kMaxStreams));
}

// --- Codec lookup ---------------------------------------------------------------------------

TEST_F(OutputFileTest, CodecLookupResultsAndMessages) {
    struct Case {
        std::string name;
        AVMediaType type;
        bool encoder;
        int strictness;
        bool found;
        AVCodecID id;
        std::string message;
    };
    const std::string experimental = "encoder 'sonic' is experimental and might produce bad results.\r\n"
                                     "Add '-strict experimental' if you want to use it.";
    const Case cases[] = {
        {"", AVMEDIA_TYPE_VIDEO, true, FF_COMPLIANCE_NORMAL, true, AV_CODEC_ID_NONE, ""},
        {"mpeg4", AVMEDIA_TYPE_VIDEO, true, FF_COMPLIANCE_NORMAL, true, AV_CODEC_ID_MPEG4, ""},
        {"h264", AVMEDIA_TYPE_VIDEO, false, FF_COMPLIANCE_NORMAL, true, AV_CODEC_ID_H264, ""},
        {"nosuchcodec",
         AVMEDIA_TYPE_VIDEO,
         true,
         FF_COMPLIANCE_NORMAL,
         false,
         {},
         "Unknown encoder 'nosuchcodec'"},
        {"nosuchcodec",
         AVMEDIA_TYPE_AUDIO,
         false,
         FF_COMPLIANCE_NORMAL,
         false,
         {},
         "Unknown decoder 'nosuchcodec'"},
        {"aac", AVMEDIA_TYPE_VIDEO, true, FF_COMPLIANCE_NORMAL, false, {}, "Invalid encoder type 'aac'"},
        {"h264",
         AVMEDIA_TYPE_SUBTITLE,
         false,
         FF_COMPLIANCE_NORMAL,
         false,
         {},
         "Invalid decoder type 'h264'"},
        {"sonic", AVMEDIA_TYPE_AUDIO, true, FF_COMPLIANCE_NORMAL, false, {}, experimental},
        {"sonic", AVMEDIA_TYPE_AUDIO, true, FF_COMPLIANCE_EXPERIMENTAL, true, AV_CODEC_ID_SONIC, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.name.empty() && c.found &&
            !(c.encoder ? avcodec_find_encoder_by_name(c.name.c_str())
                        : avcodec_find_decoder_by_name(c.name.c_str())))
            GTEST_SKIP() << c.name << " is not in this build";
        OutputEngine engine;
        AVCodecID id = AV_CODEC_ID_PROBE;
        EXPECT_EQ(engine.Lookup(c.name, c.type, id, c.strictness, c.encoder), c.found);
        if (c.found)
            EXPECT_EQ(id, c.id);
        else
            EXPECT_EQ(engine.LastError(), c.message);
    }
}

TEST_F(OutputFileTest, ExperimentalEncoderPointsToTheNonExperimentalOne) {
    const AVCodec* other = avcodec_find_encoder(AV_CODEC_ID_OPUS);
    const AVCodec* native = avcodec_find_encoder_by_name("opus");
    if (!native || !other || (other->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
        GTEST_SKIP() << "no experimental opus encoder with a non-experimental alternative in this build";
    OutputEngine engine;
    AVCodecID id = AV_CODEC_ID_NONE;
    EXPECT_FALSE(engine.Lookup("opus", AVMEDIA_TYPE_AUDIO, id, FF_COMPLIANCE_NORMAL, true));
    EXPECT_EQ(engine.LastError(),
              std::string("encoder 'opus' is experimental and might produce bad results.\r\n"
                          "Add '-strict experimental' if you want to use it.\r\n"
                          "Or use the non experimental encoder '") +
                  other->name + "'.");
}

TEST_F(OutputFileTest, RetiredEncoderNamesGoThroughTheAliasTable) {
    struct Case {
        const char* name;
        const char* encoder;
    };
    for (const Case& c : {Case{"vorbis", "libvorbis"}, Case{"libfaac", "aac"}}) {
        if (!avcodec_find_encoder_by_name(c.encoder))
            continue;
        OutputEngine engine;
        AVCodecID id = AV_CODEC_ID_NONE;
        const AVCodec* found = nullptr;
        EXPECT_TRUE(engine.LookupCodec(c.name, AVMEDIA_TYPE_AUDIO, id, &found)) << engine.LastError();
        ASSERT_NE(found, nullptr);
        EXPECT_STREQ(found->name, c.encoder);
    }
}

TEST_F(OutputFileTest, ExperimentalEncoderAcceptedWithTheContextsStrictness) {
    OutputEngine engine;
    engine.Open(Fixtures().audioOnly);
    engine.State().AudioCodecName = "sonic";
    EXPECT_EQ(engine.AddOutputFile(OutPath("out.mkv")), -1);
    EXPECT_NE(engine.LastError().find("new_audio_stream fail: encoder 'sonic' is experimental"),
              std::string::npos)
        << engine.LastError();

    engine.GenericCodec(1)->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    engine.State().AudioCodecName = "sonic";
    ASSERT_EQ(engine.AddOutputFile(OutPath("out.mkv")), 1) << engine.LastError();
    EXPECT_EQ(engine.Output(0).Streams.at(0).Codec->codec_id, AV_CODEC_ID_SONIC);
}

// --- Format and rate choices ----------------------------------------------------------------

TEST_F(OutputFileTest, PixelFormatChoice) {
    struct Case {
        const char* encoder;
        AVPixelFormat requested;
        int strictness;
        AVPixelFormat expected;
    };
    const Case cases[] = {
        {"libx264", AV_PIX_FMT_RGB24, FF_COMPLIANCE_NORMAL, AV_PIX_FMT_YUV420P},
        {"libx264", AV_PIX_FMT_YUV444P, FF_COMPLIANCE_NORMAL, AV_PIX_FMT_YUV444P},
        {"mpeg4", AV_PIX_FMT_NONE, FF_COMPLIANCE_NORMAL, AV_PIX_FMT_YUV420P},
        {"mjpeg", AV_PIX_FMT_RGB24, FF_COMPLIANCE_NORMAL, AV_PIX_FMT_YUVJ420P},
        {"mjpeg", AV_PIX_FMT_YUVJ422P, FF_COMPLIANCE_NORMAL, AV_PIX_FMT_YUVJ422P},
        {"mjpeg", AV_PIX_FMT_YUV422P, FF_COMPLIANCE_NORMAL, AV_PIX_FMT_YUVJ420P},
        {"mjpeg", AV_PIX_FMT_YUV422P, FF_COMPLIANCE_UNOFFICIAL, AV_PIX_FMT_YUV422P},
        {"mjpeg", AV_PIX_FMT_YUV420P, FF_COMPLIANCE_EXPERIMENTAL, AV_PIX_FMT_YUV420P},
        {"rawvideo", AV_PIX_FMT_RGB24, FF_COMPLIANCE_NORMAL, AV_PIX_FMT_RGB24}, // lists nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.encoder) + " " + std::to_string(c.requested));
        const AVCodec* encoder = avcodec_find_encoder_by_name(c.encoder);
        ASSERT_NE(encoder, nullptr);
        EXPECT_EQ(ChoosePixelFormat(encoder, c.requested, c.strictness), c.expected);
    }
}

TEST_F(OutputFileTest, SampleFormatChoice) {
    const AVCodec* mp2 = avcodec_find_encoder_by_name("mp2");
    ASSERT_NE(mp2, nullptr);
    EXPECT_EQ(ChooseSampleFormat(mp2, AV_SAMPLE_FMT_FLTP), AV_SAMPLE_FMT_S16);
    EXPECT_EQ(ChooseSampleFormat(mp2, AV_SAMPLE_FMT_S16), AV_SAMPLE_FMT_S16);
}

class SampleRateChoice : public OutputFileTest {
protected:
    // The warnings logged with this test as their sender.
    std::vector<std::string> Warnings() const {
        std::vector<std::string> warnings;
        for (const test::LogLine& line : log_.LinesFrom(this))
            if (line.level == llWarning)
                warnings.push_back(line.text);
        return warnings;
    }

    test::LogCapture log_;
};

TEST_F(SampleRateChoice, TakesTheNearestListedRate) {
    struct Case {
        const char* encoder;
        int requested;
        int expected;
    };
    // mp2 lists 44100, 48000, 32000, 22050, 24000, 16000; libmp3lame adds 11025, 12000, 8000.
    const Case cases[] = {
        {"mp2", 46050, 44100}, // as near to 48000 as to 44100: the first listed wins
        {"mp2", 40000, 44100},        {"mp2", 32000, 32000},      {"mp2", 8000, 16000},
        {"libmp3lame", 46050, 44100}, {"libmp3lame", 8000, 8000}, {"libmp3lame", 9000, 8000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.encoder) + " " + std::to_string(c.requested));
        const AVCodec* encoder = avcodec_find_encoder_by_name(c.encoder);
        if (!encoder)
            continue;
        log_.Clear();
        EXPECT_EQ(ChooseSampleRate(encoder, c.requested, this), c.expected);
        const std::vector<std::string> expectedWarnings =
            c.expected == c.requested
                ? std::vector<std::string>{}
                : std::vector<std::string>{"Requested sampling rate unsupported using closest supported (" +
                                           std::to_string(c.expected) + ")"};
        EXPECT_EQ(Warnings(), expectedWarnings);
    }
}

TEST_F(OutputFileTest, AudioStreamTakesTheChosenRateAndFormat) {
    OutputEngine engine;
    engine.Open(Fixtures().audioOnly);
    engine.State().AudioCodecName = "mp2";
    engine.State().AudioSampleRate = 46050;
    engine.State().AudioSampleFormat = AV_SAMPLE_FMT_FLTP;
    engine.State().AudioChannels = 1;
    engine.State().ChannelLayout = AV_CH_LAYOUT_STEREO; // does not fit one channel
    ASSERT_EQ(engine.AddOutputFile(OutPath("out.mp2")), 1) << engine.LastError();
    const AVCodecContext* codec = engine.Output(0).Streams.at(0).Codec.get();
    EXPECT_EQ(codec->sample_rate, 44100);
    EXPECT_EQ(codec->time_base.den, 44100);
    EXPECT_EQ(codec->sample_fmt, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(codec->ch_layout.nb_channels, 1);
    EXPECT_EQ(engine.Encoder(0), avcodec_find_encoder_by_name("mp2"));
}

// --- Two-pass statistics files --------------------------------------------------------------

TEST_F(OutputFileTest, PassLogFileNames) {
    OutputEngine engine;
    EXPECT_EQ(engine.PassLog(0), "ffmpeg2pass-0.log");
    EXPECT_EQ(engine.PassLog(1), "ffmpeg2pass-1.log");
    engine.State().PassLogPrefix = OutPath("stats");
    EXPECT_EQ(engine.PassLog(12), OutPath("stats-12.log"));
    engine.State().PassLogPrefix = std::string(2000, 'x');
    EXPECT_EQ(engine.PassLog(0).size(), 1023u);
}

TEST_F(OutputFileTest, PassOneLogIsReadBackForPassTwo) {
    OutputEngine engine;
    engine.State().PassLogPrefix = OutPath("stats");
    {
        CFilePtr file = engine.CreatePassOne(3);
        std::fputs("in:0 out:0 type:1 q:2;\n", file.get());
    }
    CodecContextPtr codec(avcodec_alloc_context3(nullptr));
    engine.LoadPassTwo(codec.get(), 3);
    ASSERT_NE(codec->stats_in, nullptr);
    EXPECT_STREQ(codec->stats_in, "in:0 out:0 type:1 q:2;\n");
    av_freep(&codec->stats_in);

    const std::string missing = OutPath("stats-4.log");
    try {
        engine.LoadPassTwo(codec.get(), 4);
        FAIL() << "a missing pass-2 log was read";
    } catch (const FFmpegException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot read file: Error reading log file \"" + missing + "\" for pass-2 encoding");
    }
    engine.State().PassLogPrefix = OutPath("no/such/folder/stats");
    try {
        engine.CreatePassOne(0);
        FAIL() << "a pass-1 log was created in a missing folder";
    } catch (const FFmpegException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot write log file " + OutPath("no/such/folder/stats-0.log") + " for pass-1 encoding");
    }
}

} // namespace
} // namespace tarnel
