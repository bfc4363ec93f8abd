// The frame hook's cost: each picture pass and a text plus an image layer on a 1920 × 1080 picture
// (milliseconds per picture on one core), and a 1080p conversion with the hook against the same
// conversion without it.
//
//   HookBench [folder]
#include "BenchSupport.h"
#include "Fixtures.h"
#include "base/Bitmap.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "converter/FFConverter.h"
#include "core/FilesRecord.h"
#include "core/PictureAdjustment.h"
#include "render/FrameHookRenderer.h"

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

namespace {

using namespace tarnel;
using bench::Median;
using bench::Now;
namespace fs = std::filesystem;

constexpr int kPictures = 60;

// Milliseconds per picture: the median of five rounds of kPictures calls.
double MsPerPicture(TBitmap& picture, const std::function<void(TBitmap&)>& pass) {
    std::vector<double> rounds;
    for (int round = 0; round < 5; ++round) {
        const double start = Now();
        for (int i = 0; i < kPictures; ++i)
            pass(picture);
        rounds.push_back((Now() - start) * 1000 / kPictures);
    }
    return Median(rounds);
}

void FillPattern(TBitmap& picture) {
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width() * 3; ++x)
            picture.ScanLine(y)[x] = static_cast<uint8_t>((x * 7 + y * 3) & 0xFF);
}

double Convert(const std::string& input, const std::string& output, const TlvFilesRecord* hooked) {
    TFFConverter converter;
    TFrameHookRenderer renderer;
    if (hooked)
        converter.OnCustomHook = [&](TCustomFFConverter&, PHookInfo info) {
            renderer.Render(*info->Bitmap, *hooked, info->PTS);
        };
    TInputOptions in;
    const int task = converter.AddTask(input, &in);
    TOutputOptions out;
    out.VideoCodec = "libx264";
    out.VideoPreset = "libx264-veryfast";
    out.AudioCodec = "aac";
    out.CustomHook = hooked != nullptr;
    converter.SetOutputFile(task, output, &out);
    const double start = Now();
    converter.StartTask(0);
    return Now() - start;
}

} // namespace

int main(int argc, char** argv) {
    const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "tarnel-hook-bench";
    fs::create_directories(folder);
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv); // fonts for the text layer
    if (!Loader().LoadSet(kConverterLibraries)) {
        std::fprintf(stderr, "%s\n", Loader().LastLoadError().c_str());
        return 1;
    }
    Logger().SetLogLevel(llQuiet);

    TBitmap picture(1920, 1080);
    FillPattern(picture);
    const double tone = MsPerPicture(picture, [](TBitmap& p) { ToneAndColourPass(p, 300, 20, 300); });
    const double exposure = MsPerPicture(picture, [](TBitmap& p) { ExposurePass(p, 100); });

    const fs::path logo = folder / "logo.png";
    QImage image(320, 120, QImage::Format_RGB888);
    image.fill(QColor(255, 128, 0));
    image.save(QString::fromStdString(logo.string()));
    TlvFilesRecord layers;
    auto text = std::make_unique<TWmRec>();
    text->Text = "Tarnel watermark";
    text->Font.Size = 36;
    text->TextLeft = 40;
    text->TextTop = 40;
    const QSize extent = TFrameHookRenderer::TextExtent(text->Font, text->Text);
    text->TextWidth = extent.width();
    text->TextHeight = extent.height();
    text->TextAlpha = 200;
    text->EndSecond = 1000;
    auto picturesLayer = std::make_unique<TWmRec>();
    picturesLayer->Kind = 1;
    picturesLayer->ImageFile = logo.string();
    picturesLayer->ImageLeft = 1500;
    picturesLayer->ImageTop = 900;
    picturesLayer->ImageAlpha = 128;
    picturesLayer->EndSecond = 1000;
    layers.WaterMarks.push_back(std::move(text));
    layers.WaterMarks.push_back(std::move(picturesLayer));
    TFrameHookRenderer renderer;
    const double layered = MsPerPicture(picture, [&](TBitmap& p) { renderer.Render(p, layers, 0); });

    std::printf("on a 1920x1080 picture, one core, median of 5 rounds of %d pictures:\n", kPictures);
    std::printf("  tone-and-colour pass  %6.2f ms per picture (aim <= 4)\n", tone);
    std::printf("  exposure pass         %6.2f ms per picture (aim <= 4)\n", exposure);
    std::printf("  text + image layer    %6.2f ms per picture\n", layered);

    // A 1080p clip with every setting and both layers, against the same conversion without the hook.
    const fixtures::FixtureSet clips = fixtures::EnsureFixtures((folder / "fixtures").string());
    const std::string hd = (folder / "clip-1080p.mp4").string();
    if (!fs::exists(hd)) {
        TCustomFFmpeg engine;
        engine.Reset();
        engine.AddInputFile(clips.h264AacMp4);
        for (const auto& [name, value] :
             {std::pair{"s", "1920x1080"}, {"vcodec", "libx264"}, {"vpre", "veryfast"}, {"acodec", "aac"}})
            engine.SetOption(name, value);
        bench::WriteOutput(engine, hd + ".part.mp4", hd, false);
    }
    layers.Brightness = 300;
    layers.Contrast = 20;
    layers.Saturation = 300;
    layers.Exposure = 100;
    std::vector<double> ratios, plainTimes, hookTimes;
    for (int i = 0; i < 4; ++i) {
        double plain = 0, hooked = 0;
        if (i % 2 == 0) {
            plain = Convert(hd, (folder / "plain.mp4").string(), nullptr);
            hooked = Convert(hd, (folder / "hooked.mp4").string(), &layers);
        } else {
            hooked = Convert(hd, (folder / "hooked.mp4").string(), &layers);
            plain = Convert(hd, (folder / "plain.mp4").string(), nullptr);
        }
        plainTimes.push_back(plain);
        hookTimes.push_back(hooked);
        ratios.push_back(hooked / plain);
    }
    std::printf("3 s 1080p H.264 -> libx264 veryfast, median of 4 alternating pairs:\n");
    std::printf("  without the hook %.2f s, with settings and two layers %.2f s, ratio %.2f\n",
                Median(plainTimes), Median(hookTimes), Median(ratios));
    return 0;
}
