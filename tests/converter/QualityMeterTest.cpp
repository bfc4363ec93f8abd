// The picture-quality meter on clips written here losslessly and on conversions made by the engine.
#include "converter/QualityMeter.h"

#include "EngineConvert.h"
#include "PictureDecode.h"
#include "TestSupport.h"
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLoader.h"
#include "base/LibHandles.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarnel {
namespace {

using test::ConvertWithEngine;
using test::Fixtures;
using test::TempDir;

constexpr int kWidth = 160;
constexpr int kHeight = 120;

// A smooth pattern that moves several pixels per picture, so neighbouring pictures differ clearly
// while a halved or cropped picture still compresses well.
int PatternLuma(int x, int y, int index) {
    const double value =
        128.0 + 100.0 * std::sin((x + 7.0 * index) / 9.0) * std::cos((y - 5.0 * index) / 11.0);
    return std::clamp(static_cast<int>(std::lround(value)), 0, 255);
}

// A fixed pseudo-random offset in [-8, 8] per sample.
int Noise(int x, int y, int index) {
    uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u ^
                 static_cast<uint32_t>(index) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return static_cast<int>(h % 17) - 8;
}

using LumaFunction = std::function<int(int x, int y, int index)>;

void Check(int code, const char* what) {
    if (code < 0)
        throw std::runtime_error(std::string(what) + " failed: " + std::to_string(code));
}

// Writes `frames` yuv420p pictures at `fps` with FFV1 (lossless) into Matroska; chroma is neutral.
void WriteLosslessClip(const std::string& path, int frames, int fps, const LumaFunction& luma) {
    AVFormatContext* raw = nullptr;
    Check(avformat_alloc_output_context2(&raw, nullptr, nullptr, path.c_str()), "output");
    FormatContextPtr format(raw);
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_FFV1);
    ASSERT_NE(encoder, nullptr);
    CodecContextPtr codec(avcodec_alloc_context3(encoder));
    codec->width = kWidth;
    codec->height = kHeight;
    codec->pix_fmt = AV_PIX_FMT_YUV420P;
    codec->time_base = AVRational{1, fps};
    codec->framerate = AVRational{fps, 1};
    if (raw->oformat->flags & AVFMT_GLOBALHEADER)
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Check(avcodec_open2(codec.get(), encoder, nullptr), "encoder");
    AVStream* stream = avformat_new_stream(raw, nullptr);
    Check(avcodec_parameters_from_context(stream->codecpar, codec.get()), "parameters");
    stream->time_base = codec->time_base;
    Check(avio_open(&raw->pb, path.c_str(), AVIO_FLAG_WRITE), "open");
    Check(avformat_write_header(raw, nullptr), "header");

    FramePtr frame = MakeFrame();
    PacketPtr packet = MakePacket();
    frame->width = kWidth;
    frame->height = kHeight;
    frame->format = AV_PIX_FMT_YUV420P;
    Check(av_frame_get_buffer(frame.get(), 0), "picture");
    auto drain = [&] {
        while (avcodec_receive_packet(codec.get(), packet.get()) >= 0) {
            av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            Check(av_interleaved_write_frame(raw, packet.get()), "write");
        }
    };
    for (int i = 0; i < frames; ++i) {
        Check(av_frame_make_writable(frame.get()), "writable");
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                frame->data[0][y * frame->linesize[0] + x] = static_cast<uint8_t>(luma(x, y, i));
        for (int plane = 1; plane < 3; ++plane)
            for (int y = 0; y < kHeight / 2; ++y)
                std::fill_n(frame->data[plane] + y * frame->linesize[plane], kWidth / 2, uint8_t{128});
        frame->pts = i;
        Check(avcodec_send_frame(codec.get(), frame.get()), "encode");
        drain();
    }
    Check(avcodec_send_frame(codec.get(), nullptr), "flush");
    drain();
    Check(av_write_trailer(raw), "trailer");
    avio_closep(&raw->pb);
}

TQualityReport Measure(const TQualityJob& job) {
    return MeasureQuality(job, nullptr);
}

class QualityMeter : public ::testing::Test {
protected:
    // The engine makes the conversions compared here.
    static void SetUpTestSuite() { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)); }

    // A 2-second 25 fps lossless clip of the moving pattern.
    std::string Source() {
        const std::string path = (dir_ / "source.mkv").string();
        if (!std::filesystem::exists(path))
            WriteLosslessClip(path, 50, 25, PatternLuma);
        return path;
    }

    TempDir dir_;
};

TEST_F(QualityMeter, AFileAgainstItsCopyIsIdentical) {
    const std::string copy = (dir_ / "copy.mp4").string();
    std::filesystem::copy_file(Fixtures().h264AacMp4, copy);
    const TQualityReport report = Measure({.Source = Fixtures().h264AacMp4, .Output = copy});
    ASSERT_TRUE(report.HasVideo);
    EXPECT_TRUE(std::isinf(report.Psnr) && report.Psnr > 0) << report.Psnr;
    EXPECT_NEAR(report.Ssim, 1.0, 1e-6);
    EXPECT_FALSE(report.ByTimestamp);
    EXPECT_EQ(report.ComparedPictures, report.OutputPictures);
    EXPECT_EQ(report.OutputPictures, 75);
    EXPECT_EQ(QualityText(report), "PSNR \u221e (identical), SSIM 1.000");
}

