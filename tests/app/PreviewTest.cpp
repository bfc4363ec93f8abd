// The main window's preview panel: what Play opens, Previous and Next, the time labels and the log
// lines, and snapshots (SDL's dummy drivers stand in for the screen and the sound card). The
// preview player's buttons, bars and volume are tested in PreviewPlayerTest.
#include "MainWindowFixture.h"
#include "TrackBar2.h"
#include "widgets/FileListView.h"

#include <QLabel>
#include <QToolButton>
#include <QtTest/QTest>
#include <filesystem>

namespace tarnel {
namespace {

using test::Fixtures;
using test::MainWindowTest;
namespace fs = std::filesystem;

class PreviewTest : public MainWindowTest {
protected:
    QToolButton& Button(const char* name) { return *Window().findChild<QToolButton*>(name); }
    QString Label(const char* name) { return Window().findChild<QLabel*>(name)->text(); }
    int OpenedFiles() { return static_cast<int>(Window().LogLines().filter("duration: ").size()); }
};

TEST_F(PreviewTest, PlayOpensTheSelectedRowAndTheEndOfTheFileResetsTheTimes) {
    TfrmMain& window = Start();
    window.AddFiles({Fixtures().h264AacMp4, Fixtures().mpeg2Ts});
    window.FileList().clearSelection();
    window.PlayClick();
    EXPECT_EQ(window.FileList().SelectedIndex(), 0) << "with no row selected, row 0 plays";
    EXPECT_FALSE(Button("btnPrevious").isEnabled());
    EXPECT_TRUE(Button("btnNext").isEnabled());
    ASSERT_TRUE(test::WaitUntil([&] { return OpenedFiles() == 1; }, 5000));
    EXPECT_EQ(Label("lblDuration"), "0:00:03");
    EXPECT_TRUE(window.LogLines().contains("duration: 3.000000, frame size: 320x240"));

    Button("btnPause").click();
    EXPECT_TRUE(window.Player().IsPaused());
    window.PlayClick();
    EXPECT_FALSE(window.Player().IsPaused());
    EXPECT_EQ(OpenedFiles(), 1) << "play after pause resumes without opening the file again";

    // At the end the times show zero and Play opens the file again.
    ASSERT_TRUE(test::WaitUntil([&] { return Button("btnPlay").isEnabled(); }, 10000));
    EXPECT_EQ(Label("lblTime"), "00:00:00 / ");
    EXPECT_EQ(Label("lblDuration"), "00:00:00");
    window.PlayClick();
    ASSERT_TRUE(test::WaitUntil([&] { return OpenedFiles() == 2; }, 5000));
    window.StopPreview();
    EXPECT_EQ(Label("lblDuration"), "00:00:00");
    window.NextClick();
    EXPECT_EQ(window.FileList().SelectedIndex(), 1);
    ASSERT_TRUE(test::WaitUntil([&] { return OpenedFiles() == 3; }, 5000));
    EXPECT_TRUE(Button("btnPrevious").isEnabled());
    EXPECT_FALSE(Button("btnNext").isEnabled());
    window.StopPreview();
}

TEST_F(PreviewTest, PlayOnAnEmptyListAddsAndPlays) {
    services_.FilesToOpen = {Fixtures().h264AacMp4};
    TfrmMain& window = Start();
    window.PlayClick();
    EXPECT_EQ(services_.OpenDialogs, 1);
    ASSERT_EQ(window.FileList().RowCount(), 1);
    ASSERT_TRUE(test::WaitUntil([&] { return OpenedFiles() == 1; }, 5000));
    window.StopPreview();
}

TEST_F(PreviewTest, TheTimesAreInWholeSecondsAndFollowTheSeekBar) {
    const fs::path wav = home_.Home() / "long.wav";
    test::WriteSilentWav(wav, 100);
    const fs::path almostMinute = home_.Home() / "minute.wav";
    test::WriteSilentWav(almostMinute, 59.6);
    TfrmMain& window = Start();
    window.AddFiles({almostMinute.string(), wav.string()});
    window.PlayClick();
    ASSERT_TRUE(test::WaitUntil([&] { return OpenedFiles() == 1; }, 5000));
    EXPECT_EQ(Label("lblDuration"), "0:01:00") << "59.6 s rounds to a minute";
    window.NextClick();
    ASSERT_TRUE(test::WaitUntil([&] { return OpenedFiles() == 2; }, 5000));
    EXPECT_EQ(Label("lblDuration"), "0:01:40");

    TTrackBar2& bar = window.SeekBar();
    const QPoint middle(bar.width() / 2, 10);
    QTest::mousePress(&bar, Qt::LeftButton, {}, middle);
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, middle);
    ASSERT_TRUE(test::WaitUntil([&] { return Label("lblTime").startsWith("0:00:5"); }, 5000));
    window.StopPreview();
}

TEST_F(PreviewTest, SnapshotWritesThePicturesAndOpensTheFolder) {
    const fs::path shots = home_.Home() / "shots";
    WriteSettings("[settings]\nSnapOutPutDir=" + shots.string() + "\nsnapJpg=0\n");
    TfrmMain& window = Start();
    window.SnapshotClick(); // nothing plays: nothing happens
    EXPECT_TRUE(services_.OpenedUrls.empty());
    window.AddFiles({Fixtures().h264AacMp4});
    window.PlayClick();
    ASSERT_TRUE(test::WaitUntil([&] { return OpenedFiles() == 1; }, 5000));
    Button("btnPause").click();
    ASSERT_TRUE(test::WaitUntil([&] { return window.Player().CurrentFrame().Width() > 0; }, 5000));
    window.SnapshotClick();
    EXPECT_EQ(QImage(QString::fromStdString((shots / "Snapshot_full.bmp").string())).size(), QSize(320, 240));
    EXPECT_EQ(QImage(QString::fromStdString((shots / "Snapshot_small.bmp").string())).size(),
              QSize(370, 240));
    EXPECT_FALSE(fs::exists(shots / "Snapshot_full.jpg"));
    EXPECT_EQ(services_.OpenedUrls, std::vector<std::string>{shots.string() + "/"});
    window.StopPreview();
}

} // namespace
} // namespace tarnel
