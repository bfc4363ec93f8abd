#include "LogCapture.h"
#include "TestSupport.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace tarnel {
namespace {

using test::Fixtures;
using test::TempDir;

// Builds the run tables of real inputs and outputs and maps them.
class MappingEngine : public TCustomFFmpeg {
public:
    MappingEngine() { Reset(); }

    void Open(const std::string& fileName) { ASSERT_TRUE(AddInputFile(fileName)) << LastError(); }
    void Create(const std::string& fileName, bool join = false) {
        ASSERT_GT(AddOutputFile(fileName, join), 0) << LastError();
    }
    void AddAudioStream(int file) { NewAudioStream(*OutputFiles[file]); }
    void DiscardInput(int file, int stream) {
        InputFiles[file]->Context->streams[stream]->discard = AVDISCARD_ALL;
    }
    void SetProgram(int id) { Opt.ProgramId = id; }

    TTranscodeRun& Map() {
        run_ = TTranscodeRun{};
        BuildInputTables(run_);
        BuildOutputTables(run_);
        MapOutputStreams(run_);
        return run_;
    }
    void Report() { ReportStreamMapping(run_); }

    // "file.stream" of each output stream's source.
    std::vector<std::string> Sources() const {
        std::vector<std::string> sources;
        for (const TOutputStreamState& ost : run_.OutputStreams) {
            const TInputStream& ist = run_.InputStreams[ost.SourceIndex];
            sources.push_back(std::to_string(ist.FileIndex) + "." + std::to_string(ist.StreamIndex));
        }
        return sources;
    }

private:
    TTranscodeRun run_;
};

class TranscodeMappingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError();
    }
    std::vector<test::LogLine> TakeLines() { return log_.Take(); }
    // Index of the first line containing `text`, or -1.
    static int LineOf(const std::vector<test::LogLine>& lines, const std::string& text) {
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].text.find(text) != std::string::npos)
                return static_cast<int>(i);
        return -1;
    }
    std::string OutPath(const std::string& name) const { return (dir_ / name).string(); }

    TempDir dir_;
    test::LogCapture log_;
};

TEST_F(TranscodeMappingTest, VideoAndAudioTakeTheirOwnStreamsAndAreReported) {
    MappingEngine engine;
    engine.Open(Fixtures().h264AacMp4);
    const std::string outName = OutPath("out.mkv");
    engine.Create(outName);
    TTranscodeRun& run = engine.Map();

    EXPECT_EQ(engine.Sources(), (std::vector<std::string>{"0.0", "0.1"}));
    for (const TOutputStreamState& ost : run.OutputStreams) {
        EXPECT_EQ(ost.SyncInput, &run.InputStreams[ost.SourceIndex]);
        EXPECT_FALSE(ost.SyncInput->Discard);
        EXPECT_TRUE(ost.Reporting);
    }

    TakeLines();
    engine.Report();
    const auto lines = TakeLines();
    const int dump = LineOf(lines, "Output #0");
    const int header = LineOf(lines, "Stream mapping:");
    ASSERT_GE(dump, 0);
    EXPECT_NE(lines[dump].text.find("'" + outName + "'"), std::string::npos) << lines[dump].text;
    ASSERT_GT(header, dump);
    ASSERT_GE(lines.size(), static_cast<size_t>(header + 3));
    EXPECT_EQ(lines[header].level, llVerbose);
    EXPECT_EQ(lines[header + 1].level, llVerbose);
    EXPECT_EQ(lines[header + 1].text, "  Stream #0.0 -> #0.0 (Video)");
    EXPECT_EQ(lines[header + 2].level, llVerbose);
    EXPECT_EQ(lines[header + 2].text, "  Stream #0.1 -> #0.1 (Audio)");
    EXPECT_EQ(LineOf(lines, "[sync"), -1);
}

