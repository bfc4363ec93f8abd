// The output-profile settings dialog and the preferences dialog: what they show and what they write.
#include "MainWindowFixture.h"
#include "PreferencesDialog.h"
#include "SettingsDialog.h"
#include "widgets/CatalogueList.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QtTest/QTest>
#include <stdexcept>

namespace tarnel {
namespace {

using test::MainWindowTest;

// A profile file of the test's own, with known lists, for profile 404.
class SettingsDialogTest : public MainWindowTest {
protected:
    void SetUp() override {
        test::WriteTextFile(
            home_.SettingsFolder() / "tarnelformat.ini",
            "[formatInfo404]\nFormat=avi\nFileExt=avi\nVideoSize=as source,320x240,640x480\n"
            "VideoBitRate=as source,512,1200\nFrameRate=as source,25,29.97\nVideoEncoder=MPEG-4,H264\n"
            "AudioBitRate=as source,64,128\nSampleRate=as source,44100,48000\n"
            "AudioEncoder=MP3,AAC,GSM\nChannel=as source,mono 1 channel,stereo 2 channels\n"
            "Volume=50%,100%,loud%\niVideoSize=2\niVideoBitRate=2\niFrameRate=1\niVideoEncoder=0\n"
            "iAudioBitRate=2\niSampleRate=1\niAudioEncoder=0\niChannel=2\niVolume=1\n"
            "paraLevel=30\nparaCoder=0\nparaMaxBitrate=1500000\nparaQscale=abc\n"
            "[formatInfo500]\nFormat=mp3\nFileExt=mp3\nAudioEncoder=MP3\nAudioBitRate=128\n");
        WriteSettings("[settings]\nFormatCode=404\nFormatName=AVI Video (*.avi)\n");
        Start();
        dialog_ = std::make_unique<TfrmSettings>(Window().Settings(), Window().Global().ProfileFile(),
                                                 services_, [this] { ++confirmed_; });
        dialog_->LoadSettings();
    }
    QComboBox& List(const char* name) { return dialog_->List(name); }
    std::string User(const char* key) {
        return Window().Settings().File().ReadString("formatInfo404", key, "-");
    }

