// Time from Play to the first picture on the screen, on a 1080p H.264 + AAC file: in the main
// window's preview panel (Stop, then Play) and in the trim dialog's (Stop, then Play of its
// preview). The picture is seen by grabbing the panel's area from the X server until most of it is
// no longer black, every few milliseconds, so the figures include what the server shows. Runs on an
// X server: xvfb-run -a -s "-screen 0 1280x800x24" PreviewBench [work folder]. It runs the desktop
// program with a private home folder inside the work folder.
#include "BenchSupport.h"
#include "Fixtures.h"
#include "MainWindow.h"
#include "QtShellServices.h"
#include "SplashWindow.h"
#include "StartUp.h"
#include "TrimDialog.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "preview/PreviewPlayer.h"
#include "widgets/FileListView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

namespace {

using namespace tarnel;
namespace fs = std::filesystem;

constexpr int kRounds = 9;
constexpr int kTimeoutMs = 5000;

// Runs the event loop until `done`, at most `timeoutMs`; whether it came.
bool ProcessUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 2);
        QThread::usleep(500);
    }
    return true;
}

// Whether most of `panel`, as the X server shows it, is not black.
bool PictureOnScreen(QWidget& panel) {
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(panel.winId()).toImage();
    int lit = 0, total = 0;
    for (int y = 0; y < screen.height(); y += 4)
        for (int x = 0; x < screen.width(); x += 4, ++total)
            lit += qGray(screen.pixel(x, y)) > 24 ? 1 : 0;
    return total > 0 && lit * 4 > total;
}

// The median milliseconds from `play` to a picture in `panel`, `kRounds` times after `stop`; also
// prints the medians of the steps on the way: the file opened, the first position reported.
double MeasurePlayToPicture(TPreviewPlayer& preview, QWidget& panel, const std::function<void()>& stop,
                            const std::function<void()>& play) {
    std::vector<double> times, opened, positioned;
    double start = 0, openedAt = 0, positionedAt = 0;
    const QMetaObject::Connection onOpen =
        QObject::connect(&preview, &TPreviewPlayer::Opened, [&] { openedAt = bench::Now(); });
    const QMetaObject::Connection onPosition =
        QObject::connect(&preview, &TPreviewPlayer::PositionChanged, [&] {
            if (positionedAt == 0)
                positionedAt = bench::Now();
        });
    for (int round = 0; round < kRounds; ++round) {
        stop();
        if (!ProcessUntil([&] { return !PictureOnScreen(panel); }, kTimeoutMs)) {
            std::fprintf(stderr, "the panel does not turn black after Stop\n");
            return -1;
        }
        openedAt = positionedAt = 0;
        start = bench::Now();
        play();
        if (!ProcessUntil([&] { return PictureOnScreen(panel); }, kTimeoutMs)) {
            std::fprintf(stderr, "no picture within %d ms of Play\n", kTimeoutMs);
            return -1;
        }
        times.push_back((bench::Now() - start) * 1000.0);
        opened.push_back(openedAt > 0 ? (openedAt - start) * 1000.0 : -1);
        positioned.push_back(positionedAt > 0 ? (positionedAt - start) * 1000.0 : -1);
    }
    QObject::disconnect(onOpen);
    QObject::disconnect(onPosition);
    std::printf("  opened %.0f ms, first position %.0f ms, picture on the screen %.0f ms\n",
                bench::Median(opened), bench::Median(positioned), bench::Median(times));
    return bench::Median(times);
}

} // namespace

int main(int argc, char** argv) {
    const fs::path folder =
        fs::absolute(argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "tarnel-preview-bench");
    fs::create_directories(folder / "home");
    setenv("HOME", (folder / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder / "home" / ".config").c_str(), 1);
    QApplication application(argc, argv);
    if (QGuiApplication::platformName() != "xcb") {
        std::fprintf(stderr, "PreviewBench needs an X server: xvfb-run -a PreviewBench\n");
        return 1;
    }
    if (!Loader().LoadSet(kPlayerLibraries)) {
        std::fprintf(stderr, "%s\n", Loader().LastLoadError().c_str());
        return 1;
    }
    Logger().SetLogLevel(llQuiet);
    const fixtures::FixtureSet clips = fixtures::EnsureFixtures((folder / "fixtures").string());
    const std::string joined = bench::JoinClip(folder, "joined.mkv", clips.h264AacMp4, 4);
    const std::string file = bench::MakeHd(folder, "preview-1080p.mp4", joined, 10, 0);

    TQtShellServices services;
    std::unique_ptr<TDesktop> desktop = StartDesktop(services, {file});
    TfrmMain& window = *desktop->MainWindow;
    if (!ProcessUntil([&] { return window.FileList().RowCount() == 1 && !desktop->Cover; }, 10000)) {
        std::fprintf(stderr, "the main window did not show the file\n");
        return 1;
    }
    QWidget& mainPanel = *window.findChild<QWidget*>("pnlPreview");
    const double mainWindow = MeasurePlayToPicture(
        window.Preview(), mainPanel, [&] { window.StopPreview(); }, [&] { window.PlayClick(); });
    window.StopPreview();

    TfrmTrim trim(window.Settings(), &window);
    trim.show();
    if (!trim.Load(*window.FileList().Row(0), false)) {
        std::fprintf(stderr, "the trim dialog did not open the file\n");
        return 1;
    }
    QWidget& trimPanel = *trim.findChild<QWidget*>("imgPreview");
    const double trimDialog = MeasurePlayToPicture(
        trim.Preview(), trimPanel, [&] { trim.Preview().Stop(); }, [&] { trim.Preview().Play(); });
    trim.Preview().Stop();
    trim.close();

    std::printf("Play to the first picture on the screen, 1920x1080 H.264 + AAC, median of %d:\n", kRounds);
    std::printf("  main window %.0f ms, trim dialog %.0f ms (aim <= 150 ms)\n", mainWindow, trimDialog);
    return mainWindow < 0 || trimDialog < 0 ? 1 : 0;
}