TEST_F(TranscodeMappingTest, NegativeVerbosityReportsOnlyTheFormatDump) {
    MappingEngine engine;
    engine.Open(Fixtures().audioOnly);
    engine.Create(OutPath("out.mka"));
    engine.Map();
    engine.SetVerbosity(-1);
    TakeLines();
    engine.Report();
    const auto lines = TakeLines();
    EXPECT_GE(LineOf(lines, "Output #0"), 0);
    EXPECT_EQ(LineOf(lines, "Stream mapping:"), -1);
    EXPECT_EQ(LineOf(lines, " -> #"), -1);
}

// AC-3 at 48 kHz carries 1536 samples per packet, MP3 at 44.1 kHz 1152: the MP3 stream delivers
// more packets for the same stretch of media.
TEST_F(TranscodeMappingTest, TheStreamWithMoreProbedPacketsWinsAndTheFirstOfEquals) {
    struct Case {
        std::vector<std::string> inputs;
        int outputs;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {{Fixtures().surround51, Fixtures().audioOnly}, 1, {"1.0"}},
        {{Fixtures().audioOnly, Fixtures().surround51}, 1, {"0.0"}},
        {{Fixtures().audioOnly, Fixtures().audioOnly}, 1, {"0.0"}},
        // A taken stream is skipped while another one is free.
        {{Fixtures().surround51, Fixtures().audioOnly}, 2, {"1.0", "0.0"}},
        // Once all are taken, the last one of the type serves again.
        {{Fixtures().audioOnly, Fixtures().surround51}, 3, {"0.0", "1.0", "1.0"}},
        {{Fixtures().audioOnly}, 2, {"0.0", "0.0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        MappingEngine engine;
        for (const std::string& input : c.inputs)
            engine.Open(input);
        for (int o = 0; o < c.outputs; ++o)
            engine.Create(OutPath("out" + std::to_string(o) + ".mka"));
        engine.Map();
        EXPECT_EQ(engine.Sources(), c.expected);
    }
}

TEST_F(TranscodeMappingTest, MapsChooseSourceAndSync) {
    MappingEngine engine;
    engine.Open(Fixtures().h264AacMp4);
    engine.Open(Fixtures().audioOnly);
    engine.Create(OutPath("out.mkv"));
    engine.SetOption("map", "0:0:0:1");
    engine.SetOption("map", "1:0");
    TTranscodeRun& run = engine.Map();

    EXPECT_EQ(engine.Sources(), (std::vector<std::string>{"0.0", "1.0"}));
    EXPECT_EQ(run.OutputStreams[0].SyncInput, &run.InputStreams[1]);
    EXPECT_EQ(run.OutputStreams[1].SyncInput, &run.InputStreams[2]);
    EXPECT_FALSE(run.InputStreams[0].Discard);
    EXPECT_TRUE(run.InputStreams[1].Discard); // only a sync stream, not a source
    EXPECT_FALSE(run.InputStreams[2].Discard);

    TakeLines();
    engine.Report();
    const auto lines = TakeLines();
    const int video = LineOf(lines, "  Stream #0.0 -> #0.0 (Video)");
    ASSERT_GE(video, 0);
    ASSERT_GT(lines.size(), static_cast<size_t>(video + 2));
    EXPECT_EQ(lines[video + 1].level, llVerbose);
    EXPECT_EQ(lines[video + 1].text, " [sync #0.1 (Video)]");
    EXPECT_EQ(lines[video + 2].text, "  Stream #1.0 -> #0.1 (Audio)");
}

TEST_F(TranscodeMappingTest, BadMapsAreRefused) {
    struct Case {
        std::vector<std::string> maps;
        std::string expected;
    };
    const Case cases[] = {
        {{"0:0"}, "Number of stream maps must match number of output streams"},
        {{"0:0", "0:1", "0:1"}, "Number of stream maps must match number of output streams"},
        // The count is checked before the maps themselves.
        {{"5:5"}, "Number of stream maps must match number of output streams"},
        {{"0:0", "0:2"}, "Could not find input stream #0.2"},
        {{"0:0", "1:0"}, "Could not find input stream #1.0"},
        {{"0:0", "-1:0"}, "Could not find input stream #-1.0"},
        {{"0:0:0:9", "0:1"}, "Could not find sync stream #0.9"},
        {{"0:0", "0:1:3:0"}, "Could not find sync stream #3.0"},
        {{"0:1", "0:0"}, "Codec type mismatch for mapping #0.1 (Audio) -> #0.0 (Video)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        MappingEngine engine;
        engine.Open(Fixtures().h264AacMp4);
        engine.Create(OutPath("out.mkv"));
        for (const std::string& map : c.maps)
            engine.SetOption("map", map);
        try {
            engine.Map();
            ADD_FAILURE() << "no exception";
        } catch (const FFmpegException& e) {
            EXPECT_EQ(std::string(e.what()), c.expected);
        }
    }
}

TEST_F(TranscodeMappingTest, OutputsWithoutAMatchingStreamDumpTheirFormatAndFail) {
    enum class Setup { NoAudioInput, AudioDiscarded, UnknownProgram };
    struct Case {
        Setup setup;
        std::string expected;
    };
    const Case cases[] = {
        {Setup::NoAudioInput, "Could not find input stream matching output stream #0.1 (Audio)"},
        {Setup::AudioDiscarded, "Could not find input stream matching output stream #0.1 (Audio)"},
        // With a program id there is no second pass over streams outside the program.
        {Setup::UnknownProgram, "Could not find input stream matching output stream #0.0 (Video)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        MappingEngine engine;
        engine.Open(c.setup == Setup::NoAudioInput ? Fixtures().videoOnly : Fixtures().h264AacMp4);
        engine.Create(OutPath("out.mkv"));
        if (c.setup == Setup::NoAudioInput)
            engine.AddAudioStream(0);
        if (c.setup == Setup::AudioDiscarded)
            engine.DiscardInput(0, 1);
        if (c.setup == Setup::UnknownProgram)
            engine.SetProgram(99);
        TakeLines();
        try {
            engine.Map();
            ADD_FAILURE() << "no exception";
        } catch (const FFmpegException& e) {
            EXPECT_EQ(std::string(e.what()), c.expected);
        }
        EXPECT_GE(LineOf(TakeLines(), "Output #0"), 0);
    }
}

TEST_F(TranscodeMappingTest, ProgramIdLimitsTheCandidates) {
    for (const int program : {0, 1}) {
        SCOPED_TRACE(program);
        MappingEngine engine;
        engine.Open(Fixtures().audioOnly); // no programs
        engine.Open(Fixtures().mpeg2Ts);   // program 1, the muxer's default service id
        engine.Create(OutPath("out.mkv"));
        engine.SetProgram(program);
        engine.Map();
        // MP3 and MP2 at 44.1 kHz have equal packet rates: without a program the first input wins.
        EXPECT_EQ(engine.Sources(), (std::vector<std::string>{"1.0", program ? "1.1" : "0.0"}));
    }
}

TEST_F(TranscodeMappingTest, JoinModeTakesTheStreamOfTheSegmentsInput) {
    MappingEngine engine;
    engine.Open(Fixtures().surround51);
    engine.Open(Fixtures().audioOnly);
    engine.Create(OutPath("joined.mka"), true);
    ASSERT_TRUE(engine.Joined());
    engine.Map();
    // Without join the MP3 stream of input 1 would win for the first output.
    EXPECT_EQ(engine.Sources(), (std::vector<std::string>{"0.0", "1.0"}));

    TakeLines();
    engine.Report();
    const auto lines = TakeLines();
    EXPECT_GE(LineOf(lines, "  Stream #0.0 -> #0.0 (Audio)"), 0);
    EXPECT_GE(LineOf(lines, "  Stream #1.0 -> #0.0 (Audio)"), 0);
    EXPECT_EQ(LineOf(lines, "Output #1"), -1);
}

} // namespace
} // namespace tarnel
