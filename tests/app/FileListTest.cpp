// The file list: adding, naming the outputs, removing and clearing.
#include "MainWindowFixture.h"
#include "core/FileFilters.h"
#include "core/OutputNaming.h"
#include "widgets/CatalogueList.h"
#include "widgets/FileListView.h"

#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QToolButton>
#include <QUrl>
#include <QtTest/QTest>
#include <algorithm>
#include <filesystem>

namespace tarnel {
namespace {

using test::Fixtures;
using test::MainWindowTest;
using test::WriteTextFile;
namespace fs = std::filesystem;

class FileListTest : public MainWindowTest {
protected:
    // The output folder is a private one in the test's home.
    void SetUp() override {
        outputFolder_ = home_.Home() / "out";
        WriteSettings("[settings]\nOutPutDir=" + outputFolder_.string() + "\n");
    }
    std::vector<std::string> Column(int column) {
        std::vector<std::string> texts;
        for (int i = 0; i < Window().FileList().RowCount(); ++i)
            texts.push_back(Window().FileList().Row(i)->text(column).toStdString());
        return texts;
    }
    fs::path outputFolder_;
};

TEST_F(FileListTest, AddMakesARowPerFileWithLengthAndDestination) {
    const fs::path wav = home_.Home() / "long.wav";
    test::WriteSilentWav(wav, 59.9);
    services_.FilesToOpen = {Fixtures().h264AacMp4, wav.string(), Fixtures().audioOnly};
    TfrmMain& window = Start();
    window.btnAddClick();

    EXPECT_EQ(services_.OpenDialogs, 1);
    ASSERT_EQ(services_.LastFilters.size(), MediaFileFilters().size());
    // The filter the dialog opens with takes every kind of file that converts.
    EXPECT_EQ(services_.LastFilters.front().Description, "All Supported Media Files");
    for (const char* extension :
         {"*.WEBM", "*.OGV", "*.MKV", "*.OPUS", "*.FLAC", "*.M4A", "*.M2TS", "*.MTS", "*.MP3"})
        EXPECT_NE(services_.LastFilters.front().Patterns.find(std::string(extension) + ";"),
                  std::string::npos)
            << extension;
    TFileListView& list = window.FileList();
    ASSERT_EQ(list.RowCount(), 3);
    EXPECT_TRUE(list.InReportView());
    ASSERT_EQ(list.columnCount(), 5);
    const char* titles[] = {"Source", "Length", "Trimmed Length", "Destination File", "Progress"};
    const int widths[] = {140, 65, 90, 120, 60};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(list.headerItem()->text(i), titles[i]);
        EXPECT_EQ(list.columnWidth(i), widths[i]);
    }
    EXPECT_EQ(Column(0),
              (std::vector<std::string>{Fixtures().h264AacMp4, wav.string(), Fixtures().audioOnly}));
    EXPECT_EQ(Column(1), (std::vector<std::string>{"3", "59", "3"}));
    EXPECT_EQ(Column(2), Column(1));
    EXPECT_EQ(Column(3),
              (std::vector<std::string>{"h264_aac_(new).mp4", "long_(new).mp4", "audio_only_(new).mp4"}));
    EXPECT_EQ(Column(4), (std::vector<std::string>{"", "", ""}));