    std::unique_ptr<TfrmSettings> dialog_;
    int confirmed_ = 0;
};

TEST_F(SettingsDialogTest, ShowsTheProfileDefaultsUntilTheUserConfirms) {
    EXPECT_EQ(List("cmbVideoSize").currentText(), "640x480");
    EXPECT_EQ(List("cmbVideoEncoder").count(), 2);
    EXPECT_EQ(List("cmbVolume").currentText(), "100%");
    EXPECT_EQ(List("cmbZoom").currentText(), "Letterbox");
    EXPECT_EQ(List("cmbAudioEncoder").currentText(), "MP3");
    EXPECT_EQ(List("cmbAudioTracks").currentText(), "First");
    EXPECT_TRUE(List("cmbVideoSize").isEnabled());

    // An audio-only profile: no video list, every video control disabled.
    dialog_->ChooseProfile("MP3 MPEG Layer-3 Audio (*.mp3)", 500);
    EXPECT_EQ(dialog_->RememberedCode(), "500");
    EXPECT_EQ(List("cmbVideoEncoder").count(), 0);
    for (const char* name : {"cmbVideoSize", "cmbVideoBitRate", "cmbVideoEncoder", "cmbFrameRate", "cmbZoom"})
        EXPECT_FALSE(List(name).isEnabled()) << name;
    EXPECT_TRUE(List("cmbAudioEncoder").isEnabled());
    EXPECT_FALSE(List("cmbChannel").isEnabled()) << "a missing list is disabled";
}

TEST_F(SettingsDialogTest, OkWritesWhatTheDialogShows) {
    List("cmbVideoSize").setEditText("400x300"); // typed: no entry
    List("cmbVideoEncoder").setCurrentIndex(1);  // H264
    List("cmbZoom").setCurrentIndex(2);          // Pan and Scan
    List("cmbAudioEncoder").setCurrentIndex(2);  // GSM
    List("cmbChannel").setCurrentIndex(2);
    List("cmbVolume").setCurrentIndex(0); // 50%
    List("cmbAudioTracks").setCurrentIndex(1);
    EXPECT_THROW(dialog_->OkClick(), std::invalid_argument) << "paraQscale=abc is no integer";
    // Everything before the bad extra is written, the rest after it is not.
    EXPECT_EQ(User("paraLevel"), "30");
    EXPECT_EQ(User("paraSampleRate"), "-");

    test::WriteTextFile(
        home_.SettingsFolder() / "tarnelformat.ini",
        test::ReadTextFile(home_.SettingsFolder() / "tarnelformat.ini")
            .replace(test::ReadTextFile(home_.SettingsFolder() / "tarnelformat.ini").find("paraQscale=abc"),
                     14, "paraQscale=4"));
    dialog_->OkClick();
    const std::pair<const char*, const char*> written[] = {{"Description", "AVI Video (*.avi)"},
                                                           {"iVideoSize", "-1"},
                                                           {"paraVideoSize", "400x300"},
                                                           {"iVideoEncoder", "1"},
                                                           {"paraVideoEncoder", "libx264"},
                                                           {"paraZoom", "pan"},
                                                           {"paraFrameRate", "25"},
                                                           {"paraVideoBitRate", "1200"},
                                                           {"paraAudioEncoder", "libgsm"},
                                                           {"paraSampleRate", "8000"},
                                                           {"paraChannel", "1"},
                                                           {"paraVolume", "128"},
                                                           {"paraMaxBitrate", "1500000"},
                                                           {"paraCoder", "0"},
                                                           {"paraQscale", "4"},
                                                           {"iVolume", "0"},
                                                           {"paraAudioTracks", "All"}};
    for (const auto& [key, value] : written)
        EXPECT_EQ(User(key), value) << key;
    dialog_->LoadSettings();
    EXPECT_EQ(List("cmbAudioTracks").currentText(), "All");
    EXPECT_EQ(Window().Settings().FormatCode(), 404);
    EXPECT_EQ(confirmed_, 1) << "the refused first try did not confirm";
}

TEST_F(SettingsDialogTest, DefaultThenCancelWritesNothing) {
    const std::string before = SettingsText();
    List("cmbVideoSize").setCurrentIndex(0);
    dialog_->DefaultClick();
    EXPECT_EQ(List("cmbVideoSize").currentText(), "640x480");
    EXPECT_EQ(List("cmbZoom").currentText(), "Full screen");
    dialog_->reject();
    EXPECT_EQ(SettingsText(), before);
    EXPECT_EQ(confirmed_, 0);
}

TEST_F(SettingsDialogTest, TypedValuesAreCheckedOnLeavingTheirBox) {
    const struct {
        const char* typed;
        bool accepted;
        const char* shown;
        const char* message;
    } sizes[] = {
        {"641x481", false, "640x480", "Frame Size must be a multiple of 2.\nThe correct value:640x480"},
        {"1x0", false, "2x2", "Frame Size must be a multiple of 2.\nThe correct value:2x2"},
        {"320", false, "320x240", "Frame Size is not a valid value!"},
        {"720x576", true, "720x576", nullptr},
        {"AS SOURCE", true, "AS SOURCE", nullptr}};
    for (const auto& size : sizes) {
        services_.Messages.clear();
        List("cmbVideoSize").setEditText(size.typed);
        EXPECT_EQ(dialog_->CheckFrameSize(), size.accepted) << size.typed;
        EXPECT_EQ(List("cmbVideoSize").currentText().toStdString(), size.shown) << size.typed;
        if (size.message) {
            ASSERT_EQ(services_.Messages.size(), 1u) << size.typed;
            EXPECT_EQ(services_.Messages[0].Text, size.message);
        } else {
            EXPECT_TRUE(services_.Messages.empty()) << size.typed;
        }
    }
    EXPECT_EQ(services_.Messages.size(), 0u);
    List("cmbVideoSize").setEditText("641x481");
    dialog_->CheckFrameSize();
    EXPECT_EQ(services_.Messages.back().Caption, "Input Error!");

    services_.Messages.clear();
    List("cmbVideoBitRate").setEditText("fast");
    EXPECT_FALSE(dialog_->CheckVideoBitRate());
    EXPECT_EQ(List("cmbVideoBitRate").currentText(), "512");
    List("cmbAudioBitRate").setEditText("96.5");
    EXPECT_TRUE(dialog_->CheckAudioBitRate());
    List("cmbSampleRate").setEditText("44.1");
    EXPECT_FALSE(dialog_->CheckSampleRate());
    ASSERT_EQ(services_.Messages.size(), 2u);
    EXPECT_EQ(services_.Messages[0].Text, "Video BitRate is not a valid value!");
    EXPECT_EQ(services_.Messages[1].Text, "Audio SampleRate is not a valid value!");
    EXPECT_EQ(services_.Messages[1].Caption, "Tarnelix");
}

TEST_F(SettingsDialogTest, TheFrameSizeRefusesKeysThatAreNoDigits) {
    dialog_->show();
    QLineEdit* size = List("cmbVideoSize").lineEdit();
    size->clear();
    QTest::keyClicks(size, "64a0x4x80");
    EXPECT_EQ(size->text(), "640x480") << "a letter and a second x are refused";
    EXPECT_TRUE(services_.Messages.empty());
}

// A wrong number gives one message, when its box is left or "&Ok" is pressed, never one per key;
// the focus going to the message box, the box's own list or the dialog's buttons checks nothing.
TEST_F(SettingsDialogTest, AWrongNumberGivesOneMessageWhenItsBoxIsLeft) {
    dialog_->show();
    const auto leave = [](QComboBox& list, Qt::FocusReason reason) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(list.lineEdit(), &out);
    };
    const struct {
        const char* list;
        const char* typed;
        size_t messages;
        const char* shown;
    } cases[] = {
        {"cmbVideoBitRate", "9k1", 1, "512"},   {"cmbFrameRate", "23.976", 0, "23.976"},
        {"cmbFrameRate", "2.5.1", 1, "25"},     {"cmbSampleRate", "", 1, "44100"},
        {"cmbAudioBitRate", "96.5", 0, "96.5"}, {"cmbAudioBitRate", "as source", 0, "as source"},
    };
    for (const auto& c : cases) {
        services_.Messages.clear();
        QLineEdit* field = List(c.list).lineEdit();
        field->clear();
        QTest::keyClicks(field, c.typed);
        EXPECT_TRUE(services_.Messages.empty()) << c.typed << ": no message while typing";
        EXPECT_EQ(field->text(), c.typed);
        for (const Qt::FocusReason ignored : {Qt::PopupFocusReason, Qt::ActiveWindowFocusReason})
            leave(List(c.list), ignored);
        EXPECT_TRUE(services_.Messages.empty()) << c.typed;
        leave(List(c.list), Qt::TabFocusReason);
        leave(List(c.list), Qt::TabFocusReason);
        ASSERT_EQ(services_.Messages.size(), c.messages) << c.typed;
        if (c.messages > 0) {
            EXPECT_EQ(services_.Messages[0].Text, "Please enter numerical.");
        }
        EXPECT_EQ(field->text(), c.shown) << c.typed;
    }

