// Picture settings, watermark layers, crop and zoom of tarnel-cli convert, checked in the converted
// pictures against the source or the same conversion without them.
#include "ConvertCommand.h"
#include "PictureDecode.h"
#include "TestSupport.h"

#include <QColor>
#include <QImage>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace tarnel {
namespace {

using test::DecodedPicture;
using test::DecodePictures;
using test::Fixtures;
namespace fs = std::filesystem;

// AVI with MPEG-4 at the source's size and a high bit rate, so that colours come through nearly intact.
class HookConvertTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(home_.SettingsFolder());
        std::ofstream(home_.SettingsFile())
            << "[formatInfo404]\nDescription=AVI Video (*.avi)\nparaVideoSize=as source\n"
               "paraZoom=full\nparaVideoBitRate=6000\nparaVideoEncoder=mpeg4\n"
               "paraFrameRate=as source\nparaAudioEncoder=libmp3lame\n";
    }
    // Converts the fixture with the given options; the output's pictures.
    std::vector<DecodedPicture> Convert(const std::string& name, const std::string& adjust,
                                        const std::vector<std::string>& layers,
                                        std::string* messages = nullptr) {
        cli::ConvertOptions options;
        options.adjust = adjust;
        options.layers = layers;
        return Convert(name, options, messages);
    }
    std::vector<DecodedPicture> Convert(const std::string& name, cli::ConvertOptions options,
                                        std::string* messages = nullptr) {
        options.profile = 404;
        options.outputFolder = (home_.Home() / name).string();
        options.files = {Fixtures().h264AacMp4};
        std::ostringstream out, errors;
        EXPECT_EQ(cli::ConvertFiles(options, out, errors), 0) << errors.str();
        if (messages)
            *messages = errors.str();
        return DecodePictures((home_.Home() / name / "h264_aac_(new).avi").string());
    }
    test::TPrivateHome home_;
};

bool Near(const std::vector<double>& mean, std::initializer_list<double> rgb, double tolerance) {
    size_t i = 0;
    for (const double expected : rgb)
        if (std::abs(mean[i++] - expected) > tolerance)
            return false;
    return true;
}

double Level(const DecodedPicture& picture) {
    const std::vector<double> mean = picture.Mean(0, 0, picture.width, picture.height);
    return (mean[0] + mean[1] + mean[2]) / 3;
}

TEST_F(HookConvertTest, LayersAppearWhereAndWhenTheyBelong) {
    const fs::path logo = home_.Home() / "logo.png";
    QImage green(40, 30, QImage::Format_RGB888);
    green.fill(QColor(0, 255, 0));
    ASSERT_TRUE(green.save(QString::fromStdString(logo.string())));

    const std::vector<DecodedPicture> plain = Convert("plain", "", {});
    const std::vector<DecodedPicture> layered =
        Convert("layered", "",
                {"text= ,x=16,y=16,width=40,height=20,back=#ff0000,alpha=255,from=0,to=0",
                 "image=" + logo.string() + ",x=200,y=100,alpha=255"});
    ASSERT_FALSE(plain.empty());
    ASSERT_EQ(layered.size(), plain.size());
    int textSeen = 0, textAbsent = 0;
    for (size_t i = 0; i < layered.size(); ++i) {
        const DecodedPicture& picture = layered[i];
        SCOPED_TRACE("picture at " + std::to_string(picture.time) + " s");
        EXPECT_TRUE(Near(picture.Mean(204, 104, 32, 22), {0, 255, 0}, 40)) << "the image layer, all the time";
        const std::vector<double> box = picture.Mean(20, 20, 32, 12);
        if (picture.time < 0.9) {
            EXPECT_TRUE(Near(box, {255, 0, 0}, 40)) << "the opaque text box in its second";
            ++textSeen;
        } else if (picture.time > 1.1) {
            EXPECT_TRUE(Near(box,
                             {plain[i].Mean(20, 20, 32, 12)[0], plain[i].Mean(20, 20, 32, 12)[1],
                              plain[i].Mean(20, 20, 32, 12)[2]},
                             12))
                << "no text box outside its second";
            ++textAbsent;
        }
    }
    EXPECT_GT(textSeen, 10);
    EXPECT_GT(textAbsent, 20);
}

