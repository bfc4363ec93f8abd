#include "LogCapture.h"
#include "TestSupport.h"
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numeric>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/time.h>
}

namespace tarnel {
namespace {

using test::Fixtures;
using test::TempDir;

constexpr int64_t kSecond = 1000000;

// Builds run tables by hand over real outputs and calls the run's report and copy steps.
class ReportEngine : public TCustomFFmpeg {
public:
    ReportEngine() { Reset(); }
    TOptionState& State() { return Opt; }
    void SetTotalDuration(int64_t us) { totalDuration_ = us; }
    void SetInputTsOffset(int file, int64_t us) { InputTsOffset[file] = us; }
    void SetMetadataMaps(const std::vector<TMetadataMap>& maps) {
        MetadataMapCount = 0;
        for (const TMetadataMap& map : maps)
            MetadataMaps[MetadataMapCount++] = map;
    }
    AVFormatContext* InputContext(int file) { return InputFiles[file]->Context.get(); }
    AVFormatContext* OutputContext(int file) { return OutputFiles[file]->Context; }
    const std::array<uint32_t, 52>& Histogram() const { return QpHistogramCounts; }

    void Open(const std::string& fileName) { ASSERT_TRUE(AddInputFile(fileName)) << LastError(); }
    void Create(const std::string& fileName, bool join = false) {
        ASSERT_GT(AddOutputFile(fileName, join), 0) << LastError();
    }

    // One record per stream of every output, as the set-up makes them; every stream is encoded
    // and has written nothing yet.
    TTranscodeRun MakeRun() {
        TTranscodeRun run;
        for (int file = 0; file < inputFileCount_; ++file) {
            AVFormatContext* context = InputFiles[file]->Context.get();
            for (unsigned s = 0; s < context->nb_streams; ++s) {
                TInputStream ist;
                ist.FileIndex = file;
                ist.StreamIndex = static_cast<int32_t>(s);
                ist.Stream = context->streams[s];
                ist.Codec = InputFiles[file]->Codecs[s].get();
                run.InputStreams.push_back(std::move(ist));
            }
        }
        for (int file = 0; file < outputFileCount_; ++file) {
            TOutputFile& output = *OutputFiles[file];
            for (size_t i = 0; i < output.Streams.size(); ++i) {
                TOutputStreamState ost;
                ost.FileIndex = file;
                ost.StreamIndex = static_cast<int32_t>(i);
                ost.Stream = output.Streams[i].Stream;
                ost.Stream->time_base = AVRational{1, 1000};
                ost.File = &output;
                ost.Setup = &output.Streams[i];
                ost.Codec = output.Streams[i].Codec.get();
                ost.EncodingNeeded = true;
                ost.SourceIndex =
                    std::min<int32_t>(ost.StreamIndex, static_cast<int32_t>(run.InputStreams.size()) - 1);
                ost.SyncInput = &run.InputStreams[ost.SourceIndex];
                run.OutputStreams.push_back(std::move(ost));
            }
        }
        run.TimerStart = av_gettime_relative();
        return run;
    }
    // Bytes "written" to the first output, so that its size is known.
    void WriteBytes(int count) {
        std::vector<uint8_t> bytes(count, 0x55);
        avio_write(OutputFiles[0]->Context->pb, bytes.data(), count);
        avio_flush(OutputFiles[0]->Context->pb);
    }

    void Report(TTranscodeRun& run, bool final, int fileIndex) { ReportProgress(run, final, fileIndex); }
    void CopyProperties(TOutputStreamState& ost, const TInputStream& ist) { CopyStreamProperties(ost, ist); }
    void CopyMaps(const TTranscodeRun& run) { CopyMetadataMaps(run); }
    void CopyAllChapters(const TTranscodeRun& run) { CopyChapters(run); }
    void LogSdp() { LogSdpWhenAllRtp(); }
};

struct TProgressCall {
    int32_t FileIndex;
    int64_t TotalDuration;
    int64_t OutputTime;
    int64_t OutputSize;
    float BitRate;
    float Quality;
    int32_t Fps;
    int32_t Frames;
};

class TranscodeReportTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError();
    }
    std::string OutPath(const std::string& name) const { return (dir_ / name).string(); }
    // The lines the engine logged.
    std::vector<test::LogLine> Log() const { return log_.LinesFrom(&engine_); }
    void ClearLog() { log_.Clear(); }
    void RecordCalls() {
        engine_.ProgressCallback = [this](TCustomFFmpeg& engine, int32_t fileIndex, int64_t totalDuration,
                                          int64_t outputTime, int64_t outputSize, float bitRate,
                                          float quality, int32_t fps, int32_t frames) {
            EXPECT_EQ(&engine, &engine_);
            calls_.push_back(
                {fileIndex, totalDuration, outputTime, outputSize, bitRate, quality, fps, frames});
        };
    }
    // Output 0 with a video stream first and an audio stream second.
    void CreateVideoAudioOutput() {
        engine_.Open(Fixtures().h264AacMp4);
        engine_.Create(OutPath("out.mkv"));
        ASSERT_EQ(engine_.OutputContext(0)->nb_streams, 2u);
    }