    // "&Ok" with a wrong number: its one message, and nothing written.
    services_.Messages.clear();
    List("cmbFrameRate").lineEdit()->clear();
    QTest::keyClicks(List("cmbFrameRate").lineEdit(), "fast");
    dialog_->OkClick();
    ASSERT_EQ(services_.Messages.size(), 1u);
    EXPECT_EQ(services_.Messages[0].Text, "Please enter numerical.");
    EXPECT_EQ(confirmed_, 0);
    EXPECT_EQ(User("paraFrameRate"), "-");
    EXPECT_TRUE(dialog_->isVisible());
}

// What is typed stays as typed: no entry of the list completes it.
TEST_F(SettingsDialogTest, TypedValuesAreNotCompletedFromTheEntries) {
    dialog_->show();
    const std::pair<const char*, const char*> typed[] = {{"cmbSampleRate", "4410"},
                                                         {"cmbVideoBitRate", "120"},
                                                         {"cmbFrameRate", "29.9"},
                                                         {"cmbVideoSize", "64"}};
    QApplication::setActiveWindow(dialog_.get());
    for (const auto& [list, text] : typed) {
        QLineEdit* field = List(list).lineEdit();
        field->setFocus(); // a completer completes only in the focused field
        field->clear();
        QTest::keyClicks(field, text);
        EXPECT_EQ(field->text().toStdString(), text) << list;
        EXPECT_EQ(List(list).currentText().toStdString(), text) << list;
    }
}

// Enter in an editable box does what "&Ok" does: check, write, confirm and close.
TEST_F(SettingsDialogTest, EnterInATypedBoxActsAsOk) {
    dialog_->show();
    QLineEdit* field = List("cmbVideoBitRate").lineEdit();
    field->clear();
    QTest::keyClicks(field, "9k");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_EQ(services_.Messages.size(), 1u) << "a wrong number is refused as by Ok";
    EXPECT_EQ(confirmed_, 0);
    EXPECT_TRUE(dialog_->isVisible());

    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        dialog_->show();
        field->clear();
        QTest::keyClicks(field, "700");
        QTest::keyClick(field, key);
        EXPECT_EQ(User("paraVideoBitRate"), "700");
        EXPECT_FALSE(dialog_->isVisible());
    }
    EXPECT_EQ(confirmed_, 2);
    EXPECT_EQ(services_.Messages.size(), 1u);
}

