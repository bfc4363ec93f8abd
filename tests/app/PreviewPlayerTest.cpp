// The preview player that the main window and the trim, crop and watermark dialogs share, on the
// real player (SDL's dummy drivers stand in for the screen and the sound card): the buttons by play
// state, the end of a file, the seek bar, volume and mute bound to their settings, pictures handed
// to the GUI thread, and closing.
#include "preview/PreviewPlayer.h"

#include "AppTestSupport.h"
#include "TrackBar2.h"
#include "core/MainSettings.h"
#include "widgets/PreviewPanel.h"

#include <QApplication>
#include <QMouseEvent>
#include <QThread>
#include <QToolButton>
#include <algorithm>
#include <functional>
#include <tuple>

namespace tarnel {
namespace {

using test::Fixtures;
namespace fs = std::filesystem;

// A left button event at x on a bar, as the user makes it.
void SendMouse(TTrackBar2& bar, QEvent::Type type, double x) {
    const QPointF at(x, bar.height() / 2.0);
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, bar.mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(&bar, &event);
}

// A host window with every control the player can drive.
struct THost {
    THost() {
        panel = new TPreviewPanel(&window);
        panel->setGeometry(0, 0, 320, 240);
        for (QToolButton** button : {&play, &pause, &stop, &snapshot, &mute})
            *button = new QToolButton(&window);
        seekBar = new TTrackBar2(&window);
        seekBar->setGeometry(0, 250, 400, 22);
        volumeBar = new TTrackBar2(&window);
        volumeBar->setGeometry(0, 280, 150, 22);
        window.show();
    }
    TPreviewPlayer::TControls Controls() const {
        return {play, pause, stop, snapshot, seekBar, volumeBar, mute};
    }
    // Which of play, pause, stop and snapshot are enabled, in that order.
    std::string Buttons() const {
        std::string state;
        for (const QToolButton* button : {play, pause, stop, snapshot})
            state += button->isEnabled() ? '1' : '0';
        return state;
    }

    QWidget window;
    TPreviewPanel* panel;
    QToolButton* play;
    QToolButton* pause;
    QToolButton* stop;
    QToolButton* snapshot;
    QToolButton* mute;
    TTrackBar2* seekBar;
    TTrackBar2* volumeBar;
};

class PreviewPlayerTest : public ::testing::Test {
protected:
    // Settings written before this call are what the player starts with.
    TPreviewPlayer& Make() {
        settings_ = std::make_unique<TMainSettings>(home_.SettingsFile().string());
        preview_ = std::make_unique<TPreviewPlayer>(*host_.panel, *settings_, host_.Controls());
        QObject::connect(preview_.get(), &TPreviewPlayer::Opened,
                         [this](int64_t duration, int width, int height) {
                             ++opened_;
                             openedWith_ = {duration, width, height};
                         });
        QObject::connect(preview_.get(), &TPreviewPlayer::PositionChanged,
                         [this](int64_t position) { lastPosition_ = position; });
        QObject::connect(preview_.get(), &TPreviewPlayer::StateChanged,
                         [this](TPreviewState state) { states_.push_back(state); });
        return *preview_;
    }
    // Whether a position within [from, to] seconds is reported within five seconds.
    bool ReportsPositionBetween(double from, double to) {
        return test::WaitUntil([&] { return lastPosition_ >= from * 1e6 && lastPosition_ <= to * 1e6; });
    }