    TempDir dir_;
    ReportEngine engine_;
    std::vector<TProgressCall> calls_;
    test::LogCapture log_{llVerbose};
};

// --- Progress report --------------------------------------------------------------------------

TEST_F(TranscodeReportTest, AudioOnlyOutputReportsItsFiguresWithoutFrameFigures) {
    engine_.Open(Fixtures().audioOnly);
    engine_.Create(OutPath("out.mp3"));
    engine_.SetTotalDuration(7 * kSecond);
    RecordCalls();
    TTranscodeRun run = engine_.MakeRun();
    ASSERT_EQ(run.OutputStreams.size(), 1u);
    ASSERT_TRUE(run.OutputStreams[0].IsAudio());
    run.OutputStreams[0].MuxTime = 1500; // ms
    const int size = 3000;
    engine_.WriteBytes(size);

    engine_.Report(run, false, 0);

    ASSERT_EQ(calls_.size(), 1u);
    const TProgressCall& call = calls_[0];
    EXPECT_EQ(call.FileIndex, 0);
    EXPECT_EQ(call.TotalDuration, 7 * kSecond);
    EXPECT_EQ(call.OutputTime, 1500 * 1000);
    EXPECT_EQ(call.OutputSize, size);
    EXPECT_FLOAT_EQ(call.BitRate, size * 8 / 1.5 / 1000);
    EXPECT_EQ(call.Quality, -1);
    EXPECT_EQ(call.Fps, -1);
    EXPECT_EQ(call.Frames, -1);
}

TEST_F(TranscodeReportTest, VideoWithoutAWrittenFrameAbandonsTheReport) {
    CreateVideoAudioOutput();
    TTranscodeRun run = engine_.MakeRun();
    run.OutputStreams[1].MuxTime = 1000;
    for (bool withCallback : {true, false}) {
        SCOPED_TRACE(withCallback);
        if (withCallback)
            RecordCalls();
        else
            engine_.ProgressCallback = nullptr;
        ClearLog();
        engine_.Report(run, false, 0);
        engine_.Report(run, true, -1);
        EXPECT_TRUE(calls_.empty());
        EXPECT_TRUE(Log().empty());
    }
}

TEST_F(TranscodeReportTest, VideoStreamGivesFramesSpeedAndQuality) {
    CreateVideoAudioOutput();
    struct Case {
        bool encoded;
        int64_t timerOffset; // µs added to "now" as the run's start
        int32_t frames;
        float expectedQuality;
        int32_t expectedFps;
    };
    const Case cases[] = {
        {true, -1000 * kSecond, 50000, 4.5f, 50}, // 50000 frames over a bit more than 1000 s
        {false, -1000 * kSecond, 50000, -1, 50},  // stream copy has no quality
        {true, 100 * kSecond, 10, 4.5f, 0},       // less than one second elapsed
    };
    RecordCalls();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frames);
        calls_.clear();
        TTranscodeRun run = engine_.MakeRun();
        run.TimerStart = av_gettime_relative() + c.timerOffset;
        TOutputStreamState& video = run.OutputStreams[0];
        video.EncodingNeeded = c.encoded;
        video.FrameNumber = c.frames;
        video.Quality = 4.5f;
        video.MuxTime = 2000;
        run.OutputStreams[1].MuxTime = 1250; // the earliest stream gives the time

        engine_.Report(run, false, 3);

        ASSERT_EQ(calls_.size(), 1u);
        EXPECT_EQ(calls_[0].FileIndex, 3);
        EXPECT_EQ(calls_[0].OutputTime, 1250 * 1000);
        EXPECT_EQ(calls_[0].Frames, c.frames);
        EXPECT_EQ(calls_[0].Fps, c.expectedFps);
        EXPECT_FLOAT_EQ(calls_[0].Quality, c.expectedQuality);
    }
}