// Every luma sample offset by fixed noise: the PSNR is what the pixel data gives, over all three
// planes as the filter averages them (the chroma planes are unchanged).
TEST_F(QualityMeter, KnownNoiseGivesThePsnrOfThePixels) {
    const std::string noisy = (dir_ / "noisy.mkv").string();
    auto degraded = [](int x, int y, int i) {
        return std::clamp(PatternLuma(x, y, i) + Noise(x, y, i), 0, 255);
    };
    WriteLosslessClip(noisy, 50, 25, degraded);

    double mseSum = 0;
    for (int i = 0; i < 50; ++i) {
        double squares = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const double d = degraded(x, y, i) - PatternLuma(x, y, i);
                squares += d * d;
            }
        mseSum += squares / (kWidth * kHeight * 1.5);
    }
    const double expected = 10.0 * std::log10(255.0 * 255.0 / (mseSum / 50));

    const TQualityReport report = Measure({.Source = Source(), .Output = noisy});
    ASSERT_TRUE(report.HasVideo);
    EXPECT_EQ(report.ComparedPictures, 50);
    EXPECT_NEAR(report.Psnr, expected, 0.01);
    EXPECT_GT(report.Ssim, 0.5);
    EXPECT_LT(report.Ssim, 0.99);
    EXPECT_EQ(QualityText(report), Format("PSNR %.1f dB, SSIM %.3f", report.Psnr, report.Ssim));
}

// The engine trims, crops, scales and runs a filter; the meter puts the source through the same
// steps, so the comparison is close, and far off when it ignores the trim.
TEST_F(QualityMeter, TrimmedCroppedScaledConversionIsComparedLikeForLike) {
    const std::string output = (dir_ / "converted.mkv").string();
    ASSERT_EQ(ConvertWithEngine(Source(),
                                {{"ss", "0.6"},
                                 {"t", "0.8"},
                                 {"croptop", "8"},
                                 {"cropleft", "16"},
                                 {"s", "80x56"},
                                 {"vf", "hflip"},
                                 {"vcodec", "mpeg4"},
                                 {"qscale", "2"}},
                                output),
              "");
    TQualityJob job{.Source = Source(),
                    .Output = output,
                    .StartUs = 600000,
                    .DurationUs = 800000,
                    .CropTop = 8,
                    .CropLeft = 16,
                    .Width = 80,
                    .Height = 56,
                    .VideoFilters = "hflip"};
    const TQualityReport matched = Measure(job);
    ASSERT_TRUE(matched.HasVideo);
    EXPECT_EQ(matched.OutputPictures, 20);
    EXPECT_EQ(matched.ComparedPictures, 20);
    EXPECT_FALSE(matched.ByTimestamp);
    EXPECT_GT(matched.Psnr, 30.0);
    EXPECT_GT(matched.Ssim, 0.9);

    job.StartUs = 0;
    job.DurationUs = -1;
    const TQualityReport untrimmed = Measure(job);
    EXPECT_LT(untrimmed.Psnr, matched.Psnr - 10.0);
    EXPECT_LT(untrimmed.Ssim, matched.Ssim - 0.2);
}

// The source holds each picture for two frames (1-2, 3-4, ...), so whichever of a pair the engine keeps
// at half the rate, the source picture at the output picture's time shows the same thing, while
// pairing the pictures by their order would not.
TEST_F(QualityMeter, HalfTheFrameRateIsPairedByTimestamp) {
    const std::string source = (dir_ / "pairs.mkv").string();
    WriteLosslessClip(source, 50, 25, [](int x, int y, int i) { return PatternLuma(x, y, (i + 1) / 2); });
    const std::string output = (dir_ / "half.mkv").string();
    ASSERT_EQ(ConvertWithEngine(source, {{"r", "25/2"}, {"vcodec", "mpeg4"}, {"qscale", "2"}}, output), "");
    const int outputPictures = static_cast<int>(test::DecodePictures(output).size());
    ASSERT_LT(outputPictures, 30);

    double lastFraction = 0;
    const TQualityReport report = MeasureQuality({.Source = source, .Output = output}, [&](double fraction) {
        lastFraction = fraction;
        return true;
    });
    ASSERT_TRUE(report.HasVideo);
    EXPECT_TRUE(report.ByTimestamp);
    EXPECT_EQ(report.OutputPictures, outputPictures);
    EXPECT_EQ(report.SourcePictures, 50);
    EXPECT_EQ(report.ComparedPictures, outputPictures);
    EXPECT_GT(report.Psnr, 30.0);
    EXPECT_GT(lastFraction, 0.9);
    EXPECT_NE(QualityText(report).find(Format("%d output and 50 source pictures", outputPictures)),
              std::string::npos);

    const TQualityReport stopped =
        MeasureQuality({.Source = source, .Output = output}, [](double) { return false; });
    EXPECT_TRUE(stopped.Stopped);
    EXPECT_EQ(stopped.OutputPictures, 1);
    EXPECT_EQ(QualityText(stopped), "");
}

TEST_F(QualityMeter, OutputsWithoutVideoHaveNoFigures) {
    for (const std::string& output : {Fixtures().audioOnly, test::RealWorldFixtures().mp3Cover}) {
        const TQualityReport report = Measure({.Source = Fixtures().h264AacMp4, .Output = output});
        EXPECT_FALSE(report.HasVideo) << output;
        EXPECT_EQ(report.ComparedPictures, 0) << output;
        EXPECT_EQ(QualityText(report), "") << output;
    }
}

TEST_F(QualityMeter, UnreadableFilesThrow) {
    const std::string garbage = (dir_ / "garbage.mp4").string();
    {
        std::FILE* file = std::fopen(garbage.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs("not a media file at all", file);
        std::fclose(file);
    }
    for (const std::string& output : {garbage, (dir_ / "missing.mkv").string()})
        EXPECT_THROW(Measure({.Source = Fixtures().h264AacMp4, .Output = output}), FFmpegException) << output;
}

} // namespace
} // namespace tarnel
