// Start: tasks from the ticked rows, the progress window, the reports and the end of the run.
#include "EngineConvert.h"
#include "MainWindowFixture.h"
#include "PictureDecode.h"
#include "ProgressWindow.h"
#include "widgets/FileListView.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <map>
#include <set>

namespace tarnel {
namespace {

using test::Fixtures;
using test::MainWindowTest;
namespace fs = std::filesystem;

class BatchTest : public MainWindowTest {
protected:
    // AVI with MPEG-4 and MP3: a quick profile.
    void SetUp() override {
        outputFolder_ = home_.Home() / "out";
        WriteSettings("[settings]\nOutPutDir=" + outputFolder_.string() +
                      "\nFormatCode=404\nFormatName=AVI Video (*.avi)\n");
    }
    // Five copies of the clip; the rows at `ticked` keep their tick.
    void AddRows(TfrmMain& window, std::initializer_list<int> ticked) {
        std::vector<std::string> files;
        for (int i = 0; i < 5; ++i) {
            const fs::path copy = home_.Home() / ("clip" + std::to_string(i) + ".mp4");
            fs::copy_file(Fixtures().h264AacMp4, copy, fs::copy_options::overwrite_existing);
            files.push_back(copy.string());
        }
        window.AddFiles(files);
        for (int i = 0; i < window.FileList().RowCount(); ++i)
            window.FileList().Row(i)->SetChecked(std::find(ticked.begin(), ticked.end(), i) != ticked.end());
    }
    std::string Progress(TfrmMain& window, int row) {
        return window.FileList().Row(row)->text(TFileListView::colProgress).toStdString();
    }
    fs::path outputFolder_;
};

TEST_F(BatchTest, NoTickedRowOnlyWarns) {
    TfrmMain& window = Start();
    AddRows(window, {});
    window.btnStartClick();
    ASSERT_EQ(services_.Messages.size(), 1u);
    EXPECT_EQ(services_.Messages[0].Text, "Please select a file by clicking the check box!");
    EXPECT_EQ(services_.Messages[0].Caption, "Warning");
    EXPECT_EQ(window.ProgressWindow(), nullptr);
    EXPECT_EQ(window.Converter().TaskCount(), 0);
}

TEST_F(BatchTest, ThreeTickedRowsOfFiveConvertInRowOrder) {
    TfrmMain& window = Start();
    AddRows(window, {1, 2, 4});
    window.btnStartClick(); // returns when the run has ended and the progress window closed
    EXPECT_EQ(window.Plan().TaskRows, (std::vector<int32_t>{1, 2, 4}));
    for (int row : {1, 2, 4})
        EXPECT_EQ(Progress(window, row), "100%") << row;
    for (int row : {0, 3})
        EXPECT_EQ(Progress(window, row), "") << row;
    ASSERT_EQ(window.Plan().Outputs.size(), 3u);
    EXPECT_EQ(window.Plan().Outputs[0], (outputFolder_ / "clip1_(new).avi").string());
    for (const std::string& output : window.Plan().Outputs)
        EXPECT_GT(fs::file_size(output), 10000u) << output;
    EXPECT_EQ(services_.OpenedUrls, std::vector<std::string>{outputFolder_.string()})
        << "the folder opens once";
    EXPECT_EQ(services_.PowerOffs, 0);
    ASSERT_NE(window.ProgressWindow(), nullptr);
    EXPECT_FALSE(window.ProgressWindow()->isVisible());
    EXPECT_EQ(window.Converter().TaskCount(), 0);
    EXPECT_TRUE(services_.Messages.empty());

    // A progress report for task 1 shows on the second ticked row.
    TProgressInfo info;
    info.TaskIndex = 1;
    info.CurrentDuration = 1500000;
    info.TotalDuration = 3000000;
    window.TaskProgress(info);
    EXPECT_EQ(Progress(window, 2), "50%");
}

// Two at once: both files are listed while they run, overlap in time, each is reported once, the
// after-conversion choices run once at the very end, and the desktop hears how the batch went.
TEST_F(BatchTest, TwoSideBySideListEveryRunningFileAndEndOnce) {
    WriteSettings("[settings]\nOutPutDir=" + outputFolder_.string() +
                  "\nFormatCode=404\nFormatName=AVI Video (*.avi)\njobs=2\n");
    TfrmMain& window = Start();
    // Large pictures, so that each file takes long enough to be seen running beside another.
    const fs::path large = home_.Home() / "large.mp4";
    ASSERT_EQ(test::ConvertWithEngine(
                  Fixtures().h264AacMp4,
                  {{"s", "1920x1080"}, {"vcodec", "mpeg4"}, {"b", "8000000"}, {"acodec", "mp2"}},
                  large.string()),
              "");
    std::vector<std::string> files;
    for (int i = 0; i < 4; ++i) {
        files.push_back((home_.Home() / ("large" + std::to_string(i) + ".mp4")).string());
        fs::copy_file(large, files.back());
    }
    window.AddFiles(files);
    // A picture setting: every large picture goes through the frame hook, which takes a while.
    for (int i = 0; i < window.FileList().RowCount(); ++i)
        window.FileList().Row(i)->Record().Brightness = 300;
    std::map<int, std::pair<double, double>> spans; // task → first and last progress report
    QElapsedTimer clock;
    clock.start();
    int mostListed = 0;
    std::set<QString> pictureFiles; // the names shown under the picture
    const auto report = window.Converter().OnProgress;
    // Progress reports reach the window on the main thread.
    window.Converter().OnProgress = [&](TCustomFFConverter& converter, PProgressInfo info) {
        const double now = clock.nsecsElapsed() / 1e9;
        auto [entry, added] = spans.try_emplace(info->TaskIndex, now, now);
        entry->second.second = now;
        report(converter, info);
        mostListed = std::max(mostListed, static_cast<int>(window.ProgressWindow()->RunningFiles().size()));
        if (!window.ProgressWindow()->PictureFile().isEmpty())
            pictureFiles.insert(window.ProgressWindow()->PictureFile());
    };
    window.btnStartClick();
    for (int row : {0, 1, 2, 3})
        EXPECT_EQ(Progress(window, row), "100%") << row;
    EXPECT_EQ(mostListed, 2) << "both running files are listed";
    EXPECT_GE(pictureFiles.size(), 2u) << "the picture names the file it comes from";
    for (const QString& name : pictureFiles)
        EXPECT_TRUE(files.end() != std::find_if(files.begin(), files.end(),
                                                [&name](const std::string& file) {
                                                    return fs::path(file).filename().string() ==
                                                           name.toStdString();
                                                }))
            << name.toStdString();
    ASSERT_TRUE(spans.count(0) && spans.count(1));
    EXPECT_LT(spans[1].first, spans[0].second) << "the second file started before the first ended";
    EXPECT_EQ(services_.OpenedUrls, std::vector<std::string>{outputFolder_.string()})
        << "the folder opens once";
    EXPECT_EQ(services_.Notifications, std::vector<std::string>{"Tarnel: 4 files converted, 0 failed"});
}

TEST_F(BatchTest, AFileThatIsGoneIsSkippedAndNamed) {
    TfrmMain& window = Start();
    AddRows(window, {0, 2, 3});
    fs::remove(home_.Home() / "clip2.mp4");
    window.btnStartClick();
    EXPECT_EQ(window.Plan().TaskRows, (std::vector<int32_t>{0, 3}));
    EXPECT_EQ(Progress(window, 3), "100%");
    EXPECT_EQ(Progress(window, 2), "");
    ASSERT_EQ(services_.Messages.size(), 1u);
    EXPECT_EQ(services_.Messages[0].Text.rfind(
                  "These files were not converted:\n" + (home_.Home() / "clip2.mp4").string() + ": ", 0),
              0u)
        << services_.Messages[0].Text;
    EXPECT_TRUE(window.LogLines().join("\n").contains("Skipped"));
    EXPECT_EQ(services_.OpenedUrls.size(), 1u) << "the last task of the run still opens the folder";

    // Nothing left to convert: no progress window waits for a run that never comes.
    services_.Messages.clear();
    for (int i = 0; i < window.FileList().RowCount(); ++i)
        window.FileList().Row(i)->SetChecked(i == 2);
    window.btnStartClick();
    EXPECT_TRUE(window.Plan().TaskRows.empty());
    EXPECT_EQ(services_.Messages.size(), 1u);
}

// Cancel while the first file is written: the run ends before the window closes, the unfinished
// outputs are gone, the message after the run names the stopped files, and nothing runs after it.
TEST_F(BatchTest, CancelRemovesTheUnfinishedOutputsAndSaysWhatWasStopped) {
    TfrmMain& window = Start();
    AddRows(window, {0, 1, 2});
    for (int i = 0; i < 3; ++i)
        window.FileList().Row(i)->Record().Brightness = 300; // through the frame hook: slower
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &window, [&window] {
        TfrmProgress* progress = window.ProgressWindow();
        if (progress && progress->isVisible() && fs::exists(window.Plan().Outputs[0]))
            progress->reject();
    });
    poll.start();
    window.btnStartClick();
    poll.stop();
    EXPECT_FALSE(window.ProgressWindow()->isVisible());
    EXPECT_EQ(window.Converter().TaskCount(), 0) << "the run has ended when the window closes";
    ASSERT_EQ(services_.Messages.size(), 1u);
    const std::string& message = services_.Messages[0].Text;
    EXPECT_EQ(message.rfind("These files were not converted:\n", 0), 0u) << message;
    int removed = 0;
    for (size_t task = 0; task < 3; ++task) {
        const int row = window.Plan().TaskRows[task];
        const std::string stopped =
            window.FileList().Row(row)->Record().SourceFile + ": stopped before its end";
        if (fs::exists(window.Plan().Outputs[task])) {
            EXPECT_EQ(Progress(window, row), "100%") << "only a converted file is kept";
            EXPECT_EQ(message.find(stopped), std::string::npos) << message;
        } else {
            ++removed;
            EXPECT_NE(message.find(stopped), std::string::npos) << message;
        }
    }
    EXPECT_GE(removed, 1) << "the file being written when Cancel came is gone";
    EXPECT_TRUE(services_.OpenedUrls.empty()) << "no after-conversion action for a stopped run";
    EXPECT_EQ(services_.PowerOffs, 0);
}

// Pause while running, Resume while paused, and the title says so; the file size grows meanwhile.
TEST_F(BatchTest, PauseAndResumeFollowTheStateAndTheFileSizeGrows) {
    TfrmMain& window = Start();
    // A large picture through the frame hook: long enough for several progress reports.
    const fs::path large = home_.Home() / "large.mp4";
    ASSERT_EQ(test::ConvertWithEngine(
                  Fixtures().h264AacMp4,
                  {{"s", "1920x1080"}, {"vcodec", "mpeg4"}, {"b", "8000000"}, {"acodec", "mp2"}},
                  large.string()),
              "");
    window.AddFiles({large.string()});
    window.FileList().Row(0)->Record().Brightness = 300;
    struct TSeen {
        bool pauseEnabled, resumeEnabled, paused;
        QString title;
    };
    std::vector<TSeen> seen;
    std::vector<int> sizes; // kb, as shown
    const auto look = [&] {
        TfrmProgress& progress = *window.ProgressWindow();
        seen.push_back({progress.findChild<QPushButton*>("btnPause")->isEnabled(),
                        progress.findChild<QPushButton*>("btnResume")->isEnabled(), progress.Paused(),
                        progress.windowTitle()});
    };
    const auto report = window.Converter().OnProgress;
    window.Converter().OnProgress = [&](TCustomFFConverter& converter, PProgressInfo info) {
        report(converter, info);
        sizes.push_back(
            window.ProgressWindow()->findChild<QLabel*>("lblFileSize")->text().split(' ')[0].toInt());
        if (sizes.size() != 1)
            return;
        look();
        window.ProgressWindow()->findChild<QPushButton*>("btnPause")->click();
        look();
        window.ProgressWindow()->findChild<QPushButton*>("btnResume")->click();
        look();
    };
    window.btnStartClick();
    ASSERT_EQ(seen.size(), 3u);
    const TSeen expected[] = {{true, false, false, "Progress"},
                              {false, true, true, "Progress - Paused"},
                              {true, false, false, "Progress"}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(seen[i].pauseEnabled, expected[i].pauseEnabled) << i;
        EXPECT_EQ(seen[i].resumeEnabled, expected[i].resumeEnabled) << i;
        EXPECT_EQ(seen[i].paused, expected[i].paused) << i;
        EXPECT_EQ(seen[i].title, expected[i].title) << i;
    }
    ASSERT_GE(sizes.size(), 2u);
    EXPECT_TRUE(std::is_sorted(sizes.begin(), sizes.end()));
    EXPECT_LT(sizes.front(), sizes.back());
    EXPECT_EQ(Progress(window, 0), "100%");
}

TEST_F(BatchTest, ARowsPictureSettingsReachItsOutputOnly) {
    TfrmMain& window = Start();
    AddRows(window, {0, 1});
    window.FileList().Row(1)->Record().Brightness = 128; // half the levels, on the second row only
    window.btnStartClick();
    ASSERT_EQ(window.Plan().Outputs.size(), 2u);
    const auto level = [](const std::string& file) {
        const std::vector<test::DecodedPicture> pictures = test::DecodePictures(file);
        const test::DecodedPicture& middle = pictures.at(pictures.size() / 2);
        const std::vector<double> mean = middle.Mean(0, 0, middle.width, middle.height);
        return (mean[0] + mean[1] + mean[2]) / 3;
    };
    EXPECT_NEAR(level(window.Plan().Outputs[1]) / level(window.Plan().Outputs[0]), 0.5, 0.1);
}

TEST_F(BatchTest, PreviewPicturesAreKeptForTheProgressWindow) {
    TfrmMain& window = Start();
    TBitmap picture(4, 2);
    std::fill(picture.Bits(), picture.Bits() + picture.ByteSize(), 200);
    window.PreviewReport({0, &picture, 1, 0});
    ASSERT_EQ(window.LatestPreviewFrame().size(), QSize(4, 2));
    EXPECT_EQ(window.LatestPreviewFrame().pixelColor(3, 1), QColor(200, 200, 200));
    TBitmap empty;
    window.PreviewReport({0, &empty, 2, 0});
    EXPECT_EQ(window.LatestPreviewFrame().size(), QSize(4, 2))
        << "a picture without pixels keeps the last one";
}

} // namespace
} // namespace tarnel