    const TlvFilesRecord& record = list.Row(1)->Record();
    EXPECT_EQ(record.SourceFile, wav.string());
    EXPECT_EQ(record.DestFile, (outputFolder_ / "long_(new).mp4").string());
    EXPECT_EQ(record.LengthSeconds, 59);
    EXPECT_EQ(record.Zoom, "lbox");
    EXPECT_EQ(record.Brightness, 255);
    EXPECT_FALSE(record.NeedsFrameHook());
    EXPECT_TRUE(list.Row(0)->Checked());
    EXPECT_EQ(list.SelectedIndex(), 0);
    EXPECT_EQ(window.Converter().TaskCount(), 0) << "adding leaves no tasks behind";
    EXPECT_TRUE(window.findChild<QToolButton*>("btnStart")->isEnabled());
}

TEST_F(FileListTest, ProfileExtensionAndZoomOfTheCurrentProfile) {
    WriteSettings("[settings]\nOutPutDir=" + outputFolder_.string() +
                  "\nFormatCode=404\n[formatInfo404]\nparazoom=pan\n");
    TfrmMain& window = Start();
    window.AddFiles({Fixtures().videoOnly});
    ASSERT_EQ(window.FileList().RowCount(), 1);
    EXPECT_EQ(Column(3), std::vector<std::string>{"video_only_(new).avi"});
    EXPECT_EQ(window.FileList().Row(0)->Record().Zoom, "pan");
    // Another profile renames the outputs with its extension.
    emit window.Catalogue().ProfileChosen("MP4", 1);
    EXPECT_EQ(Column(3), std::vector<std::string>{"video_only_(new).mp4"});
}

// The column shows the names Start gives: the next free number, counting files that exist by
// now and the rows above.
TEST_F(FileListTest, ExistingOutputsGetTheNextFreeNumber) {
    fs::create_directories(outputFolder_);
    for (const char* folder : {"a", "b", "c"})
        fs::create_directories(home_.Home() / folder),
            fs::copy_file(Fixtures().h264AacMp4, home_.Home() / folder / "clip.mp4");
    WriteTextFile(outputFolder_ / "clip_(new).mp4", "x");
    TfrmMain& window = Start();
    window.AddFiles({(home_.Home() / "a/clip.mp4").string()});
    EXPECT_EQ(Column(3), (std::vector<std::string>{"clip_(new_1).mp4"}));
    WriteTextFile(outputFolder_ / "clip_(new_1).mp4", "x");
    window.AddFiles({(home_.Home() / "b/clip.mp4").string()});
    EXPECT_EQ(Column(3), (std::vector<std::string>{"clip_(new_2).mp4", "clip_(new_3).mp4"}));
    // An unticked row takes no name from the rows below it.
    window.FileList().Row(0)->SetChecked(false);
    window.ShowDestinations();
    EXPECT_EQ(Column(3), (std::vector<std::string>{"clip_(new_2).mp4", "clip_(new_2).mp4"}));
    EXPECT_EQ(FreeOutputName((outputFolder_ / "other").string(), ".mp4"),
              (outputFolder_ / "other_(new).mp4").string());
}

// Every file that is not added is named in one message with its reason.
TEST_F(FileListTest, RefusedFilesAreNamedWithTheirReasons) {
    const fs::path garbage = home_.Home() / "garbage.mp4";
    WriteTextFile(garbage, std::string(4096, '\x5a'));
    const fs::path empty = home_.Home() / "empty.mp4";
    WriteTextFile(empty, "");
    const fs::path odd = home_.Home() / "a:b clip été 日本.mp4";
    fs::copy_file(Fixtures().h264AacMp4, odd);
    const std::string missing = (home_.Home() / "missing.mp4").string();
    const fs::path emptyFolder = home_.Home() / "nothing";
    fs::create_directories(emptyFolder);
    const fs::path lyrics = home_.Home() / "settings.ini"; // the libraries take it for LRC lyrics
    WriteTextFile(lyrics, "[settings]\nVolume=3\n");
    TfrmMain& window = Start();
    window.AddFiles({Fixtures().h264AacMp4, emptyFolder.string(), garbage.string(), missing, empty.string(),
                     lyrics.string(), odd.string()});
    EXPECT_EQ(Column(0), (std::vector<std::string>{Fixtures().h264AacMp4, odd.string()}));
    EXPECT_EQ(Column(1), (std::vector<std::string>{"3", "3"}));
    EXPECT_EQ(Column(3), (std::vector<std::string>{"h264_aac_(new).mp4", "a:b clip été 日本_(new).mp4"}));
    ASSERT_EQ(services_.Messages.size(), 1u);
    const std::string& text = services_.Messages[0].Text;
    EXPECT_EQ(text.rfind("These files were not added:\n", 0), 0u) << text;
    for (const std::string& line :
         {emptyFolder.string() + ": has nothing to convert", missing + ": does not exist",
          empty.string() + ": is empty", garbage.string() + ": is not a media file",
          lyrics.string() + ": has no sound or pictures"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\nin: " << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5);

    window.AddFiles({Fixtures().h264AacMp4});
    ASSERT_EQ(services_.Messages.size(), 2u);
    EXPECT_EQ(services_.Messages[1].Text,
              "These files were not added:\n" + Fixtures().h264AacMp4 + ": is in the list already");
    EXPECT_EQ(window.FileList().RowCount(), 2);
}

TEST_F(FileListTest, AnOutputFolderThatCannotBeMadeIsReplacedByTheDefault) {
    WriteTextFile(home_.Home() / "plainfile", "x");
    TfrmMain& window = Start();
    const std::string blocked = (home_.Home() / "plainfile" / "out").string();
    window.Settings().SetOutputFolder(blocked);
    window.AddFiles({Fixtures().h264AacMp4});
    const std::string fallback = (home_.Home() / "Videos" / "tarnelout").string();
    ASSERT_EQ(services_.Messages.size(), 1u);
    EXPECT_EQ(services_.Messages[0].Text, "Cannot create output directory:" + blocked +
                                              ".It will create default directory " + fallback + "!");
    EXPECT_EQ(services_.Messages[0].Caption, "Warning");
    EXPECT_EQ(window.Settings().OutputFolder(), fallback);
    EXPECT_TRUE(fs::is_directory(fallback));
    EXPECT_EQ(window.FileList().Row(0)->Record().DestFile, fallback + "/h264_aac_(new).mp4");
}

TEST_F(FileListTest, RemoveSelectsTheNextRowAndClearEmptiesTheList) {
    TfrmMain& window = Start();
    window.AddFiles({Fixtures().h264AacMp4, Fixtures().mpeg2Ts, Fixtures().audioOnly});
    TFileListView& list = window.FileList();
    ASSERT_EQ(list.RowCount(), 3);

    list.SelectRow(1);
    window.btnRemoveClick();
    EXPECT_EQ(Column(0), (std::vector<std::string>{Fixtures().h264AacMp4, Fixtures().audioOnly}));
    EXPECT_EQ(list.SelectedIndex(), 1);
    window.btnRemoveClick();
    EXPECT_EQ(list.SelectedIndex(), 0) << "after the last row goes, the new last row is selected";
    window.btnRemoveClick();
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_FALSE(list.InReportView());
    window.btnRemoveClick(); // nothing selected: nothing happens

    window.AddFiles({Fixtures().h264AacMp4, Fixtures().mpeg2Ts});
    EXPECT_TRUE(list.InReportView());
    window.btnClearClick();
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_FALSE(list.InReportView());
    EXPECT_EQ(list.columnCount(), 1);
}

TEST_F(FileListTest, ClickingTheBoxTogglesTheTick) {
    TfrmMain& window = Start();
    window.AddFiles({Fixtures().h264AacMp4});
    TFileListView& list = window.FileList();
    const QRect row = list.visualItemRect(list.Row(0));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(8, row.center().y()));
    EXPECT_FALSE(list.Row(0)->Checked());
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(60, row.center().y()));
    EXPECT_FALSE(list.Row(0)->Checked()) << "a click on the caption does not tick";
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(8, row.center().y()));
    EXPECT_TRUE(list.Row(0)->Checked());
}

