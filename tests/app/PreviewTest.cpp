// The preview panel: playing, pausing, stopping, the end of a file, seeking with the bar, mute,
// volume and snapshots (SDL's dummy drivers stand in for the screen and the sound card).
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
    // Which of play, pause, stop and snapshot are enabled, in that order.
    std::string Buttons() {
        std::string state;
        for (const char* name : {"btnPlay", "btnPause", "btnStop", "btnSnapshot"})
            state += Button(name).isEnabled() ? '1' : '0';
        return state;
    }
    int OpenedFiles() { return static_cast<int>(Window().LogLines().filter("duration: ").size()); }
};

TEST_F(PreviewTest, PlayPauseStopAndTheEndOfTheFile) {
    TfrmMain& window = Start();
    window.AddFiles({Fixtures().h264AacMp4, Fixtures().mpeg2Ts});
    EXPECT_EQ(Buttons(), "1000");
    window.FileList().clearSelection();
    window.PlayClick();
    EXPECT_EQ(window.FileList().SelectedIndex(), 0) << "with no row selected, row 0 plays";
    EXPECT_EQ(Buttons(), "0111");
    EXPECT_FALSE(Button("btnPrevious").isEnabled());
    EXPECT_TRUE(Button("btnNext").isEnabled());
    ASSERT_TRUE(test::WaitUntil([&] { return OpenedFiles() == 1; }, 5000));
    EXPECT_EQ(Label("lblDuration"), "0:00:03");
    EXPECT_TRUE(window.LogLines().contains("duration: 3.000000, frame size: 320x240"));
    EXPECT_TRUE(window.SeekBar().isEnabled());
    EXPECT_EQ(window.SeekBar().Max(), window.SeekBar().width());

    window.PauseClick();
    EXPECT_EQ(Buttons(), "1011");
    EXPECT_TRUE(window.Player().IsPaused());
    window.PlayClick();
    EXPECT_EQ(Buttons(), "0111");
    EXPECT_FALSE(window.Player().IsPaused());
    EXPECT_EQ(OpenedFiles(), 1) << "play after pause resumes without opening the file again";

    // The end of the file: back to the start, paused, buttons as stopped.
    ASSERT_TRUE(test::WaitUntil([&] { return Button("btnPlay").isEnabled(); }, 10000));
    EXPECT_EQ(Buttons(), "1000");
    EXPECT_EQ(Label("lblTime"), "00:00:00 / ");
    EXPECT_FALSE(window.SeekBar().isEnabled());
    EXPECT_TRUE(window.Player().IsPaused());

    window.PlayClick();
    ASSERT_TRUE(test::WaitUntil([&] { return OpenedFiles() == 2; }, 5000));
    window.StopPreview();
    EXPECT_EQ(Buttons(), "1000");
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

TEST_F(PreviewTest, DraggingTheSeekBarToTheMiddleSeeksToHalfTheLength) {
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
    const int middle = (bar.width() - 6) / 2;
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(10, 10));
    QMouseEvent move(QEvent::MouseMove, QPointF(middle, 10), bar.mapToGlobal(QPointF(middle, 10)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&bar, &move);
    EXPECT_EQ(bar.PositionL(), bar.Max() / 2);
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(middle, 10));
    ASSERT_TRUE(test::WaitUntil([&] { return Label("lblTime").startsWith("0:00:5"); }, 5000));
    window.StopPreview();
}

TEST_F(PreviewTest, VolumeAndMuteAreStored) {
    TfrmMain& window = Start();
    window.VolumeBar().SetPositionL(100);
    EXPECT_EQ(window.Settings().Volume(), 100);
    EXPECT_EQ(window.Player().AudioVolume(), 100);
    Button("btnMute").pressed();
    EXPECT_TRUE(window.Muted());
    EXPECT_TRUE(window.Player().Mute());
    EXPECT_TRUE(window.Settings().Mute());
    Button("btnMute").pressed();
    EXPECT_FALSE(window.Settings().Mute());
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
    window.PauseClick();
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
