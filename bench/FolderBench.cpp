// Adding a folder of 1,000 short files to the desktop program's list: the total time, and the
// longest time the GUI thread was busy without handling its events (a timer due every millisecond
// measures the gaps). Then the start-up of a window that restores the saved list of 1,000 rows.
// Runs offscreen with a private home folder inside the work folder.
//
//   FolderBench [work folder] [files]
#include "BenchSupport.h"
#include "Fixtures.h"
#include "MainWindow.h"
#include "QtShellServices.h"
#include "widgets/FileListView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

using namespace tarnel;
namespace fs = std::filesystem;

// The longest gap between the ticks of a 1 ms timer while `work` runs, in milliseconds.
double LongestBlock(const std::function<void()>& work) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.elapsed(), longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start(1);
    QApplication::processEvents();
    last = clock.elapsed();
    work();
    longest = std::max(longest, clock.elapsed() - last);
    return static_cast<double>(longest);
}

} // namespace

int main(int argc, char** argv) {
    const fs::path folder =
        fs::absolute(argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "tarnel-folder-bench");
    const int count = argc > 2 ? std::atoi(argv[2]) : 1000;
    fs::remove_all(folder / "home");
    fs::create_directories(folder / "home");
    setenv("HOME", (folder / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder / "home" / ".config").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    const fixtures::FixtureSet clips = fixtures::EnsureFixtures((folder / "fixtures").string());
    const fs::path media = folder / "media";
    if (!fs::exists(media / ("clip-" + std::to_string(count - 1) + ".mp4"))) {
        fs::create_directories(media);
        for (int i = 0; i < count; ++i)
            fs::copy_file(clips.h264AacMp4, media / ("clip-" + std::to_string(i) + ".mp4"),
                          fs::copy_options::overwrite_existing);
    }

    TQtShellServices services;
    double addSeconds = 0, addBlock = 0, restoreSeconds = 0;
    int rows = 0, restored = 0;
    {
        TfrmMain window(services);
        window.show();
        QApplication::processEvents();
        const double start = bench::Now();
        addBlock = LongestBlock([&] { window.AddFiles({media.string()}); });
        addSeconds = bench::Now() - start;
        rows = window.FileList().RowCount();
    }
    {
        const double start = bench::Now();
        TfrmMain window(services);
        window.show();
        QApplication::processEvents();
        restoreSeconds = bench::Now() - start;
        restored = window.FileList().RowCount();
    }
    std::printf("a folder of %d short files: %d rows in %.2f s; the GUI thread was busy at most %.0f ms at a "
                "time (aim < 50 ms)\n",
                count, rows, addSeconds, addBlock);
    std::printf("start-up restoring the list: %d rows in %.0f ms\n", restored, restoreSeconds * 1000);
    return rows == count && restored == count ? 0 : 1;
}
