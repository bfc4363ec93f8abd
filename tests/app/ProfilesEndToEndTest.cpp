// Every profile of the shipped catalogue converts a clip through the batch's own code, and the file
// it writes has the profile's container, codecs, picture size and H.264 limits.
#include "AppTestSupport.h"
#include "EngineConvert.h"
#include "MediaInspect.h"
#include "core/BatchPlan.h"
#include "core/Catalogue.h"
#include "core/FilesRecord.h"
#include "core/GlobalObject.h"
#include "core/MainSettings.h"
#include "core/ProfileFile.h"

#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace tarnel {
namespace {

using test::InspectMedia;
namespace fs = std::filesystem;

constexpr const char* kMp4 = "mov,mp4,m4a,3gp,3g2,mj2";

struct TExpected {
    int32_t Code;
    const char* Format;
    const char* Video; // nullptr: no video
    int Width;
    int Height;
    const char* Audio;
    int MaxH264Profile; // FF_PROFILE_H264_* the device plays, 0 when not H.264
    int MaxLevel;
};

constexpr int kBaseline = FF_PROFILE_H264_CONSTRAINED_BASELINE;
constexpr int kMain = FF_PROFILE_H264_MAIN;

const TExpected kProfiles[] = {
    {0, kMp4, "mpeg4", 640, 480, "aac", 0, 0},
    {1, kMp4, "h264", 640, 480, "aac", kBaseline, 30},
    {2, kMp4, "mpeg4", 320, 240, "aac", 0, 0},
    {3, kMp4, "mpeg4", 320, 240, "aac", 0, 0},
    {4, kMp4, "mpeg4", 320, 240, "aac", 0, 0},
    {5, kMp4, "mpeg4", 480, 320, "aac", 0, 0},
    {6, kMp4, "mpeg4", 480, 320, "aac", 0, 0},
    {7, kMp4, "mpeg4", 320, 240, "aac", 0, 0},
    {8, kMp4, "mpeg4", 480, 272, "aac", 0, 0},
    {100, kMp4, "mpeg4", 480, 320, "aac", 0, 0},
    {101, kMp4, "mpeg4", 480, 272, "aac", 0, 0},
    {102, kMp4, "mpeg4", 480, 320, "aac", 0, 0},
    {103, kMp4, "h264", 720, 480, "aac", kMain, 31},
    {104, kMp4, "h264", 720, 576, "aac", kMain, 31},
    {200, kMp4, "mpeg4", 640, 480, "aac", 0, 0},
    {201, kMp4, "mpeg4", 640, 480, "aac", 0, 0},
    {202, kMp4, "mpeg4", 640, 480, "aac", 0, 0},
    {203, kMp4, "h264", 320, 240, "aac", kMain, 31},
    {204, kMp4, "h264", 640, 480, "aac", kMain, 31},
    {205, kMp4, "h264", 1280, 720, "aac", kMain, 31},
    {300, kMp4, "h264", 640, 480, "aac", 0, 0},
    {400, "mpeg", "mpeg1video", 352, 288, "mp2", 0, 0},
    {401, "mpeg", "mpeg2video", 720, 576, "mp2", 0, 0},
    {402, kMp4, "mpeg4", 640, 480, "aac", 0, 0},
    {403, kMp4, "h264", 640, 480, "aac", 0, 0},
    {404, "avi", "mpeg4", 640, 480, "mp3", 0, 0},
    {405, "asf", "wmv2", 640, 480, "wmav2", 0, 0},
    {406, "avi", "mpeg4", 640, 480, "mp3", 0, 0},
    {407, "avi", "mpeg4", 640, 480, "mp3", 0, 0},
    {408, "dv", "dvvideo", 720, 480, "pcm_s16le", 0, 0},
    {409, "dv", "dvvideo", 720, 576, "pcm_s16le", 0, 0},
    {500, "mp3", nullptr, 0, 0, "mp3", 0, 0},
    {501, "aac", nullptr, 0, 0, "aac", 0, 0},
    {502, kMp4, nullptr, 0, 0, "aac", 0, 0},
    {503, "asf", nullptr, 0, 0, "wmav2", 0, 0},
    {504, "wav", nullptr, 0, 0, "pcm_s16le", 0, 0},
    {505, "ogg", nullptr, 0, 0, "vorbis", 0, 0},
    {506, "ac3", nullptr, 0, 0, "ac3", 0, 0},
    {600, kMp4, "hevc", 640, 360, "aac", 0, 0},
    {601, "matroska,webm", "vp9", 640, 360, "opus", 0, 0},
    {602, "matroska,webm", "av1", 640, 360, "opus", 0, 0},
    {603, "matroska,webm", "av1", 640, 360, "opus", 0, 0},
    {604, "ogg", nullptr, 0, 0, "opus", 0, 0},
    {605, "flac", nullptr, 0, 0, "flac", 0, 0},
};

TEST(ProfilesEndToEndTest, EveryProfileMakesFilesItsDevicePlays) {
    ASSERT_EQ(std::size(kProfiles), ProfileCodes().size());
    test::TPrivateHome home;
    test::TFakeShellServices services;
    TFFConverter converter;
    ASSERT_TRUE(converter.LoadLibraries(""));
    // A 640 × 360 source, so that every profile letterboxes or scales it.
    const std::string source = (home.Home() / "clip.mp4").string();
    ASSERT_EQ(test::ConvertWithEngine(test::Fixtures().h264AacMp4,
                                      {{"s", "640x360"}, {"vcodec", "libx264"}, {"acodec", "aac"}}, source),
              "");
    const double seconds = InspectMedia(source).duration;

    const std::string profileFile = TGlobalObject::ShippedDataFolder() + "tarnelformat.ini";
    TMainSettings settings(home.SettingsFile().string());
    settings.SetOutputFolder((home.Home() / "out").string());
    TProfileFile profiles(profileFile);
    TMappingContext context{settings, profiles, services};
    for (const TExpected& expected : kProfiles) {
        SCOPED_TRACE("profile " + std::to_string(expected.Code) + " " + ProfileCaptionOfCode(expected.Code));
        TlvFilesRecord record;
        record.SourceFile = source;
        TBatchPlan plan = BuildBatch(converter, {{0, &record, true}}, expected.Code, context);
        ASSERT_EQ(plan.TaskRows.size(), 1u) << SkippedFilesText(plan);
        TTerminateInfo report;
        converter.OnTerminate = [&](TCustomFFConverter&, const TTerminateInfo& info) {
            if (info.TaskIndex == 0)
                report = info;
        };
        converter.StartTask(0);
        converter.ClearTasks();
        ASSERT_TRUE(report.Finished) << report.ErrorMessage;
        ASSERT_EQ(SettleOutput(plan, report), ""); // the finished output takes its name

        const test::MediaFacts facts = InspectMedia(plan.Outputs[0]);
        ASSERT_TRUE(facts.opened);
        EXPECT_EQ(facts.format, expected.Format);
        EXPECT_EQ(fs::path(plan.Outputs[0]).extension(), "." + profiles.FileExt(expected.Code));
        const test::StreamFacts* audio = facts.First("audio");
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(audio->codec, expected.Audio);
        const test::StreamFacts* video = facts.First("video");
        if (!expected.Video) {
            EXPECT_EQ(video, nullptr);
            EXPECT_NEAR(audio->endTime, seconds, 0.5);
            continue;
        }
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->codec, expected.Video);
        EXPECT_EQ(video->width, expected.Width);
        EXPECT_EQ(video->height, expected.Height);
        EXPECT_NEAR(video->endTime - std::max(video->firstTime, 0.0), seconds, 0.5);
        if (expected.MaxH264Profile) {
            EXPECT_LE(video->profile & ~FF_PROFILE_H264_CONSTRAINED,
                      expected.MaxH264Profile & ~FF_PROFILE_H264_CONSTRAINED);
            EXPECT_LE(video->level, expected.MaxLevel);
        }
    }
}

} // namespace
} // namespace tarnel
