// Start-up, the window's frame, the error display and closing.
#include "AboutDialog.h"
#include "ErrorDisplay.h"
#include "MainWindowFixture.h"
#include "TrackBar2.h"
#include "base/FFmpegException.h"
#include "widgets/CatalogueList.h"
#include "widgets/FileListView.h"

#include <QAction>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QtTest/QTest>
#include <filesystem>

namespace tarnel {
namespace {

using test::MainWindowTest;
using test::WriteTextFile;
namespace fs = std::filesystem;

TEST_F(MainWindowTest, StartsWithDefaultsOnAnEmptySettingsFolder) {
    TfrmMain& window = Start();
    EXPECT_EQ(window.size(), QSize(914, 566));
    // The designed size fits the contents, and the window may grow.
    EXPECT_LE(window.minimumSize().width(), 914);
    EXPECT_LE(window.minimumSize().height(), 566);
    EXPECT_GT(window.maximumSize().width(), 914);
    EXPECT_EQ(window.ProfileField().text(), "Apple iPod Video MPEG-4 Movie (*.mp4)");
    EXPECT_EQ(window.Catalogue().currentRow(), -1) << "the default name is no profile caption";
    EXPECT_EQ(window.VolumeBar().PositionL(), 64) << "a first start is heard, half way";
    EXPECT_EQ(window.VolumeBar().Max(), 128);
    EXPECT_FALSE(window.Muted());
    const fs::path output = home_.Home() / "Videos" / "tarnelout";
    EXPECT_EQ(window.OutputFolderField().text().toStdString(), output.string());
    EXPECT_TRUE(fs::is_directory(output));
    EXPECT_FALSE(window.FileList().InReportView());
    EXPECT_EQ(window.findChild<QLabel*>("lblTitle")->text(), "Tarnelix 0.100 ");
    // The shipped catalogue is copied next to the settings.
    EXPECT_TRUE(fs::exists(home_.SettingsFolder() / "tarnelformat.ini"));
    EXPECT_EQ(window.Global().ProfileFile(), (home_.SettingsFolder() / "tarnelformat.ini").string());
    EXPECT_TRUE(window.LogLines().isEmpty()) << window.LogLines().join('\n').toStdString();
    EXPECT_TRUE(services_.Messages.empty());
}

TEST_F(MainWindowTest, FoldersThatCannotBeWrittenFallBackToTheHomeFolder) {
    // A folder below a regular file can be made by nobody, not even the superuser.
    WriteTextFile(home_.Home() / "plainfile", "x");
    const std::string blocked = (home_.Home() / "plainfile" / "out").string();
    WriteSettings("[settings]\nOutPutDir=" + blocked + "\nSnapOutPutDir=" + blocked + "\n");
    TfrmMain& window = Start();
    const std::string fallback = (home_.Home() / "tarnelout").string();
    EXPECT_EQ(window.OutputFolderField().text().toStdString(), fallback);
    EXPECT_EQ(window.Settings().OutputFolder(), fallback);
    EXPECT_EQ(window.Settings().SnapshotFolder(), fallback);
    EXPECT_TRUE(services_.Messages.empty()) << "the fallback is silent";
}

TEST_F(MainWindowTest, StoredVolumeAndMuteAreShownWithoutRewritingTheFile) {
    WriteSettings("[settings]\nvolume=200\nmute=1\nOutPutDir=" + home_.Home().string() +
                  "\nSnapOutPutDir=" + home_.Home().string() + "\n");
    const std::string before = SettingsText();
    TfrmMain& window = Start();
    EXPECT_EQ(window.VolumeBar().PositionL(), 64);
    EXPECT_TRUE(window.Muted());
    EXPECT_EQ(SettingsText(), before);
}

TEST_F(MainWindowTest, AnsweringNoToTheCloseQuestionKeepsEverything) {
    WriteSettings("[lstformat]\n2=0\n");
    TfrmMain& window = Start();
    window.Catalogue().ToggleGroupAt(0); // expand Apple iPod
    const std::string before = SettingsText();
    services_.Answers = {false};
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    ASSERT_EQ(services_.Questions, std::vector<std::string>{"Do you really want to exit?"});
    EXPECT_EQ(SettingsText(), before);

    services_.Answers = {true};
    EXPECT_TRUE(window.close());
    TMainSettings settings(home_.SettingsFile().string());
    EXPECT_FALSE(settings.GroupCollapsed(0));
    EXPECT_TRUE(settings.GroupCollapsed(1));
}

TEST(ErrorDisplayTest, FullStopIsAddedAfterCharactersThatSortAfterIt) {
    const std::pair<const char*, const char*> cases[] = {{"Cannot open file", "Cannot open file."},
                                                         {"Done!", "Done!"},
                                                         {"Ends with a stop.", "Ends with a stop."},
                                                         {"Value (x)", "Value (x)"},
                                                         {"Error 42", "Error 42."},
                                                         {"", ""}};
    for (const auto& [message, shown] : cases)
        EXPECT_EQ(ErrorDisplayText(message), shown) << message;
}

// A widget whose every key press throws what the test gives it.
class TThrowingWidget : public QWidget {
public:
    std::function<void()> Throw;

protected:
    void keyPressEvent(QKeyEvent*) override { Throw(); }
};

TEST_F(MainWindowTest, ErrorsEscapingEventHandlersAreShownAndTheProgramGoesOn) {
    Start();
    TThrowingWidget widget;
    widget.Throw = [] {
        throw FFmpegException("Could not open codec");
    };
    QTest::keyClick(&widget, Qt::Key_A);
    widget.Throw = [] {
        throw std::runtime_error("Disk full!");
    };
    QTest::keyClick(&widget, Qt::Key_B);
    ASSERT_EQ(services_.Messages.size(), 2u);
    EXPECT_EQ(services_.Messages[0].Text, "Could not open codec.");
    EXPECT_EQ(services_.Messages[0].Caption, "Tarnelix");
    EXPECT_EQ(services_.Messages[0].Icon, TMessageIcon::Warning);
    EXPECT_EQ(services_.Messages[1].Text, "Disk full!");
    EXPECT_EQ(services_.Messages[1].Icon, TMessageIcon::Error);
    EXPECT_TRUE(Window().isVisible());
}

TEST_F(MainWindowTest, EditMenuWorksOnlyOnASelectedRow) {
    TfrmMain& window = Start();
    QMenu& menu = window.EditMenu();
    const auto enabled = [&](const QString& text) {
        for (QAction* action : menu.actions())
            if (action->text() == text)
                return action->isEnabled();
        ADD_FAILURE() << text.toStdString();
        return false;
    };
    emit menu.aboutToShow();
    EXPECT_FALSE(enabled("&Crop"));
    EXPECT_FALSE(enabled("Video &Information"));
    EXPECT_TRUE(enabled("&Add"));

    window.AddFiles({test::Fixtures().h264AacMp4});
    ASSERT_EQ(window.FileList().RowCount(), 1);
    emit menu.aboutToShow();
    for (const char* text : {"&Crop", "&Trim", "&Video Effect && Water Mark", "&Remove", "&Clear", "&Start",
                             "Video &Information"})
        EXPECT_TRUE(enabled(text)) << text;
}

TEST_F(MainWindowTest, WebButtonsOpenTheirPagesAndTheOutputFolder) {
    TfrmMain& window = Start();
    window.findChild<QToolButton*>("btnMenuWebsite")->click();
    window.findChild<QToolButton*>("btnShareReddit")->click();
    window.findChild<QPushButton*>("btnOpen")->click();
    ASSERT_EQ(services_.OpenedUrls.size(), 3u);
    EXPECT_EQ(services_.OpenedUrls[0], window.Global().WebsiteUrl());
    EXPECT_EQ(services_.OpenedUrls[1].rfind("https://www.reddit.com/", 0), 0u);
    EXPECT_EQ(services_.OpenedUrls[2], window.Settings().OutputFolder());
    EXPECT_EQ(window.findChild<QToolButton*>("btnShareDigg")->toolTip(), "Digg");
}

TEST(AboutDialogTest, YearsRunFrom2007ToThisYear) {
    EXPECT_EQ(TfrmAbout::YearsText(), "2007-" + QString::number(QDate::currentDate().year()));
}

// A header button whose menu closed, with the mouse gone elsewhere meanwhile, is not left drawn
// as hovered.
TEST_F(MainWindowTest, HeaderButtonsForgetTheHoverWhenTheirMenuCloses) {
    TfrmMain& window = Start();
    auto* file = window.findChild<QToolButton*>("btnMenuFile");
    QCursor::setPos(window.mapToGlobal(QPoint(window.width() / 2, window.height() / 2)));
    file->setAttribute(Qt::WA_UnderMouse, true);
    emit window.findChild<QMenu*>("mnuFile")->aboutToHide();
    EXPECT_FALSE(file->testAttribute(Qt::WA_UnderMouse));
}

} // namespace
} // namespace tarnel