TEST_F(FileListTest, FilesDroppedFromAFileManagerAreAdded) {
    TfrmMain& window = Start();
    QMimeData data;
    data.setUrls(
        {QUrl::fromLocalFile(QString::fromStdString(Fixtures().mpeg2Ts)), QUrl("https://example.org/x.mp4")});
    QWidget* viewport = window.FileList().viewport();
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    EXPECT_EQ(Column(0), std::vector<std::string>{Fixtures().mpeg2Ts});
}

// A folder, chosen with Add Folder or dropped, adds the media in it and its subfolders in name
// order; the rest is named in one message.
TEST_F(FileListTest, FoldersAddTheirMediaInNameOrder) {
    const fs::path folder = home_.Home() / "holiday";
    fs::create_directories(folder / "day2");
    fs::copy_file(Fixtures().h264AacMp4, folder / "day2" / "beach.mp4");
    fs::copy_file(Fixtures().audioOnly, folder / "a-song.mp3");
    WriteTextFile(folder / "list.txt", "not media");
    TfrmMain& window = Start();
    services_.FolderToAdd = folder.string();
    window.AddFolderClick();
    EXPECT_EQ(Column(0), (std::vector<std::string>{(folder / "a-song.mp3").string(),
                                                   (folder / "day2" / "beach.mp4").string()}));
    ASSERT_EQ(services_.Messages.size(), 1u);
    EXPECT_NE(services_.Messages[0].Text.find((folder / "list.txt").string() + ": is not a media file"),
              std::string::npos)
        << services_.Messages[0].Text;

    const fs::path more = home_.Home() / "more";
    fs::create_directories(more);
    fs::copy_file(Fixtures().videoOnly, more / "clip.avi");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(more.string()))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.FileList().viewport(), &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.FileList().viewport(), &drop);
    EXPECT_EQ(window.FileList().RowCount(), 3);
    EXPECT_EQ(Column(0).back(), (more / "clip.avi").string());
}