    test::TPrivateHome home_;
    THost host_;
    std::unique_ptr<TMainSettings> settings_;
    std::unique_ptr<TPreviewPlayer> preview_;
    int opened_ = 0;
    std::tuple<int64_t, int, int> openedWith_;
    int64_t lastPosition_ = -1;
    std::vector<TPreviewState> states_;
};

TEST_F(PreviewPlayerTest, ButtonsAndSeekBarFollowOpenPausePlayAndStop) {
    TPreviewPlayer& preview = Make();
    const fs::path gone = home_.Home() / "gone.mp4";
    const struct {
        const char* step;
        std::function<void()> act;
        const char* buttons; // play, pause, stop, snapshot
        bool seekBar;
        TPreviewState state;
        int opened;
    } steps[] = {
        {"nothing open", [] {}, "1000", false, TPreviewState::Closed, 0},
        {"open", [&] { EXPECT_TRUE(preview.Open(Fixtures().h264AacMp4)); }, "0111", true,
         TPreviewState::Playing, 1},
        {"pause", [&] { preview.Pause(); }, "1011", true, TPreviewState::Paused, 1},
        {"play after pause plays on", [&] { preview.Play(); }, "0111", true, TPreviewState::Playing, 1},
        {"stop", [&] { preview.Stop(); }, "1000", false, TPreviewState::Closed, 1},
        {"play after stop opens the file again", [&] { preview.Play(); }, "0111", true,
         TPreviewState::Playing, 2},
        {"a file that does not open", [&] { EXPECT_FALSE(preview.Open(gone.string())); }, "1000", false,
         TPreviewState::Closed, 2},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.step);
        step.act();
        EXPECT_EQ(host_.Buttons(), step.buttons);
        EXPECT_EQ(host_.seekBar->isEnabled(), step.seekBar);
        EXPECT_EQ(preview.State(), step.state);
        EXPECT_EQ(opened_, step.opened);
        if (step.state != TPreviewState::Closed) {
            EXPECT_EQ(preview.Player().IsPaused(), step.state == TPreviewState::Paused);
        }
    }
    EXPECT_EQ(openedWith_, std::make_tuple(int64_t{3000000}, 320, 240));
    EXPECT_EQ(host_.seekBar->Max(), host_.seekBar->width()) << "one position a pixel";
    EXPECT_EQ(host_.seekBar->PositionL(), 0);
    const std::vector<TPreviewState> changes = {TPreviewState::Playing, TPreviewState::Paused,
                                                TPreviewState::Playing, TPreviewState::Closed,
                                                TPreviewState::Playing, TPreviewState::Closed};
    EXPECT_EQ(states_, changes);
}

TEST_F(PreviewPlayerTest, TheEndRewindsAndPausesAndPlayPlaysOnFromTheStart) {
    TPreviewPlayer& preview = Make();
    ASSERT_TRUE(preview.Open(Fixtures().h264AacMp4));
    ASSERT_TRUE(test::WaitUntil([&] { return preview.State() == TPreviewState::Ended; }, 10000));
    EXPECT_TRUE(preview.Player().IsPaused());
    EXPECT_EQ(host_.Buttons(), "1000");
    EXPECT_FALSE(host_.seekBar->isEnabled());
    EXPECT_EQ(host_.seekBar->PositionL(), 0);

    lastPosition_ = -1;
    preview.Play();
    EXPECT_EQ(preview.State(), TPreviewState::Playing);
    EXPECT_FALSE(preview.Player().IsPaused());
    EXPECT_EQ(host_.Buttons(), "0111");
    EXPECT_TRUE(ReportsPositionBetween(0, 1)) << "from the start";
    EXPECT_EQ(opened_, 1) << "the file stays open";
}

TEST_F(PreviewPlayerTest, TheSeekBarSeeksWhereItIsPressedAndWhereItIsLetGo) {
    const fs::path wav = home_.Home() / "long.wav";
    test::WriteSilentWav(wav, 100);
    TPreviewPlayer& preview = Make();
    ASSERT_TRUE(preview.Open(wav.string()));
    TTrackBar2& bar = *host_.seekBar;
    const double width = bar.width();
    const double pixel = bar.Max() / width;

    SendMouse(bar, QEvent::MouseButtonPress, 0.6 * width);
    EXPECT_NEAR(bar.PositionL(), 0.6 * bar.Max(), 5 * pixel);
    EXPECT_TRUE(ReportsPositionBetween(59, 64)) << "the press alone seeks";
    EXPECT_FALSE(preview.Player().IsPaused()) << "playing on";
    SendMouse(bar, QEvent::MouseButtonRelease, 0.6 * width);

    SendMouse(bar, QEvent::MouseButtonPress, 0.1 * width);
    SendMouse(bar, QEvent::MouseMove, 0.5 * width);
    EXPECT_NEAR(bar.PositionL(), 0.5 * bar.Max(), 5 * pixel) << "the thumb follows the pointer";
    SendMouse(bar, QEvent::MouseButtonRelease, 0.5 * width);
    EXPECT_TRUE(ReportsPositionBetween(49, 54)) << "letting go seeks there";

    // Right after a seek, a report from before it leaves the thumb alone; once the hold is over,
    // reports move it again.
    SendMouse(bar, QEvent::MouseButtonPress, 0.5 * width);
    SendMouse(bar, QEvent::MouseButtonRelease, 0.5 * width);
    TFFPlayer& player = preview.Player();
    const int thumb = bar.PositionL();
    player.OnPosition(player, 0);
    EXPECT_EQ(bar.PositionL(), thumb);
    EXPECT_TRUE(preview.SeekBarHeld());
    ASSERT_TRUE(test::WaitUntil([&] { return !preview.SeekBarHeld(); }, 2000));
    player.OnPosition(player, 0);
    EXPECT_EQ(bar.PositionL(), 0);
    preview.Stop();
}

TEST_F(PreviewPlayerTest, ATimeShownOnTheSeekBarIsSoughtWhenLetGo) {
    const fs::path wav = home_.Home() / "long.wav";
    test::WriteSilentWav(wav, 100);
    TPreviewPlayer& preview = Make();
    ASSERT_TRUE(preview.Open(wav.string()));
    preview.ShowOnSeekBar(40000000);
    const int thumb = host_.seekBar->Max() * 2 / 5;
    EXPECT_EQ(host_.seekBar->PositionL(), thumb);
    lastPosition_ = -1;
    ASSERT_TRUE(test::WaitUntil([&] { return lastPosition_ >= 1000000; }));
    EXPECT_LT(lastPosition_, 5000000) << "not sought yet";
    EXPECT_EQ(host_.seekBar->PositionL(), thumb) << "held where it was shown";
    preview.SeekToBar();
    EXPECT_TRUE(ReportsPositionBetween(39, 44));
    preview.Stop();
}

TEST_F(PreviewPlayerTest, VolumeAndMuteAreBoundToTheirSettings) {
    test::WriteTextFile(home_.SettingsFile(), "[settings]\nvolume=200\nmute=1\n");
    const std::string stored = test::ReadTextFile(home_.SettingsFile());
    TPreviewPlayer& preview = Make();
    EXPECT_EQ(host_.volumeBar->PositionL(), 64) << "a stored volume out of range shows as 64";
    EXPECT_EQ(host_.volumeBar->Max(), 128);
    EXPECT_TRUE(preview.Muted());
    EXPECT_EQ(test::ReadTextFile(home_.SettingsFile()), stored) << "showing is not writing";

    host_.volumeBar->SetPositionL(100);
    EXPECT_EQ(settings_->Volume(), 100);
    EXPECT_EQ(preview.Player().AudioVolume(), 100);
    SendMouse(*host_.volumeBar, QEvent::MouseButtonPress, 10);
    EXPECT_LT(host_.volumeBar->PositionL(), 20) << "a press puts the thumb under the pointer";
    EXPECT_EQ(settings_->Volume(), host_.volumeBar->PositionL());

    for (const bool muted : {false, true}) {
        emit host_.mute->pressed();
        EXPECT_EQ(preview.Muted(), muted);
        EXPECT_EQ(preview.Player().Mute(), muted);
        EXPECT_EQ(settings_->Mute(), muted);
    }

    // Another window changed them: opening a file and ShowVolumeSettings take the stored ones.
    settings_->SetMute(false);
    ASSERT_TRUE(preview.Open(Fixtures().h264AacMp4));
    EXPECT_FALSE(preview.Player().Mute());
    settings_->SetVolume(20);
    preview.ShowVolumeSettings();
    EXPECT_EQ(host_.volumeBar->PositionL(), 20);
    EXPECT_EQ(preview.Player().AudioVolume(), 20);
    preview.Stop();
}

TEST_F(PreviewPlayerTest, PicturesArriveOnTheGuiThreadOnlyWhenHandedOver) {
    TPreviewPlayer& preview = Make();
    std::vector<int64_t> times;
    bool allOnGuiThread = true;
    QSize size;
    QObject::connect(&preview, &TPreviewPlayer::PictureArrived, [&](const QImage& picture, int64_t pts) {
        allOnGuiThread = allOnGuiThread && QThread::currentThread() == qApp->thread();
        size = picture.size();
        times.push_back(pts);
    });
    ASSERT_TRUE(preview.Open(Fixtures().h264AacMp4));
    ASSERT_TRUE(ReportsPositionBetween(0.5, 3));
    EXPECT_TRUE(times.empty()) << "the hook is off";
    preview.Stop();

    preview.HandOverPictures(true);
    ASSERT_TRUE(preview.Open(Fixtures().h264AacMp4));
    ASSERT_TRUE(test::WaitUntil([&] { return times.size() >= 5; }));
    EXPECT_TRUE(allOnGuiThread);
    EXPECT_EQ(size, QSize(320, 240));
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    preview.Stop();
    const size_t atStop = times.size();
    QApplication::processEvents(); // a hand-off posted before Stop returned
    EXPECT_EQ(times.size(), atStop) << "no picture after Stop";
}

TEST_F(PreviewPlayerTest, ClosingWaitsForThePlayerSoAnotherOpensAtOnce) {
    THost other;
    TMainSettings settings(home_.SettingsFile().string());
    {
        TPreviewPlayer& first = Make();
        ASSERT_TRUE(first.Open(Fixtures().h264AacMp4));
        first.Stop();
        TPreviewPlayer second(*other.panel, settings, other.Controls());
        EXPECT_TRUE(second.Open(Fixtures().mpeg2Ts));
        EXPECT_EQ(other.Buttons(), "0111");
    } // the second goes while it plays
    EXPECT_TRUE(preview_->Open(Fixtures().h264AacMp4));
    EXPECT_FALSE(preview_->Player().IsPaused());
    preview_->Stop();
}

} // namespace
} // namespace tarnel