TEST_F(HookConvertTest, AdjustmentsChangeTheLevels) {
    const std::vector<DecodedPicture> plain = Convert("plain", "", {});
    const std::vector<DecodedPicture> darker = Convert("darker", "128:0:256:0", {});
    const std::vector<DecodedPicture> brighter = Convert("brighter", "255:0:255:200", {});
    ASSERT_EQ(darker.size(), plain.size());
    ASSERT_EQ(brighter.size(), plain.size());
    const size_t middle = plain.size() / 2;
    EXPECT_NEAR(Level(darker[middle]) / Level(plain[middle]), 0.5, 0.1) << "brightness 128 halves the levels";
    EXPECT_GT(Level(brighter[middle]), Level(plain[middle]) + 30) << "exposure lifts them";
}

TEST_F(HookConvertTest, CropAndZoomChooseWhatFillsThePicture) {
    // 81 and 80 pixels off the sides of 320 × 240, made even: the middle 160 × 240. "full" (the
    // profile's own zoom) stretches it over the picture; "pan" also cuts the top and bottom to 4:3.
    const struct {
        const char* zoom;
        int top, height; // the source rows that fill the picture
    } cases[] = {{"", 0, 240}, {"pan", 60, 120}};
    const std::vector<DecodedPicture> source = DecodePictures(Fixtures().h264AacMp4);
    for (const auto& c : cases) {
        cli::ConvertOptions options;
        options.crop = "0:0:81:80";
        options.zoom = c.zoom;
        const std::vector<DecodedPicture> pictures = Convert(std::string("zoom-") + c.zoom, options);
        ASSERT_EQ(pictures.size(), source.size()) << c.zoom;
        const DecodedPicture& shown = pictures[pictures.size() / 2];
        const DecodedPicture& original = source[pictures.size() / 2];
        ASSERT_EQ(shown.width, 320);
        ASSERT_EQ(shown.height, 240);
        double difference = 0;
        for (int qy = 0; qy < 2; ++qy)
            for (int qx = 0; qx < 2; ++qx) {
                const std::vector<double> got = shown.Mean(qx * 160 + 8, qy * 120 + 8, 144, 104);
                const int h = c.height / 2;
                const std::vector<double> want =
                    original.Mean(80 + qx * 80 + 4, c.top + qy * h + h / 15, 72, h - 2 * (h / 15));
                for (int i = 0; i < 3; ++i)
                    difference = std::max(difference, std::abs(got[i] - want[i]));
            }
        EXPECT_LT(difference, 12.0) << c.zoom;
    }
}

TEST_F(HookConvertTest, AMissingPictureIsLeftOutWithOneWarning) {
    std::string messages;
    const std::vector<DecodedPicture> pictures =
        Convert("missing", "", {"image=" + (home_.Home() / "none.png").string() + ",x=0,y=0"}, &messages);
    EXPECT_FALSE(pictures.empty()) << "the conversion goes on";
    size_t count = 0;
    for (size_t at = messages.find("Cannot read the watermark picture"); at != std::string::npos;
         at = messages.find("Cannot read the watermark picture", at + 1))
        ++count;
    EXPECT_EQ(count, 1u) << messages;
}

TEST_F(HookConvertTest, MalformedLayersAreRefusedByName) {
    const struct {
        std::vector<std::string> layers;
        std::string adjust;
        std::string crop;
        const char* message;
    } cases[] = {{{"text=a,colour=#ffffff"}, "", "", "Unknown key \"colour\""},
                 {{"text=a,x=left"}, "", "", "Invalid value \"left\" for \"x\""},
                 {{"text=a,color=white"}, "", "", "Invalid colour \"white\""},
                 {{"x=3"}, "", "", "needs either text= or image="},
                 {{}, "300:0:256", "", "Invalid --adjust"},
                 {{}, "600:0:256:0", "", "brightness 600 is outside 0..512"},
                 {{}, "", "10:10", "Invalid --crop"},
                 {{}, "", "0:-2:0:0", "--crop: -2 is negative"}};
    for (const auto& c : cases) {
        cli::ConvertOptions options;
        options.profile = 404;
        options.layers = c.layers;
        options.adjust = c.adjust;
        options.crop = c.crop;
        options.files = {Fixtures().h264AacMp4};
        std::ostringstream out, errors;
        EXPECT_EQ(cli::ConvertFiles(options, out, errors), 1);
        EXPECT_NE(errors.str().find(c.message), std::string::npos) << errors.str();
    }
}

} // namespace
} // namespace tarnel