// The list survives the program: ticks and edits come back, a file gone since is marked, Clear
// empties the saved list too, and a list that cannot be read starts empty with one message.
TEST_F(FileListTest, TheListComesBackAtTheNextStart) {
    const fs::path gone = home_.Home() / "gone.mp4";
    fs::copy_file(Fixtures().h264AacMp4, gone);
    {
        TfrmMain& window = Start();
        window.AddFiles({Fixtures().h264AacMp4, gone.string()});
        window.FileList().Row(0)->SetChecked(false);
        window.FileList().Row(0)->Record().TrimStart = 1'000'000;
        window.FileList().Row(0)->Record().TrimLength = 1'000'000;
        window.ShowDestinations(); // what a tick or an edit ends with
        window_.reset();           // as a kill would: nothing is saved at exit
    }
    fs::remove(gone);
    TfrmMain& window = Start();
    ASSERT_EQ(Column(0), (std::vector<std::string>{Fixtures().h264AacMp4, gone.string()}));
    EXPECT_FALSE(window.FileList().Row(0)->Checked());
    EXPECT_EQ(window.FileList().Row(0)->Record().TrimStart, 1'000'000);
    EXPECT_EQ(Column(2)[0], "1") << "the trimmed length";
    EXPECT_EQ(Column(4), (std::vector<std::string>{"", "Missing"}));
    EXPECT_TRUE(services_.Messages.empty());

    window.btnClearClick();
    window_.reset();
    Start();
    EXPECT_EQ(Window().FileList().RowCount(), 0) << "Clear empties the saved list";

    window_.reset();
    const fs::path saved = home_.SettingsFolder() / "tarnellist.ini";
    WriteTextFile(saved, "[list]\nVersion=1\nRows=3\n[row 0]\nSource=/x.mp4\n"); // cut short
    Start();
    EXPECT_EQ(Window().FileList().RowCount(), 0);
    ASSERT_EQ(services_.Messages.size(), 1u);
    EXPECT_EQ(services_.Messages[0].Text,
              "The saved file list could not be read: it is incomplete. It is kept as " + saved.string() +
                  ".bad. The list starts empty.");
    EXPECT_TRUE(fs::exists(saved.string() + ".bad"));
}

} // namespace
} // namespace tarnel