TEST_F(TranscodeReportTest, FinalReportLogsTheLineAndTheStatistics) {
    CreateVideoAudioOutput();
    engine_.State().Verbosity = 1;
    engine_.State().VideoSize = 20480;
    engine_.State().AudioSize = 4096;
    engine_.State().ExtraSize = 1024;
    const int size = 30000;
    engine_.WriteBytes(size);
    TTranscodeRun run = engine_.MakeRun();
    run.TimerStart = av_gettime_relative() + 100 * kSecond; // no second has passed: fps 0
    run.OutputStreams[0].FrameNumber = 75;
    run.OutputStreams[0].Quality = 2;
    run.OutputStreams[0].MuxTime = 3000;
    run.OutputStreams[1].MuxTime = 3000;

    engine_.Report(run, true, -1);

    const auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].level, llVerbose);
    EXPECT_NE(log[0].text.find(Format("frame=%5d fps=%3d q=%3.1f L", 75, 0, 2.0)), std::string::npos)
        << log[0].text;
    const double bitRate = size * 8 / 3.0 / 1000;
    EXPECT_NE(
        log[0].text.find(Format("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", size / 1024.0, 3.0, bitRate)),
        std::string::npos)
        << log[0].text;
    const double raw = 20480 + 4096 + 1024;
    EXPECT_EQ(log[1].level, llVerbose);
    EXPECT_EQ(log[1].text,
              Format("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n", 20.0, 4.0,
                     1.0, (size - raw) * 100 / raw));
}

TEST_F(TranscodeReportTest, NothingWrittenGivesFiniteFigures) {
    engine_.Open(Fixtures().audioOnly);
    engine_.Create(OutPath("out.mp3"));
    TTranscodeRun run = engine_.MakeRun();

    RecordCalls();
    engine_.Report(run, true, -1);
    ASSERT_EQ(calls_.size(), 1u);
    EXPECT_EQ(calls_[0].OutputSize, 0);
    EXPECT_EQ(calls_[0].BitRate, 0);
    EXPECT_LT(calls_[0].OutputTime, kSecond); // at the start, not somewhere far away

    engine_.ProgressCallback = nullptr;
    ClearLog();
    engine_.Report(run, true, -1);
    const auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].text.find("nan"), std::string::npos) << log[0].text;
    EXPECT_EQ(log[1].text,
              Format("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n", 0.0, 0.0,
                     0.0, 0.0));
}

TEST_F(TranscodeReportTest, DuplicatedAndDroppedFramesAreLoggedOncePerChange) {
    engine_.Open(Fixtures().audioOnly);
    engine_.Create(OutPath("out.mp3"));
    engine_.State().Verbosity = 0;
    engine_.State().FramesDuplicated = 2;
    engine_.State().FramesDropped = 1;
    engine_.State().DupDropPending = true;
    RecordCalls();
    TTranscodeRun run = engine_.MakeRun();

    engine_.Report(run, false, 0);
    engine_.Report(run, false, 0);

    EXPECT_EQ(calls_.size(), 2u);
    EXPECT_FALSE(engine_.Options().DupDropPending);
    const auto log = Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].level, llVerbose);
    EXPECT_NE(log[0].text.find(" dup=2 drop=1"), std::string::npos) << log[0].text;
}

TEST_F(TranscodeReportTest, QuantizerHistogramAndPsnrText) {
    CreateVideoAudioOutput();
    engine_.State().QpHistogram = true;
    TTranscodeRun run = engine_.MakeRun();
    TOutputStreamState& video = run.OutputStreams[0];
    video.FrameNumber = 1;
    // Counted: 3 three times, 5 once, 40 (beyond the printed 32) once; not counted: -1, 60.
    const float qualities[] = {3, 3, 5, 40, 3, -1, 60};
    for (float q : qualities) {
        video.Quality = q;
        engine_.Report(run, false, 0);
    }
    const auto& histogram = engine_.Histogram();
    EXPECT_EQ(histogram[3], 3u);
    EXPECT_EQ(histogram[5], 1u);
    EXPECT_EQ(histogram[40], 1u);
    EXPECT_EQ(std::accumulate(histogram.begin(), histogram.end(), 0u), 5u);

    std::string digits;
    for (int j = 0; j < 32; ++j)
        digits += Format("%X", static_cast<int>(std::lround(std::log2(histogram[j] + 1.0))));
    const std::string last = Log().back().text;
    EXPECT_NE(last.find(Format("q=%3.1f ", 60.0) + digits + "size="), std::string::npos) << last;

    // PSNR of the last picture: errors at 1/100 of the full scale of each plane give 20 dB.
    AVCodecContext* codec = video.Codec;
    codec->flags |= AV_CODEC_FLAG_PSNR;
    const int64_t fullScale = static_cast<int64_t>(codec->width) * codec->height * 255 * 255;
    video.PsnrError[0] = fullScale / 100;
    video.PsnrError[1] = fullScale / 400;
    video.PsnrError[2] = fullScale / 400;
    engine_.State().QpHistogram = false;
    engine_.Report(run, false, 0);
    EXPECT_NE(Log().back().text.find("PSNR=Y:20.00 U:20.00 V:20.00 *:20.00 "), std::string::npos)
        << Log().back().text;
}

