// Files shaped like the ones people have (subtitles of every kind, several or empty audio tracks,
// cover art, rotated phone video, 10-bit and 4:4:4 pictures) through tarnel-cli convert, the batch's
// own path, and read back: streams, codecs, pixel formats, sizes, the upright picture, the cover.
#include "ConvertCommand.h"
#include "MediaInspect.h"
#include "PictureDecode.h"
#include "TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace tarnel {
namespace {

using fixtures::RealWorldSet;
using test::MediaFacts;
namespace fs = std::filesystem;

enum class TCorner { None, TopLeft, TopRight, BottomLeft, BottomRight };

struct TCase {
    const char* Name;
    std::string RealWorldSet::*Source; // null: the plain MP3 without a cover
    int32_t Profile;
    bool AllTracks;
    const char* Refusal;  // a part of the reason the file is skipped with; null: it converts
    const char* Video;    // the video codec, null for none
    int Audio;            // audio streams
    const char* Subtitle; // the subtitle codec, null for none
    bool Cover;
    int Width = 0; // 0: not checked
    int Height = 0;
    TCorner Bright = TCorner::None; // where the bright quarter of the rotated pictures is
};

constexpr int kVp9 = 601, kAv1Mkv = 602, kH264Mp4 = 403, kMp3 = 500, kM4a = 502, kOpus = 604, kFlac = 605;

const TCase kCases[] = {
    {"subtitles to WebM", &RealWorldSet::subtitlesTwoAudio, kVp9, false, nullptr, "vp9", 1, "webvtt", false},
    {"subtitles to MP4", &RealWorldSet::subtitlesTwoAudio, kH264Mp4, false, nullptr, "h264", 1, "mov_text",
     false},
    {"subtitles and every track to MKV", &RealWorldSet::subtitlesTwoAudio, kAv1Mkv, true, nullptr, "av1", 2,
     "subrip", false},
    {"ASS stays ASS in MKV", &RealWorldSet::assSubtitles, kAv1Mkv, false, nullptr, "av1", 1, "ass", false},
    {"mov_text becomes SubRip in MKV", &RealWorldSet::movTextMp4, kAv1Mkv, false, nullptr, "av1", 1, "subrip",
     false},
    {"DVD subtitles copied into MKV", &RealWorldSet::bitmapSubtitles, kAv1Mkv, false, nullptr, "av1", 1,
     "dvd_subtitle", false},
    {"DVD subtitles left out of MP4", &RealWorldSet::bitmapSubtitles, kH264Mp4, false, nullptr, "h264", 1,
     nullptr, false},
    {"a subtitle stream without packets", &RealWorldSet::emptySubtitles, kH264Mp4, false, nullptr, "h264", 1,
     "mov_text", false},
    {"10-bit to H.264", &RealWorldSet::tenBit, kH264Mp4, false, nullptr, "h264", 1, nullptr, false},
    {"10-bit to VP9", &RealWorldSet::tenBit, kVp9, false, nullptr, "vp9", 1, nullptr, false},
    {"4:4:4 to H.264", &RealWorldSet::yuv444, kH264Mp4, false, nullptr, "h264", 1, nullptr, false},
    {"turned 90", &RealWorldSet::rotated90, kVp9, false, nullptr, "vp9", 1, nullptr, false, 240, 320,
     TCorner::TopRight},
    {"turned 180", &RealWorldSet::rotated180, kVp9, false, nullptr, "vp9", 1, nullptr, false, 320, 240,
     TCorner::BottomRight},
    {"turned 270", &RealWorldSet::rotated270, kVp9, false, nullptr, "vp9", 1, nullptr, false, 240, 320,
     TCorner::BottomLeft},
    {"a 45 degree matrix is kept as it is", &RealWorldSet::rotated45, kVp9, false, nullptr, "vp9", 1, nullptr,
     false, 320, 240, TCorner::TopLeft},
    {"cover kept in MP3", &RealWorldSet::mp3Cover, kMp3, false, nullptr, "mjpeg", 1, nullptr, true},
    {"cover kept in M4A", &RealWorldSet::mp3Cover, kM4a, false, nullptr, "mjpeg", 1, nullptr, true},
    {"cover kept in FLAC", &RealWorldSet::mp3Cover, kFlac, false, nullptr, "mjpeg", 1, nullptr, true},
    {"no cover in Opus", &RealWorldSet::mp3Cover, kOpus, false, nullptr, nullptr, 1, nullptr, false},
    {"a cover becomes the video", &RealWorldSet::mp3Cover, kH264Mp4, false, nullptr, "h264", 1, nullptr,
     false},
    {"a corrupt cover is left out", &RealWorldSet::mp3CorruptCover, kMp3, false, nullptr, nullptr, 1, nullptr,
     false},
    {"a corrupt cover is no picture", &RealWorldSet::mp3CorruptCover, kH264Mp4, false, "no picture", nullptr,
     0, nullptr, false},
    {"sound without a cover is no picture", nullptr, kH264Mp4, false, "no picture", nullptr, 0, nullptr,
     false},
    {"eight tracks, all of them", &RealWorldSet::eightAudioTracks, kAv1Mkv, true, nullptr, "av1", 8, nullptr,
     false},
    {"eight tracks, the first", &RealWorldSet::eightAudioTracks, kH264Mp4, false, nullptr, "h264", 1, nullptr,
     false},
    {"an empty first track gives way", &RealWorldSet::emptyFirstAudio, kH264Mp4, false, nullptr, "h264", 1,
     nullptr, false},
    {"a silent first track", &RealWorldSet::silentFirstAudio, kH264Mp4, false, nullptr, "h264", 1, nullptr,
     false},
};

std::vector<double> BrightnessOfQuarters(const test::DecodedPicture& picture) {
    const int w = picture.width / 2, h = picture.height / 2;
    std::vector<double> quarters;
    for (const auto& [x, y] : {std::pair{0, 0}, {w, 0}, {0, h}, {w, h}})
        quarters.push_back(picture.Mean(x + w / 4, y + h / 4, w / 2, h / 2)[1]); // green follows luma
    return quarters;
}

void ExpectBrightCorner(const std::string& path, TCorner corner) {
    const std::vector<test::DecodedPicture> pictures = test::DecodePictures(path);
    ASSERT_FALSE(pictures.empty());
    const std::vector<double> quarters = BrightnessOfQuarters(pictures.back());
    const size_t bright = static_cast<size_t>(corner) - 1;
    for (size_t i = 0; i < quarters.size(); ++i) {
        if (i == bright) {
            EXPECT_GT(quarters[i], 200) << "quarter " << i;
        } else {
            EXPECT_LT(quarters[i], 60) << "quarter " << i;
        }
    }
}

void ExpectStreams(const TCase& c, const MediaFacts& facts) {
    EXPECT_EQ(facts.Count("video"), c.Video ? 1 : 0);
    EXPECT_EQ(facts.Count("audio"), c.Audio);
    EXPECT_EQ(facts.Count("subtitle"), c.Subtitle ? 1 : 0);
    if (const test::StreamFacts* video = facts.First("video"); c.Video && video) {
        EXPECT_EQ(video->codec, c.Video);
        EXPECT_EQ(video->attachedPicture, c.Cover);
        EXPECT_FALSE(video->displayMatrix) << "the pictures were turned; a matrix would turn them again";
        if (!c.Cover) {
            EXPECT_EQ(video->pixelFormat, "yuv420p");
            EXPECT_GT(video->packets, 1) << "a moving picture, held for the sound's length";
        }
        if (c.Width > 0) {
            EXPECT_EQ(video->width, c.Width);
            EXPECT_EQ(video->height, c.Height);
        }
        if (std::string(c.Video) == "h264") {
            EXPECT_LE(video->profile, FF_PROFILE_H264_HIGH) << "not High 10 or High 4:4:4";
        }
        if (std::string(c.Video) == "vp9") {
            EXPECT_EQ(video->profile, FF_PROFILE_VP9_0);
        }
    }
    if (const test::StreamFacts* subtitle = facts.First("subtitle"); c.Subtitle && subtitle) {
        EXPECT_EQ(subtitle->codec, c.Subtitle);
    }
    for (const test::StreamFacts& stream : facts.streams) {
        if (stream.type == "audio") {
            EXPECT_GT(stream.packets, 0) << "no empty track";
        }
    }
}

class RealWorldSourcesTest : public ::testing::TestWithParam<TCase> {
protected:
    test::TPrivateHome home_;
};

TEST_P(RealWorldSourcesTest, ConvertsOrSaysWhyNot) {
    const TCase& c = GetParam();
    const std::string source = c.Source ? test::RealWorldFixtures().*c.Source : test::Fixtures().audioOnly;
    cli::ConvertOptions options;
    options.profile = c.Profile;
    options.outputFolder = (home_.Home() / "out").string();
    options.audioTracks = c.AllTracks ? "all" : "first";
    options.files = {source};
    std::ostringstream out, errors;
    const int status = cli::ConvertFiles(options, out, errors);
    if (c.Refusal) {
        EXPECT_EQ(status, 1);
        EXPECT_NE(errors.str().find("Skipped: " + source + ": "), std::string::npos) << errors.str();
        EXPECT_NE(errors.str().find(c.Refusal), std::string::npos) << errors.str();
        EXPECT_FALSE(fs::exists(home_.Home() / "out") && !fs::is_empty(home_.Home() / "out"));
        return;
    }
    ASSERT_EQ(status, 0) << errors.str();
    ASSERT_TRUE(fs::exists(home_.Home() / "out"));
    const fs::path output = fs::directory_iterator(home_.Home() / "out")->path();
    const MediaFacts facts = test::InspectMedia(output.string());
    ASSERT_TRUE(facts.opened) << output;
    ExpectStreams(c, facts);
    if (c.Bright != TCorner::None)
        ExpectBrightCorner(output.string(), c.Bright);
}

INSTANTIATE_TEST_SUITE_P(Shapes, RealWorldSourcesTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TCase>& shape) {
                             std::string name = shape.param.Name;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

// Every track keeps its language, in the source's order; tags and chapters reach the output.
TEST(RealWorldSourcesDetails, TracksKeepTheirLanguagesAndTheFileItsTagsAndChapters) {
    test::TPrivateHome home;
    cli::ConvertOptions options;
    options.profile = kAv1Mkv;
    options.outputFolder = (home.Home() / "out").string();
    options.audioTracks = "all";
    options.files = {test::RealWorldFixtures().eightAudioTracks, test::RealWorldFixtures().subtitlesTwoAudio};
    std::ostringstream out, errors;
    ASSERT_EQ(cli::ConvertFiles(options, out, errors), 0) << errors.str();

    const MediaFacts tracks = test::InspectMedia((home.Home() / "out" / "eight_audio_(new).mkv").string());
    std::vector<std::string> languages;
    for (const test::StreamFacts& stream : tracks.streams)
        if (stream.type == "audio")
            languages.push_back(stream.language);
    EXPECT_EQ(languages, std::vector<std::string>(fixtures::kFixtureTrackLanguages.begin(),
                                                  fixtures::kFixtureTrackLanguages.end()));

    const MediaFacts tagged = test::InspectMedia((home.Home() / "out" / "subs_two_audio_(new).mkv").string());
    for (const fixtures::FixtureTag& tag : fixtures::kFixtureTags)
        EXPECT_EQ(tagged.tags.count(tag.key) ? tagged.tags.at(tag.key) : "", tag.value) << tag.key;
    EXPECT_EQ(tagged.chapters, static_cast<int>(fixtures::kFixtureChapters.size()));
}

} // namespace
} // namespace tarnel