// "Normalise loudness" per profile: shown Off at first, written as the profile's key, read back by
// the conversion's settings and by the dialog, and disabled with the other sound lists.
TEST_F(SettingsDialogTest, NormaliseLoudnessIsAProfileChoice) {
    QComboBox& loudness = List("cmbLoudness");
    ASSERT_EQ(loudness.count(), 3);
    EXPECT_EQ(loudness.currentText().toStdString(), "Off");
    EXPECT_EQ(loudness.itemText(1).toStdString(), "\u221223 LUFS (broadcast)");
    EXPECT_EQ(loudness.itemText(2).toStdString(), "\u221216 LUFS (streaming and podcasts)");
    loudness.setCurrentIndex(2);
    test::WriteTextFile(home_.SettingsFolder() / "tarnelformat.ini",
                        test::ReadTextFile(home_.SettingsFolder() / "tarnelformat.ini")
                            .replace(test::ReadTextFile(home_.SettingsFolder() / "tarnelformat.ini")
                                         .find("paraQscale=abc"),
                                     14, "paraQscale=4"));
    dialog_->OkClick();
    EXPECT_EQ(User("paraLoudness"), "-16");
    EXPECT_EQ(Window().Settings().Loudness(404), -16);
    EXPECT_EQ(Window().Settings().Loudness(500), 0) << "another profile keeps its own";
    loudness.setCurrentIndex(0);
    dialog_->LoadSettings();
    EXPECT_EQ(loudness.currentIndex(), 2);
    dialog_->DefaultClick();
    EXPECT_EQ(loudness.currentText().toStdString(), "Off");
    EXPECT_TRUE(loudness.isEnabled());

    dialog_->ChooseProfile("Video only", 999); // no audio encoder list: no sound to normalise
    EXPECT_FALSE(loudness.isEnabled());
}

class PreferencesTest : public MainWindowTest {};

TEST_F(PreferencesTest, MeasuringQualityIsAPreference) {
    TfrmMain& window = Start();
    TfrmPreference dialog(window.Settings(), services_);
    dialog.LoadSettings();
    QCheckBox* box = dialog.findChild<QCheckBox*>("chkMeasureQuality");
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(box->isChecked());
    box->setChecked(true);
    dialog.OkClick();
    EXPECT_TRUE(window.Settings().MeasureQuality());
    dialog.DefaultClick();
    EXPECT_FALSE(box->isChecked());
    dialog.LoadSettings();
    EXPECT_TRUE(box->isChecked()) << "shown as stored";
}

TEST_F(PreferencesTest, ShowsDefaultsKeepsOneOfEachPairAndWritesOnOk) {
    TfrmMain& window = Start();
    TfrmPreference dialog(window.Settings(), services_);
    dialog.LoadSettings();
    EXPECT_EQ(dialog.FolderField().text().toStdString(), (home_.Home() / "Videos" / "tarnelout").string());
    for (QCheckBox* box : {&dialog.FullSize(), &dialog.SmallSize(), &dialog.Bmp(), &dialog.Jpg()})
        EXPECT_TRUE(box->isChecked()) << box->text().toStdString();
    EXPECT_EQ(dialog.Quality().value(), 30);
    EXPECT_EQ(dialog.QualityBar().value(), 30);
    EXPECT_EQ(dialog.Priority(), 1);
    EXPECT_EQ(dialog.Quality().toolTip().toStdString(), TfrmPreference::kQualityHint);

    dialog.Bmp().click();
    EXPECT_FALSE(dialog.Bmp().isChecked());
    dialog.Jpg().click();
    EXPECT_TRUE(dialog.Jpg().isChecked()) << "the last one clicked stays ticked";
    dialog.QualityBar().setValue(70);
    EXPECT_EQ(dialog.Quality().value(), 70);

    dialog.DefaultClick();
    EXPECT_FALSE(dialog.Quality().isEnabled()) << "no JPG: no quality";
    dialog.OkClick();
    TMainSettings& settings = window.Settings();
    EXPECT_TRUE(settings.SnapBmp());
    EXPECT_FALSE(settings.SnapJpg());
    EXPECT_TRUE(settings.SnapFullSize());
    EXPECT_FALSE(settings.SnapSmallSize());
    EXPECT_EQ(settings.JpegQuality(), 20);
    EXPECT_EQ(settings.Priority(), 1);
    EXPECT_EQ(settings.SnapshotFolder(), (home_.Home() / "Videos" / "tarnelout").string());
    EXPECT_NE(SettingsText().find("snapOutPutDir="), std::string::npos);

    // Showing again never unticks a box: JPG stays as the user left it.
    dialog.Jpg().setChecked(true);
    dialog.LoadSettings();
    EXPECT_TRUE(dialog.Jpg().isChecked());
}

} // namespace
} // namespace tarnel