// --- Metadata and chapters ------------------------------------------------------------------

std::string Tag(const AVDictionary* metadata, const char* key) {
    return MetadataText(metadata, key, "<none>");
}

TEST_F(TranscodeReportTest, StreamPropertiesAreCopiedWithoutOverwritingTags) {
    CreateVideoAudioOutput();
    TTranscodeRun run = engine_.MakeRun();
    TInputStream& ist = run.InputStreams[0];
    TOutputStreamState& ost = run.OutputStreams[0];
    av_dict_set(&ist.Stream->metadata, "title", "from input", 0);
    av_dict_set(&ist.Stream->metadata, "comment", "input comment", 0);
    av_dict_set(&ost.Stream->metadata, "title", "kept", 0);
    ist.Stream->disposition = AV_DISPOSITION_DEFAULT | AV_DISPOSITION_FORCED;
    ist.Stream->codecpar->bits_per_raw_sample = 10;
    ist.Stream->codecpar->chroma_location = AVCHROMA_LOC_TOPLEFT;

    engine_.CopyProperties(ost, ist);

    EXPECT_EQ(Tag(ost.Stream->metadata, "title"), "kept");
    EXPECT_EQ(Tag(ost.Stream->metadata, "comment"), "input comment");
    EXPECT_EQ(ost.Stream->disposition, AV_DISPOSITION_DEFAULT | AV_DISPOSITION_FORCED);
    EXPECT_EQ(ost.Codec->bits_per_raw_sample, 10);
    EXPECT_EQ(ost.Stream->codecpar->bits_per_raw_sample, 10);
    EXPECT_EQ(ost.Codec->chroma_sample_location, AVCHROMA_LOC_TOPLEFT);
    EXPECT_EQ(ost.Stream->codecpar->chroma_location, AVCHROMA_LOC_TOPLEFT);
}

TEST_F(TranscodeReportTest, MetadataMapCopiesFileTagsWithoutOverwriting) {
    CreateVideoAudioOutput();
    av_dict_set(&engine_.InputContext(0)->metadata, "artist", "input artist", 0);
    av_dict_set(&engine_.InputContext(0)->metadata, "album", "input album", 0);
    av_dict_set(&engine_.OutputContext(0)->metadata, "artist", "output artist", 0);
    engine_.SetMetadataMaps({{0, 0}});
    TTranscodeRun run = engine_.MakeRun();

    engine_.CopyMaps(run);

    EXPECT_EQ(Tag(engine_.OutputContext(0)->metadata, "artist"), "output artist");
    EXPECT_EQ(Tag(engine_.OutputContext(0)->metadata, "album"), "input album");
}

TEST_F(TranscodeReportTest, MetadataMapWithABadFileIndexFails) {
    CreateVideoAudioOutput();
    struct Case {
        TMetadataMap map;
        std::string expected;
    };
    const Case cases[] = {
        {{1, 0}, "Invalid output file index 1 map_meta_data(1,0)"},
        {{-1, 0}, "Invalid output file index -1 map_meta_data(-1,0)"},
        {{0, 3}, "Invalid input file index 3 map_meta_data(0,3)"},
        {{0, -2}, "Invalid input file index -2 map_meta_data(0,-2)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        ClearLog();
        engine_.SetMetadataMaps({{0, 0}, c.map});
        TTranscodeRun run = engine_.MakeRun();
        try {
            engine_.CopyMaps(run);
            ADD_FAILURE() << "no exception";
        } catch (const FFmpegException& e) {
            EXPECT_EQ(std::string(e.what()), c.expected);
        }
        const auto log = Log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back().level, llError);
        EXPECT_EQ(log.back().text, c.expected);
        EXPECT_GT(log.size(), 1u); // the stream mapping comes first
    }
}

struct TChapterTimes {
    int64_t Start;
    int64_t End;
    bool operator==(const TChapterTimes&) const = default;
};

