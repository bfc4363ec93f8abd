// The progress window's picture and texts, the media-information window, the output-folder flow
// and the snapshot files.
#include "AppTestSupport.h"
#include "EngineConvert.h"
#include "FileInfoDialog.h"
#include "FolderChooser.h"
#include "MainWindowFixture.h"
#include "ProgressWindow.h"
#include "Snapshots.h"
#include "converter/FFConverter.h"
#include "core/FolderSetting.h"
#include "core/MainSettings.h"
#include "core/ProgressEstimate.h"
#include "widgets/FileListView.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>
#include <filesystem>

namespace tarnel {
namespace {

using test::Fixtures;
using test::MainWindowTest;
namespace fs = std::filesystem;

TEST(ProgressWindowTest, FramesFitTheirShapeIntoThePreview) {
    const QRect area(0, 0, 372, 210);
    EXPECT_EQ(TfrmProgress::FitFrame({640, 480}, area), QRect(46, 0, 280, 210)); // x 46 … 326
    EXPECT_EQ(TfrmProgress::FitFrame({1280, 720}, area), QRect(0, 0, 372, 210)); // 372 / 210 is nearly 16:9
    EXPECT_EQ(TfrmProgress::FitFrame({1920, 800}, area), QRect(0, 28, 372, 154)) << "27.5 rounds to even";
    EXPECT_EQ(TfrmProgress::FitFrame({372, 210}, area), area);
}

TEST(ProgressWindowTest, LongFileNamesKeepTheirExtension) {
    const QString shortName = QString(50, 'a');
    EXPECT_EQ(TfrmProgress::ShortFileName(shortName), shortName);
    const QString longName = "/videos/" + QString(60, 'b') + ".mkv";
    EXPECT_EQ(TfrmProgress::ShortFileName(longName), longName.left(44) + "...mkv");
}

TEST(ProgressEstimateTest, PausedTimeDoesNotCountAndUnknownLengthsStayUnknown) {
    TProgressEstimate estimate;
    estimate.Start(100);
    estimate.Update(2000000, 10000000, 101); // 2 s of media in 1 s
    EXPECT_EQ(estimate.Percent(), 20);
    EXPECT_DOUBLE_EQ(estimate.Speed(), 2.0);
    EXPECT_DOUBLE_EQ(estimate.SecondsLeft(), 4.0);
    estimate.Pause(101);
    estimate.Resume(131);
    estimate.Update(4000000, 10000000, 132);
    EXPECT_DOUBLE_EQ(estimate.Speed(), 2.0) << "the 30 s pause is no work";
    estimate.Update(4000000, -1, 133);
    EXPECT_EQ(estimate.Percent(), -1);
    EXPECT_EQ(estimate.SecondsLeft(), -1);
    EXPECT_EQ(SecondsToClock(3725), "1:02:05");
    EXPECT_EQ(SecondsToClock(-4), "0:00:00");
}

// A run measured over time: no time left in the first second, then the rest at the speed so far,
// and never less than a second while the file runs, even past its expected length.
TEST(ProgressEstimateTest, TheTimeLeftIsAnEstimateAfterTheFirstSecondAndNeverZeroWhileRunning) {
    TProgressEstimate estimate;
    estimate.Start(0);
    const struct {
        double now;
        int64_t currentUs;
        double left;
    } steps[] = {{0.5, 1000000, -1},
                 {1.0, 2000000, 4.0},
                 {2.0, 5000000, 2.0},
                 {4.0, 9900000, 1.0},
                 {5.0, 10500000, 1.0}};
    for (const auto& step : steps) {
        estimate.Update(step.currentUs, 10000000, step.now);
        EXPECT_DOUBLE_EQ(estimate.SecondsLeft(), step.left) << step.now;
    }
}

TEST(FileInfoDialogTest, TextsOfTheWindow) {
    EXPECT_EQ(TfrmFileInfo::DurationText(83456789), "83.456 Second");
    bool shortened = false;
    const QString fifty = "/" + QString(45, 'x') + ".avi";
    ASSERT_EQ(fifty.size(), 50);
    EXPECT_EQ(TfrmFileInfo::NameText(fifty, shortened), fifty.left(40) + "...avi  ");
    EXPECT_TRUE(shortened);
    EXPECT_EQ(TfrmFileInfo::NameText("/short.avi", shortened), "/short.avi");
    EXPECT_EQ(
        TfrmFileInfo::AudioFormatFromInfo("Stream #0, Video: h264, 320x240\nStream #1: Audio: aac, 44100 Hz"),
        "aac");
}

TEST(FileInfoDialogTest, ShowsTheStreamsOfAFile) {
    TfrmFileInfo window;
    window.ShowFile(Fixtures().h264AacMp4);
    EXPECT_EQ(window.findChild<QLabel*>("lblDuration")->text(), "3.000 Second");
    EXPECT_EQ(window.Field("edtResolution"), "320x240");
    EXPECT_TRUE(window.Field("edtAudioFormat").startsWith("aac"))
        << window.Field("edtAudioFormat").toStdString();
    EXPECT_EQ(window.Field("edtSampleRate"), "44100");
    EXPECT_EQ(window.Field("edtChannel"), "2");
}

// Each file after the clip with both kinds of stream: what it has is shown, and what it lacks is
// cleared rather than left from the file before.
TEST(FileInfoDialogTest, FrameRateFramesAndMissingStreams) {
    test::TempDir dir;
    const std::string ntsc = (dir / "ntsc.mp4").string();
    ASSERT_EQ(
        test::ConvertWithEngine(Fixtures().h264AacMp4, {{"r", "30000/1001"}, {"vcodec", "mpeg4"}}, ntsc), "");
    // Matroska states no frame count: duration × rate.
    const std::string matroska = (dir / "copy.mkv").string();
    ASSERT_EQ(
        test::ConvertWithEngine(Fixtures().h264AacMp4, {{"vcodec", "copy"}, {"acodec", "copy"}}, matroska),
        "");
    const struct {
        std::string file;
        const char* frameRate;
        const char* totalFrames;
        bool hasVideo, hasAudio;
        int framesWithin = 0; // an estimate from the duration may be off by this many
    } cases[] = {{Fixtures().h264AacMp4, "25", "75", true, true},
                 {ntsc, "29.97", "89", true, true}, // 3 s hold 89 whole pictures at 29.97
                 {matroska, "25", "75", true, true, 1},
                 {Fixtures().audioOnly, "", "", false, true},
                 {Fixtures().videoOnly, "25", "75", true, false}};
    TfrmFileInfo window;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        window.ShowFile(Fixtures().h264AacMp4);
        window.ShowFile(c.file);
        EXPECT_FALSE(window.findChild<QLabel*>("lblName")->text().isEmpty());
        EXPECT_TRUE(window.findChild<QLabel*>("lblDuration")->text().startsWith("3.0"));
        EXPECT_EQ(window.Field("edtFrameRate"), c.frameRate);
        if (c.framesWithin == 0)
            EXPECT_EQ(window.Field("edtTotalFrame"), c.totalFrames);
        else
            EXPECT_NEAR(window.Field("edtTotalFrame").toInt(), QString(c.totalFrames).toInt(),
                        c.framesWithin);
        EXPECT_EQ(window.Field("edtResolution").isEmpty(), !c.hasVideo);
        EXPECT_EQ(window.Field("edtSampleRate").isEmpty(), !c.hasAudio);
        EXPECT_EQ(window.Field("edtChannel").isEmpty(), !c.hasAudio);
    }
    EXPECT_EQ(TfrmFileInfo::FrameRateText(24000, 1001), "23.98");
    EXPECT_EQ(TfrmFileInfo::FrameRateText(25, 2), "12.5");
    EXPECT_EQ(TfrmFileInfo::FrameRateText(0, 0), "");
}

TEST(FolderSettingTest, RootsAreRefusedAndUnwritableFoldersFallBack) {
    test::TPrivateHome home;
    test::TFakeShellServices services;
    std::string stored;
    const auto store = [&](const std::string& folder) {
        stored = folder;
    };
    EXPECT_EQ(SetFolderFromChooser("", "/x", services, store), "");
    EXPECT_EQ(SetFolderFromChooser("/x", "/x", services, store), "");
    EXPECT_EQ(SetFolderFromChooser("/", "/x", services, store), "");
    ASSERT_EQ(services.Messages.size(), 1u);
    EXPECT_EQ(services.Messages[0].Text, "The path / is not a valid directory.");

    EXPECT_EQ(SetFolderFromChooser(home.Home().string(), "/x", services, store), home.Home().string());
    EXPECT_EQ(stored, home.Home().string());

    test::WriteTextFile(home.Home() / "file", "x");
    const std::string blocked = (home.Home() / "file" / "sub").string();
    EXPECT_EQ(SetFolderFromChooser(blocked, "/x", services, store), (home.Home() / "tarnelout").string());
    ASSERT_EQ(services.Messages.size(), 2u);
    EXPECT_EQ(services.Messages[1].Text, "You login as " + TGlobalObject::GetLoginName() +
                                             " .You don't have permission to write to directory:" + blocked);
}

TEST_F(MainWindowTest, BrowseStoresTheChosenFolder) {
    TfrmMain& window = Start();
    services_.ChosenFolder = (home_.Home() / "chosen").string();
    fs::create_directories(services_.ChosenFolder);
    window.findChild<QPushButton*>("btnBrowse")->click();
    EXPECT_EQ(window.OutputFolderField().text().toStdString(), services_.ChosenFolder);
    EXPECT_EQ(window.Settings().OutputFolder(), services_.ChosenFolder);
}

TEST(SnapshotTest, TheSettingsChooseSizesAndFormats) {
    test::TPrivateHome home;
    test::TFakeShellServices services;
    TMainSettings settings(home.SettingsFile().string());
    const fs::path folder = home.Home() / "shots";
    settings.SetSnapshotFolder(folder.string());
    QImage full(640, 480, QImage::Format_RGB888);
    full.fill(Qt::red);
    QImage small(370, 240, QImage::Format_RGB888);
    small.fill(Qt::blue);
    SaveSnapshotPictures(full, small, settings, services);
    for (const char* name :
         {"Snapshot_full.bmp", "Snapshot_small.bmp", "Snapshot_full.jpg", "Snapshot_small.jpg"})
        EXPECT_TRUE(fs::exists(folder / name)) << name;
    EXPECT_EQ(QImage(QString::fromStdString((folder / "Snapshot_small.jpg").string())).size(),
              QSize(370, 240));

    fs::remove_all(folder);
    settings.File().WriteInteger("settings", "snapSmallSize", 0);
    settings.File().WriteInteger("settings", "snapJpg", 0);
    SaveSnapshotPictures(full, small, settings, services);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::exists(folder / "Snapshot_full.bmp"));
    EXPECT_TRUE(services.Messages.empty());
}

} // namespace
} // namespace tarnel

namespace tarnel {
namespace {

TEST(FolderChooserTest, StartsAtTheCurrentFolderAndRefusesNone) {
    test::TPrivateHome home;
    test::TFakeShellServices services;
    const fs::path deep = home.Home() / "a" / "b";
    fs::create_directories(deep);
    TfmDirectory chooser(services);
    chooser.SelectFolder(QString::fromStdString(deep.string()));
    chooser.show();
    ASSERT_TRUE(
        test::WaitUntil([&] { return chooser.SelectedFolder() == QString::fromStdString(deep.string()); }));
    chooser.OkClick();
    EXPECT_EQ(chooser.Result().toStdString(), deep.string());
    EXPECT_TRUE(services.Messages.empty());
}

} // namespace
} // namespace tarnel
