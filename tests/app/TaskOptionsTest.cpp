// From a profile and a row to the options of a conversion task.
#include "AppTestSupport.h"
#include "core/Catalogue.h"
#include "core/FilesRecord.h"
#include "core/GlobalObject.h"
#include "core/MainSettings.h"
#include "core/ProfileChoices.h"
#include "core/ProfileFile.h"
#include "core/TaskOptionsBuilder.h"

#include <stdexcept>

namespace tarnel {
namespace {

using test::TempDir;
using test::WriteTextFile;

constexpr int32_t kCode = 404;

// One profile section in each file, written by the test; the source facts stand for the probe.
class TaskOptionsTest : public ::testing::Test {
protected:
    void Profile(const std::string& keys) {
        WriteTextFile(dir_ / "tarnelformat.ini", "[formatInfo404]\n" + keys);
    }
    void User(const std::string& keys) {
        WriteTextFile(dir_ / "tarnelmain.ini", "[formatInfo404]\nDescription=AVI Video (*.avi)\n" + keys);
    }
    TOutputOptions Build() { return Build(Source(640, 360)); }
    TOutputOptions Build(const TSourceFacts& source) {
        TMainSettings settings((dir_ / "tarnelmain.ini").string());
        TProfileFile profiles((dir_ / "tarnelformat.ini").string());
        TMappingContext context{settings, profiles, services_};
        TOutputOptions output;
        input_ = {};
        BuildTaskOptions(row_, kCode, output, source, input_, context);
        return output;
    }
    static TSourceFacts Source(int w, int h, int videoKbps = 1000, int sampleRate = 44100,
                               int audioKbps = 128) {
        return {1, w, h, videoKbps * 1000, sampleRate, audioKbps * 1000};
    }
    static TSourceFacts AudioSource(int sampleRate = 44100, int audioKbps = 128) {
        return {0, -1, -1, -1, sampleRate, audioKbps * 1000};
    }

