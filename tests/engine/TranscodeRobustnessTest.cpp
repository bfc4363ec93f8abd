// Damaged inputs: cut-off fixtures, random bytes and empty files either are refused when opened or
// end their run with the engine's message; they never bring the process down.
#include "MediaInspect.h"
#include "TestSupport.h"
#include "base/FFmpegLoader.h"
#include "engine/FFmpeg.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace tarnel {
namespace {

using test::Fixtures;
using test::TempDir;

std::vector<char> ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool HasPackets(const std::string& path) {
    const test::MediaFacts facts = test::InspectMedia(path);
    return std::any_of(facts.streams.begin(), facts.streams.end(),
                       [](const test::StreamFacts& stream) { return stream.packets > 0; });
}

struct Outcome {
    bool opened = false;
    std::string message; // LastError when refused, else the run's error message
    bool error = false;
    int terminations = 0;
};

// Opens `input` and converts it (copy or encoding) into `output`.
Outcome Convert(const std::string& input, const std::string& output, bool copy) {
    Outcome outcome;
    TCustomFFmpeg engine;
    engine.Reset();
    // Codec threads of the libraries synchronise in ways ThreadSanitizer cannot see.
    engine.SetOption("threads", "1");
    if (!engine.AddInputFile(input)) {
        outcome.message = engine.LastError();
        return outcome;
    }
    outcome.opened = true;
    if (copy) {
        engine.SetOption("vcodec", "copy");
        engine.SetOption("acodec", "copy");
        engine.SetOption("scodec", "copy");
    } else {
        engine.SetOption("vcodec", "mpeg4");
        engine.SetOption("acodec", "mp2");
        engine.SetOption("sn", "1");
    }
    if (engine.AddOutputFile(output) < 0) {
        outcome.message = engine.LastError();
        return outcome;
    }
    engine.TerminateCallback = [&](TCustomFFmpeg&) {
        ++outcome.terminations;
    };
    engine.Start(false);
    outcome.error = engine.ErrorOccurred();
    outcome.message = engine.ErrorMessage();
    return outcome;
}

class TranscodeRobustnessTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError(); }

    // Every damaged input gives one of the engine's answers.
    void ExpectHandled(const std::string& input, const std::string& label) {
        for (const bool copy : {true, false}) {
            SCOPED_TRACE(label + (copy ? " copied" : " encoded"));
            const std::string output = (dir_ / (copy ? "out.mkv" : "out.avi")).string();
            const Outcome outcome = Convert(input, output, copy);
            if (!outcome.opened) {
                EXPECT_FALSE(outcome.message.empty());
                continue;
            }
            EXPECT_EQ(outcome.terminations, 1);
            if (outcome.error) {
                EXPECT_FALSE(outcome.message.empty());
            } else if (std::filesystem::exists(output) && HasPackets(input)) {
                // A finished run over readable packets leaves a readable file.
                EXPECT_TRUE(test::InspectMedia(output).opened);
            }
            std::filesystem::remove(output);
        }
    }

    TempDir dir_;
};

TEST_F(TranscodeRobustnessTest, TruncatedFixtures) {
    const std::string fixtures[] = {Fixtures().h264AacMp4, Fixtures().mpeg2Ts,    Fixtures().audioOnly,
                                    Fixtures().videoOnly,  Fixtures().surround51, Fixtures().withSubtitles};
    for (const std::string& fixture : fixtures) {
        const std::vector<char> bytes = ReadAll(fixture);
        const std::string name = std::filesystem::path(fixture).filename().string();
        for (const size_t kilobytes : {1, 8, 64}) {
            const std::vector<char> head(bytes.begin(),
                                         bytes.begin() + std::min(bytes.size(), kilobytes * 1024));
            const std::string input = (dir_ / ("cut-" + name)).string();
            WriteAll(input, head);
            ExpectHandled(input, name + " " + std::to_string(kilobytes) + " KB");
        }
    }
}

TEST_F(TranscodeRobustnessTest, EmptyAndRandomFilesAreRefused) {
    std::mt19937 random(20260101);
    std::vector<char> garbage(64 * 1024);
    std::generate(garbage.begin(), garbage.end(), [&] { return static_cast<char>(random()); });
    const struct {
        const char* name;
        std::vector<char> bytes;
    } cases[] = {{"empty.mp4", {}}, {"garbage.mkv", garbage}, {"garbage.bin", garbage}};
    for (const auto& c : cases) {
        const std::string input = (dir_ / c.name).string();
        WriteAll(input, c.bytes);
        const Outcome outcome = Convert(input, (dir_ / "out.mkv").string(), true);
        EXPECT_FALSE(outcome.opened) << c.name;
        EXPECT_NE(outcome.message.find(input), std::string::npos) << outcome.message;
    }
}

TEST_F(TranscodeRobustnessTest, DamagedMiddlesAreSurvived) {
    // Random bytes over a stretch inside each file: the demuxer and decoders meet broken packets.
    std::mt19937 random(7);
    const std::string fixtures[] = {Fixtures().h264AacMp4, Fixtures().mpeg2Ts, Fixtures().videoOnly,
                                    Fixtures().withSubtitles};
    for (const std::string& fixture : fixtures) {
        std::vector<char> bytes = ReadAll(fixture);
        for (size_t i = bytes.size() / 3; i < bytes.size() / 3 + 4096 && i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(random());
        const std::string name = std::filesystem::path(fixture).filename().string();
        const std::string input = (dir_ / ("damaged-" + name)).string();
        WriteAll(input, bytes);
        ExpectHandled(input, name + " damaged");
    }
}

// A run that fails right after its encoders opened (the subtitle stream gets no encoder) ends, also
// with SVT-AV1, whose shutdown waits for the end of an input it never had, and leaves no file.
TEST_F(TranscodeRobustnessTest, FailingAfterOpeningEncodersEnds) {
    for (const char* encoder : {"libsvtav1", "libx264", "libvpx-vp9"}) {
        SCOPED_TRACE(encoder);
        const std::string output = (dir_ / "out.mkv").string();
        std::promise<std::string> message;
        std::future<std::string> ended = message.get_future();
        std::thread run([&] {
            TCustomFFmpeg engine;
            engine.Reset();
            engine.SetOption("threads", "1");
            engine.AddInputFile(Fixtures().withSubtitles);
            engine.SetOption("vcodec", encoder);
            engine.SetOption("acodec", "libopus");
            engine.AddOutputFile(output);
            engine.Start(false);
            message.set_value(engine.ErrorMessage());
        });
        if (ended.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            ADD_FAILURE() << "the failed run did not end";
            std::_Exit(1); // the run's thread cannot be joined
        }
        run.join();
        EXPECT_EQ(ended.get(), "Encoder (codec id 0) not found for output stream #0.2 (Subtitle)");
        EXPECT_FALSE(std::filesystem::exists(output));
    }
}

} // namespace
} // namespace tarnel