void AddInputChapter(AVFormatContext* context, int64_t id, int64_t start, int64_t end,
                     const std::string& title) {
    auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
    ASSERT_NE(chapter, nullptr);
    chapter->id = id;
    chapter->time_base = AVRational{1, 1000};
    chapter->start = start;
    chapter->end = end;
    av_dict_set(&chapter->metadata, "title", title.c_str(), 0);
    auto* grown = static_cast<AVChapter**>(
        av_realloc_array(context->chapters, context->nb_chapters + 1, sizeof(*context->chapters)));
    ASSERT_NE(grown, nullptr);
    context->chapters = grown;
    context->chapters[context->nb_chapters++] = chapter;
}

// Three chapters of one second each (ids 10, 11, 12) on input 0; the output's chapters by the
// start time, recording time and input offset.
TEST_F(TranscodeReportTest, ChaptersFollowStartTimeAndRecordingTime) {
    struct Case {
        int64_t startTime;
        int64_t recordingTime;
        int64_t inputOffset;
        std::vector<int64_t> ids;
        std::vector<TChapterTimes> times; // ms
    };
    const Case cases[] = {
        {0, kUnlimitedTime, 0, {10, 11, 12}, {{0, 1000}, {1000, 2000}, {2000, 3000}}},
        {1500 * 1000, kUnlimitedTime, 0, {11, 12}, {{0, 500}, {500, 1500}}},
        {0, 1200 * 1000, 0, {10, 11}, {{0, 1000}, {1000, 1200}}},
        {kSecond, 700 * 1000, 500 * 1000, {10, 11}, {{0, 500}, {500, 700}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.startTime);
        ReportEngine engine;
        engine.Open(Fixtures().h264AacMp4);
        for (int i = 0; i < 3; ++i)
            AddInputChapter(engine.InputContext(0), 10 + i, i * 1000, (i + 1) * 1000,
                            "Chapter " + std::to_string(i));
        engine.Create(OutPath("chapters.mkv"));
        engine.State().StartTime = c.startTime;
        engine.State().RecordingTime = c.recordingTime;
        engine.SetInputTsOffset(0, c.inputOffset);
        TTranscodeRun run = engine.MakeRun();

        engine.CopyAllChapters(run);

        const AVFormatContext* output = engine.OutputContext(0);
        std::vector<int64_t> ids;
        std::vector<TChapterTimes> times;
        for (unsigned i = 0; i < output->nb_chapters; ++i) {
            const AVChapter* chapter = output->chapters[i];
            ids.push_back(chapter->id);
            times.push_back({chapter->start, chapter->end});
            EXPECT_EQ(av_cmp_q(chapter->time_base, AVRational{1, 1000}), 0);
            EXPECT_EQ(Tag(chapter->metadata, "title"), "Chapter " + std::to_string(chapter->id - 10));
        }
        EXPECT_EQ(ids, c.ids);
        EXPECT_EQ(times, c.times);
    }
}

TEST_F(TranscodeReportTest, JoinedOutputGetsTheChaptersOnce) {
    engine_.Open(Fixtures().h264AacMp4);
    engine_.Open(Fixtures().h264AacMp4);
    AddInputChapter(engine_.InputContext(0), 1, 0, 1000, "Only");
    engine_.Create(OutPath("joined.mkv"), true);
    ASSERT_EQ(engine_.OutputFileCount(), 2);
    ASSERT_EQ(engine_.OutputContext(0), engine_.OutputContext(1));
    TTranscodeRun run = engine_.MakeRun();

    engine_.CopyAllChapters(run);

    EXPECT_EQ(engine_.OutputContext(0)->nb_chapters, 1u);
}

// --- SDP text -------------------------------------------------------------------------------

TEST_F(TranscodeReportTest, SdpIsLoggedOnlyWhenEveryOutputIsRtp) {
    engine_.Open(Fixtures().audioOnly);
    engine_.State().LastAskedFormat = "rtp";
    engine_.Create("rtp://127.0.0.1:5004");
    engine_.LogSdp();
    auto log = Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].level, llInfo);
    EXPECT_EQ(log[0].text.rfind("SDP:\r\nv=0", 0), 0u) << log[0].text;
    EXPECT_NE(log[0].text.find("m=audio 5004 RTP/AVP"), std::string::npos) << log[0].text;
    EXPECT_NE(log[0].text.back(), '\n');

    engine_.Create(OutPath("out.mp3"));
    ClearLog();
    engine_.LogSdp();
    EXPECT_TRUE(Log().empty());
}

} // namespace
} // namespace tarnel