    TempDir dir_;
    test::TFakeShellServices services_;
    TlvFilesRecord row_;
    TInputOptions input_;
};

TEST_F(TaskOptionsTest, DiscTargetsAndTheirAspect) {
    Profile("Format=PAL-DVD\n");
    User("paraVideoEncoder=mpeg2video\nparaVideoSize=720x576\n");
    row_.Zoom = "none";
    TOutputOptions output = Build(AudioSource());
    EXPECT_EQ(output.Target, 3);
    EXPECT_EQ(output.TVNorm, 1);
    EXPECT_EQ(output.FrameAspectRatio, "16:9");
    EXPECT_TRUE(output.DisableVideo);

    Profile("Format=ntsc-vcd\n");
    output = Build(AudioSource());
    EXPECT_EQ(output.Target, 3) << "mpeg2video asks for the DVD target";
    EXPECT_EQ(output.TVNorm, 2);
    EXPECT_EQ(output.FrameAspectRatio, "4:3");

    Profile("Format=ntsc-dv\n");
    User("paraVideoEncoder=dvvideo\nparaVideoSize=720x480\nparaFrameRate=29.97\n");
    output = Build();
    EXPECT_EQ(output.Target, 4);
    EXPECT_EQ(output.TVNorm, 2);
    EXPECT_EQ(output.FrameRate, "30000/1001") << "29.97 stands for the exact NTSC rate";
}

TEST_F(TaskOptionsTest, EncodersAndTheH264Preset) {
    Profile(
        "Format=IpOd\nparaProfile=baseline\nparaLevel=30\nparaMaxBitrate=1500000\nparaBufferSize=2000000\n");
    const std::pair<const char*, const char*> encoders[] = {
        {"h264", ""}, {"libx264", "libx264"}, {"mpeg4", "mpeg4"}, {"wmv3", ""}, {"libxvid", "libxvid"}};
    for (const auto& [chosen, expected] : encoders) {
        User(std::string("paraVideoEncoder=") + chosen + "\nparaVideoSize=640x480\n");
        const TOutputOptions output = Build();
        EXPECT_EQ(output.VideoCodec, expected) << chosen;
        EXPECT_EQ(output.VideoPreset, std::string(expected) == "libx264" ? "libx264-ipod" : "") << chosen;
    }
    User("paraVideoEncoder=libx264\nparaVideoSize=640x480\n");
    const TOutputOptions output = Build();
    EXPECT_EQ(output.ExtOptions, "coder=0\nbf=0\nflags2=-dct8x8\nwpredp=0\nlevel=30");
    EXPECT_EQ(output.VideoMaxRate, 1500000);
    EXPECT_EQ(output.VideoBufferSize, 2000000);
    EXPECT_EQ(output.ForceFormat, "IpOd");
}

TEST_F(TaskOptionsTest, FrameSizesAndTheH263Sizes) {
    Profile("Format=avi\n");
    const struct {
        const char* encoder;
        const char* size;
        const char* frame;
    } cases[] = {{"h263", "400x300", "704x576"},  {"h263", "352x288", "352x288"},
                 {"h263", "176x144", "176x144"},  {"h263", "200x150", "352x288"},
                 {"mpeg4", "400x300", "400x300"}, {"mpeg4", "as source", "640x360"},
                 {"mpeg4", "x240", "640x360"}};
    for (const auto& c : cases) {
        User(std::string("paraVideoEncoder=") + c.encoder + "\nparaVideoSize=" + c.size + "\n");
        row_.Zoom = "full";
        EXPECT_EQ(Build().FrameSize, c.frame) << c.encoder << " " << c.size;
    }
    EXPECT_EQ(services_.Questions.size(), 1u) << "\"x240\" has nothing before the x";
}

TEST_F(TaskOptionsTest, AFrameSizeWithoutHeightAsksForTheDefault) {
    Profile("Format=avi\n");
    User("paraVideoEncoder=mpeg4\nparaVideoSize=640x\n");
    row_.Zoom = "full";
    services_.Answers = {false, true};
    EXPECT_EQ(Build().FrameSize, "640x360");
    EXPECT_EQ(Build().FrameSize, "320x240");
    ASSERT_EQ(services_.Questions.size(), 2u);
    EXPECT_EQ(services_.Questions[0], "Error output Video Size.Use the default size 320x240?");
}

TEST_F(TaskOptionsTest, ZoomModes) {
    Profile("Format=avi\n");
    User("paraVideoEncoder=mpeg4\nparaVideoSize=640x480\n");
    row_.Zoom = "lbox";
    TOutputOptions output = Build(Source(640, 360));
    EXPECT_EQ(output.FrameSize, "640x360");
    EXPECT_EQ(output.FrameAspectRatio, "640:360");
    EXPECT_EQ(output.VideoFilters, "pad=640:480:0:60");

    User("paraVideoEncoder=mpeg4\nparaVideoSize=720x576\n");
    output = Build(Source(720, 576));
    EXPECT_EQ(output.VideoFilters, "pad=720:576:0:0");
    EXPECT_EQ(output.FrameSize, "720x576");

    // A cropped row letterboxes through the filter alone: the picture is cut once.
    User("paraVideoEncoder=mpeg4\nparaVideoSize=640x480\n");
    row_.CropLeft = row_.CropRight = 40;
    output = Build(Source(640, 360));
    EXPECT_EQ(output.VideoFilters, "crop=560:360:40:0,scale=640:360,pad=640:480:0:60");
    EXPECT_EQ(output.FrameSize, "");
    EXPECT_EQ(output.CropLeft, 0);

    row_ = {};
    row_.Zoom = "pan";
    output = Build(Source(640, 360));
    EXPECT_EQ(output.CropLeft, 80);
    EXPECT_EQ(output.CropRight, 80);
    EXPECT_EQ(output.CropTop, 0);
    EXPECT_EQ(output.FrameSize, "640x480");
    output = Build(Source(480, 640));
    EXPECT_EQ(output.CropTop, 140);
    EXPECT_EQ(output.CropBottom, 140);

    row_.Zoom = "center";
    output = Build(Source(640, 360));
    EXPECT_EQ(output.FrameSize, "640x360");
    EXPECT_EQ(output.VideoFilters, "pad=640:480:0:60:black");
    EXPECT_EQ(output.FrameAspectRatio, "640:480");

    row_.Zoom = "full";
    output = Build(Source(640, 360));
    EXPECT_EQ(output.FrameSize, "640x480");
    EXPECT_EQ(output.VideoFilters, "");
}

TEST_F(TaskOptionsTest, BitRatesRatesChannelsAndVolume) {
    Profile("Format=avi\nAudioBitRate=as source,32,64,96,128,160\nVideoBitRate=as source,256,512,1000\n"
            "SampleRate=as source,22050,44100,48000\nparaAudioBitRate=112\nparaVideoBitRate=700\n"
            "paraSampleRate=32000\n");
    User("paraVideoEncoder=mpeg4\nparaVideoSize=640x480\nparaAudioEncoder=libmp3lame\nparaAudioBitRate=96\n"
         "paraVideoBitRate=800\nparaSampleRate=48000\nparaChannel=1\nparaVolume=512\n");
    TOutputOptions output = Build();
    EXPECT_EQ(output.AudioBitrate, 96000);
    EXPECT_EQ(output.VideoBitrate, 800000);
    EXPECT_EQ(output.AudioSampleRate, 48000);
    EXPECT_EQ(output.AudioChannels, 1);
    EXPECT_EQ(output.AudioVolume, 512);
    EXPECT_EQ(output.AudioCodec, "libmp3lame");

    User("paraVideoEncoder=mpeg4\nparaAudioEncoder=libmp3lame\nparaAudioBitRate=as source\n"
         "paraVideoBitRate=as source\nparaSampleRate=as source\nparaChannel=as source\nparaVolume=256\n"
         "paraVideoSize=640x480\n");
    output = Build(Source(640, 360, 900, 44100, 128));
    EXPECT_EQ(output.AudioBitrate, 128000) << "in the list's range: the source's";
    EXPECT_EQ(output.VideoBitrate, 900000);
    EXPECT_EQ(output.AudioSampleRate, 44100);
    EXPECT_EQ(output.AudioChannels, -1);
    EXPECT_EQ(output.AudioVolume, -1);
    output = Build(Source(640, 360, 5000, 96000, 320));
    EXPECT_EQ(output.AudioBitrate, 112000) << "out of range: the profile's own value";
    EXPECT_EQ(output.VideoBitrate, 700000);
    EXPECT_EQ(output.AudioSampleRate, 32000);

    User("paraVideoEncoder=mpeg4\nparaVideoSize=640x480\nparaAudioEncoder= \n");
    EXPECT_TRUE(Build().DisableAudio);

    User("paraVideoEncoder=mpeg4\nparaVideoSize=640x480\nparaAudioEncoder=aac\nparaVolume=loud\n");
    EXPECT_THROW(Build(), std::invalid_argument);
}

TEST_F(TaskOptionsTest, AudioOnlyProfiles) {
    Profile("Format=AC3\n");
    User("paraAudioEncoder=ac3\nparaChannel=0\nparaSampleRate=48000\nparaAudioBitRate=384\n");
    const TOutputOptions output = Build();
    EXPECT_EQ(output.ForceFormat, "ac3");
    EXPECT_EQ(output.AudioCodec, "ac3");
    EXPECT_EQ(output.AudioChannels, -1) << "an audio-only output takes a channel count above 0 only";
    EXPECT_EQ(output.AudioBitrate, 384000);
    EXPECT_TRUE(output.DisableVideo);
    EXPECT_TRUE(output.DisableSubtitle);
    EXPECT_EQ(input_.ExtOptions, "vn=1");
}

TEST_F(TaskOptionsTest, BitRatesBeyondTheOptionRecordsAreSettingsErrors) {
    // Rates read from edited settings or profile files that overflow a bit rate in bit/s.
    const struct {
        const char* profile;
        const char* user;
    } cases[] = {
        {"", "paraAudioBitRate=1.26667e+50\n"},
        {"", "paraAudioBitRate=2147484\n"},
        {"", "paraVideoBitRate=2147484\n"},
        {"AudioBitRate=as source,32,64\nparaAudioBitRate=1e300\n", "paraAudioBitRate=as source\n"},
        {"VideoBitRate=as source,256,512\nparaVideoBitRate=2147483647\n", "paraVideoBitRate=as source\n"},
    };
    for (const auto& c : cases) {
        Profile(std::string("Format=avi\n") + c.profile);
        User(std::string("paraVideoEncoder=mpeg4\nparaVideoSize=640x480\nparaAudioEncoder=libmp3lame\n") +
             c.user);
        EXPECT_THROW(Build(Source(640, 360, 5000, 44100, 999)), std::invalid_argument) << c.profile << c.user;
    }
    User("paraVideoEncoder=mpeg4\nparaVideoSize=640x480\nparaAudioBitRate=2147483\nparaVideoBitRate="
         "2147483\n");
    const TOutputOptions output = Build();
    EXPECT_EQ(output.AudioBitrate, 2147483000);
    EXPECT_EQ(output.VideoBitrate, 2147483000);
}

TEST_F(TaskOptionsTest, OpusTakesSurroundSoundMixedDownToStereo) {
    Profile("Format=opus\n");
    User("paraAudioEncoder=libopus\nparaChannel=as source\nparaSampleRate=48000\n");
    const struct {
        int sourceChannels;
        int32_t expected;
    } cases[] = {{6, 2}, {3, 2}, {2, -1}, {1, -1}};
    for (const auto& c : cases) {
        TSourceFacts source = AudioSource(48000);
        source.AudioChannels = c.sourceChannels;
        EXPECT_EQ(Build(source).AudioChannels, c.expected) << c.sourceChannels << " channels";
    }
    User("paraAudioEncoder=libopus\nparaChannel=1\nparaSampleRate=48000\n");
    TSourceFacts source = AudioSource(48000);
    source.AudioChannels = 6;
    EXPECT_EQ(Build(source).AudioChannels, 1) << "a chosen channel count stays";
}

TEST_F(TaskOptionsTest, WithoutAConfirmedChoiceTheProfilesDefaultsApply) {
    Profile("Format=avi\nVideoSize=320x240,640x480\niVideoSize=1\nVideoEncoder=XVID,MPEG-4\niVideoEncoder=1\n"
            "AudioEncoder=MP3,GSM\niAudioEncoder=1\nChannel=stereo 2 channels\nVolume=50%,100%\niVolume=0\n"
            "VideoBitRate=as source,512\niVideoBitRate=1\nFrameRate=25,29.97\niFrameRate=1\n");
    WriteTextFile(dir_ / "tarnelmain.ini", "[settings]\nFormatCode=404\n");
    row_.Zoom = "full";
    const TOutputOptions output = Build();
    EXPECT_EQ(output.VideoCodec, "mpeg4");
    EXPECT_EQ(output.FrameSize, "640x480");
    EXPECT_EQ(output.VideoBitrate, 512000);
    EXPECT_EQ(output.FrameRate, "30000/1001");
    EXPECT_EQ(output.AudioCodec, "libgsm");
    EXPECT_EQ(output.AudioSampleRate, 8000);
    EXPECT_EQ(output.AudioChannels, 1);
    EXPECT_EQ(output.AudioVolume, 128);
    EXPECT_TRUE(services_.Questions.empty());
}

TEST(ProfileChoicesTest, EntriesTranslateAsTheSettingsDialogWritesThem) {
    EXPECT_EQ(SplitProfileList("a,,b,"), (std::vector<std::string>{"a", "", "b", ""}));
    EXPECT_EQ(VideoEncoderValue("H264"), "libx264");
    EXPECT_EQ(VideoEncoderValue("MPEG-4"), "mpeg4");
    EXPECT_EQ(VideoEncoderValue("h265"), "");
    EXPECT_EQ(AudioEncoderValue("AAC"), "libfaac");
    EXPECT_EQ(AudioEncoderValue("pcm_mulaw "), "pcm_mulaw");
    EXPECT_EQ(AudioEncoderValue("WMA2"), "wmav2");
    EXPECT_EQ(ChannelValue("stereo 2 channels"), "2");
    EXPECT_EQ(ChannelValue("Stereo 2 channels"), "");
    EXPECT_EQ(VolumeValue("100%"), "256");
    EXPECT_EQ(VolumeValue("400%"), "1024");
    EXPECT_EQ(VolumeValue("110%"), "");
    EXPECT_THROW(VolumeValue("loud%"), std::invalid_argument);
}

TEST(ValueFitsProfileRangeTest, FromTheFirstNumberToTheLast) {
    TempDir dir;
    WriteTextFile(dir / "p.ini", "[formatInfo1]\nAudioBitRate=as source,32,64,160\nSampleRate=44100\n"
                                 "VideoBitRate=256,1000\n[formatInfo2]\nAudioBitRate=as source,128\n");
    TProfileFile profiles((dir / "p.ini").string());
    const struct {
        int32_t code;
        const char* kind;
        double value;
        bool fits;
    } cases[] = {{1, "audiobitrate", 128000, true},    {1, "audiobitrate", 320000, false},
                 {1, "audiobitrate", 32000, true},     {1, "audiobitrate", -1, false},
                 {1, "audiosamplerate", 44100, false}, {1, "videobitrate", 256000, true},
                 {1, "videobitrate", 999000, false}, // with one comma the range is the first entry alone
                 {2, "audiobitrate", 128000, true},    {2, "audiobitrate", 96000, false},
                 {3, "audiobitrate", 128000, false},   {1, "other", 1, false}};
    for (const auto& c : cases)
        EXPECT_EQ(ValueFitsProfileRange(profiles, c.code, c.kind, c.value), c.fits)
            << c.code << c.kind << c.value;
}

TEST(LetterboxTest, PaddingsKeepThePictureShape) {
    const struct {
        int sw, sh, W, H;
        TPaddings expected;
    } cases[] = {{640, 360, 640, 480, {60, 60, 0, 0}},   {720, 576, 720, 576, {0, 0, 0, 0}},
                 {480, 640, 640, 480, {0, 0, 140, 140}}, {1920, 1080, 320, 240, {30, 30, 0, 0}},
                 {320, 240, 640, 480, {0, 0, 0, 0}},     {0, 0, 640, 480, {0, 0, 0, 0}}};
    for (const auto& c : cases) {
        const TPaddings p = LetterboxPaddings(c.sw, c.sh, c.W, c.H);
        EXPECT_EQ(std::tie(p.Top, p.Bottom, p.Left, p.Right),
                  std::tie(c.expected.Top, c.expected.Bottom, c.expected.Left, c.expected.Right))
            << c.sw << "x" << c.sh << " in " << c.W << "x" << c.H;
    }
}

} // namespace
} // namespace tarnel
