// The trim and crop dialogs: what "Ok" stores in the row, files without video or that no longer
// open, the Edit menu, and a trimmed and cropped row converting to exactly that part and picture.
#include "CropDialog.h"
#include "MainWindowFixture.h"
#include "MediaInspect.h"
#include "PictureDecode.h"
#include "RectTracker.h"
#include "TrackBar2.h"
#include "TrimDialog.h"
#include "widgets/FileListView.h"
#include "widgets/PictureView.h"

#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTimer>
#include <QToolButton>
#include <QtTest/QTest>
#include <filesystem>

namespace tarnel {
namespace {

using test::Fixtures;
using test::MainWindowTest;
namespace fs = std::filesystem;

// A press and release at x on a bar, as the user clicks it.
void ClickBar(TTrackBar2& bar, int x) {
    const QPointF at(x, bar.height() / 2);
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, bar.mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&bar, &event);
    }
}

class TrimCropTest : public MainWindowTest {
protected:
    void SetUp() override {
        outputFolder_ = home_.Home() / "out";
        WriteSettings("[settings]\nOutPutDir=" + outputFolder_.string() +
                      "\nFormatCode=404\nFormatName=AVI Video (*.avi)\n");
    }
    TFileRow& AddRow(TfrmMain& window, const std::string& file) {
        window.AddFiles({file});
        return *window.FileList().Row(window.FileList().RowCount() - 1);
    }
    std::string Trimmed(TFileRow& row) { return row.text(TFileListView::colTrimmedLength).toStdString(); }
    fs::path outputFolder_;
};

TEST_F(TrimCropTest, TrimOkStoresTheKeptPart) {
    TfrmMain& window = Start();
    const fs::path wav = home_.Home() / "hundred.wav";
    test::WriteSilentWav(wav, 100);
    TfrmTrim trim(window.Settings(), &window);
    // The range bar is 838 pixels wide and the end marker 12: the right limit is 826. A click at x
    // moves the start marker to x − 6 (start = (x − 6) / 838 × 100 s) or the end marker to x − 6
    // (end = (x − 6) / 826 × 100 s), whichever side of the middle between them x is on.
    const struct {
        const char* what;
        int64_t trimStart, trimLength; // the row's trim when the dialog opens, µs
        std::vector<int> clicks;
        int64_t start, end; // what the dialog shows
        int64_t storedStart, storedLength;
        std::string column;
    } cases[] = {
        {"no trim", 0, 0, {}, 0, 100, 0, 0, "100"},
        {"10 to 70 s", 0, 0, {90, 584}, 10, 70, 10000000, 60000000, "60"},
        {"10 s to the end", 0, 0, {90}, 10, 100, 10000000, 90000000, "90"},
        {"a stored trim is shown and kept", 20000000, 30000000, {}, 20, 50, 20000000, 30000000, "30"},
        {"a trim past the end of the file keeps the whole file",
         200000000,
         10000000,
         {},
         200,
         210,
         0,
         0,
         "100"},
    };
    for (const auto& c : cases) {
        TFileRow& row = AddRow(window, wav.string());
        row.Record().TrimStart = c.trimStart;
        row.Record().TrimLength = c.trimLength;
        ASSERT_TRUE(trim.Load(row, false)) << c.what;
        EXPECT_EQ(trim.Duration(), 100);
        EXPECT_EQ(trim.RightLimit(), 826);
        for (int x : c.clicks)
            ClickBar(trim.RangeBar(), x);
        EXPECT_EQ(trim.Start(), c.start) << c.what;
        EXPECT_EQ(trim.End(), c.end) << c.what;
        trim.OkClick();
        EXPECT_EQ(row.Record().TrimStart, c.storedStart) << c.what;
        EXPECT_EQ(row.Record().TrimLength, c.storedLength) << c.what;
        EXPECT_EQ(Trimmed(row), c.column) << c.what;
    }
    TFileRow& row = AddRow(window, wav.string());
    ASSERT_TRUE(trim.Load(row, false));
    ClickBar(trim.RangeBar(), 90);
    trim.DefaultClick();
    EXPECT_EQ(trim.Start(), 0);
    EXPECT_EQ(trim.End(), 100);
    EXPECT_EQ(trim.findChild<QLineEdit*>("edtTrimLength")->text(), "0:01:40");
}

// The played time and the length read as one "H:MM:SS / H:MM:SS", when loaded and when stopped.
TEST_F(TrimCropTest, TheTimeLabelsReadPlayedTimeSlashLength) {
    TfrmMain& window = Start();
    const fs::path wav = home_.Home() / "hundred.wav";
    test::WriteSilentWav(wav, 100);
    TFileRow& row = AddRow(window, wav.string());
    const auto check = [](QDialog& dialog) {
        const auto label = [&dialog] {
            return dialog.findChild<QLabel*>("lblTime")->text() + dialog.findChild<QLabel*>("lblPTS")->text();
        };
        EXPECT_EQ(label(), "0:00:00 / 0:01:40") << dialog.objectName().toStdString();
        dialog.findChild<QToolButton*>("imgbtnStop")->click();
        EXPECT_EQ(label(), "0:00:00 / 0:00:00") << dialog.objectName().toStdString();
    };
    {
        TfrmTrim trim(window.Settings(), &window);
        ASSERT_TRUE(trim.Load(row, false));
        check(trim);
    }
    TfrmCrop crop(window.Settings(), &window);
    ASSERT_TRUE(crop.Load(row));
    check(crop);
}

// Times typed into Trim Start and Trim End: a time within the file moves its marker; one past the
// file or the other marker stops there; text that is no time leaves the value as it was.
TEST_F(TrimCropTest, TypedTrimTimesMoveTheMarkers) {
    TfrmMain& window = Start();
    const fs::path wav = home_.Home() / "hundred.wav";
    test::WriteSilentWav(wav, 100);
    TFileRow& row = AddRow(window, wav.string());
    TfrmTrim trim(window.Settings(), &window);
    ASSERT_TRUE(trim.Load(row, false));
    trim.show();
    QLineEdit* start = trim.findChild<QLineEdit*>("edtStart");
    QLineEdit* end = trim.findChild<QLineEdit*>("edtTrimLength");
    EXPECT_FALSE(start->isReadOnly());
    const auto type = [](QLineEdit* field, const char* text) {
        field->selectAll();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    };
    // The markers stand at time / 100 s × 826 pixels.
    const struct {
        const char* what;
        QLineEdit* field;
        const char* typed;
        int64_t start, end;
        const char* shown;
    } cases[] = {
        {"H:MM:SS", start, "0:00:10", 10, 100, "0:00:10"},
        {"M:SS", end, "1:10", 10, 70, "0:01:10"},
        {"seconds", start, "20", 20, 70, "0:00:20"},
        {"letters cannot be typed", start, "3a0", 30, 70, "0:00:30"},
        {"seconds of 60 or more are no time", start, "0:75", 30, 70, "0:00:30"},
        {"a lone colon is no time", end, ":", 30, 70, "0:01:10"},
        {"a start after the end stops at the end", start, "0:01:30", 70, 70, "0:01:10"},
        {"an end before the start stops at the start", end, "0:00:05", 70, 70, "0:01:10"},
        {"an end past the file stops at its length", end, "2:00:00", 70, 100, "0:01:40"},
    };
    for (const auto& c : cases) {
        type(c.field, c.typed);
        EXPECT_EQ(trim.Start(), c.start) << c.what;
        EXPECT_EQ(trim.End(), c.end) << c.what;
        EXPECT_EQ(c.field->text().toStdString(), c.shown) << c.what;
        EXPECT_EQ(trim.LeftX(), std::lround(c.start * 8.26)) << c.what;
        EXPECT_EQ(trim.RightX(), std::lround(c.end * 8.26)) << c.what;
    }
    type(start, "0:00:10");
    trim.OkClick();
    EXPECT_EQ(row.Record().TrimStart, 10000000);
    EXPECT_EQ(row.Record().TrimLength, 90000000);
}

TEST_F(TrimCropTest, AFileThatNoLongerOpensIsNotLoaded) {
    TfrmMain& window = Start();
    const fs::path copy = home_.Home() / "gone.mp4";
    fs::copy_file(Fixtures().h264AacMp4, copy);
    TFileRow& row = AddRow(window, copy.string());
    fs::remove(copy);
    TfrmTrim trim(window.Settings(), &window);
    EXPECT_FALSE(trim.Load(row, false));
    TfrmCrop crop(window.Settings(), &window);
    EXPECT_FALSE(crop.Load(row));
    EXPECT_FALSE(crop.Tracker().isVisible());
    crop.OkClick();
    EXPECT_EQ(row.Record().CropTop + row.Record().CropEditLeft, 0);
}

TEST_F(TrimCropTest, CropOkStoresMarginsCropAndEffects) {
    TfrmMain& window = Start();
    TFileRow& row = AddRow(window, Fixtures().h264AacMp4); // 320 × 240
    {
        TfrmCrop crop(window.Settings(), &window);
        ASSERT_TRUE(crop.Load(row));
        crop.show();
        // 4:3 in 420 × 303: the full height, 404 wide, 8 pixels in from the preview's left.
        const TBox picture = crop.PictureBox();
        EXPECT_EQ(picture.Width, 404);
        EXPECT_EQ(picture.Height, 303);
        // Loaded before the dialog showed, the picture still lies on the input preview as placed.
        EXPECT_EQ(crop.InputPreview().mapTo(&crop, QPoint(8, 0)), QPoint(picture.Left, picture.Top));
        EXPECT_EQ(crop.Tracker().geometry(), QRect(picture.Left, picture.Top, 404, 303));
        // Dragging the frame past the top-left corner of the picture stops at the picture's edge.
        crop.DragFrameTo({picture.Left - 50, picture.Top + 20, 300, 200}, true);
        EXPECT_EQ(crop.Tracker().geometry(), QRect(picture.Left, picture.Top + 20, 300, 200));
        EXPECT_EQ(crop.Margins(), (TMargins{20, 83, 0, 104}));
        crop.SetEffects({300, 10, 200, 50});
        // The output preview shows the cropped picture: 320 − 82 wide, 240 − 16 − 66 high.
        ASSERT_TRUE(test::WaitUntil([&] { return !crop.OutputPreview().Picture().isNull(); }, 5000));
        EXPECT_EQ(crop.OutputPreview().Picture().size(), QSize(238, 158));
        crop.OkClick();
    }
    const TlvFilesRecord& record = row.Record();
    EXPECT_EQ(
        (TMargins{record.CropEditTop, record.CropEditBottom, record.CropEditLeft, record.CropEditRight}),
        (TMargins{20, 83, 0, 104}));
    EXPECT_EQ((TMargins{record.CropTop, record.CropBottom, record.CropLeft, record.CropRight}),
              (TMargins{16, 66, 0, 82}));
    EXPECT_EQ(record.Brightness, 300);
    EXPECT_EQ(record.Contrast, 10);
    EXPECT_EQ(record.Saturation, 200);
    EXPECT_EQ(record.Exposure, 50);
    EXPECT_EQ(record.Zoom, "lbox");

    // Shown again, the frame sits where it was left; Default uncovers the whole picture.
    TfrmCrop again(window.Settings(), &window);
    ASSERT_TRUE(again.Load(row));
    EXPECT_EQ(again.Margins(), (TMargins{20, 83, 0, 104}));
    again.DefaultClick();
    again.EffectResetClick();
    EXPECT_EQ(again.Margins(), TMargins{});
    EXPECT_EQ(again.Crop(), TMargins{});
    EXPECT_FALSE(PictureAdjusted(again.Effects()));
}

TEST_F(TrimCropTest, AFileWithoutVideoHasNoFrameAndStoresNoMargins) {
    TfrmMain& window = Start();
    TFileRow& row = AddRow(window, Fixtures().audioOnly);
    row.Record().CropEditTop = 12; // left over from elsewhere
    TfrmCrop crop(window.Settings(), &window);
    ASSERT_TRUE(crop.Load(row));
    crop.show();
    EXPECT_FALSE(crop.Tracker().isVisible());
    EXPECT_FALSE(crop.findChild<TTrackBar2*>("trcBrightness")->isEnabled());
    crop.OkClick();
    EXPECT_EQ(row.Record().CropEditTop, 0);
    EXPECT_EQ(row.Record().CropTop, 0);
}

TEST_F(TrimCropTest, EditMenuOpensTheDialogsForRowZeroAfterStoppingThePreview) {
    TfrmMain& window = Start();
    AddRow(window, Fixtures().h264AacMp4);
    window.FileList().clearSelection();
    window.PlayClick();
    window.Settings().SetVolume(100);
    int shown = 0;
    const auto closeDialogWhenShown = [&] {
        QTimer::singleShot(300, &window, [&] {
            EXPECT_FALSE(window.findChild<QToolButton*>("btnPause")->isEnabled())
                << "the main preview stopped first";
            for (QDialog* dialog : window.findChildren<QDialog*>())
                if (dialog->isVisible() &&
                    (qobject_cast<TfrmTrim*>(dialog) || qobject_cast<TfrmCrop*>(dialog))) {
                    ++shown;
                    dialog->close();
                }
        });
    };
    closeDialogWhenShown();
    window.EditTrim();
    EXPECT_EQ(window.FileList().SelectedIndex(), 0);
    window.FileList().clearSelection();
    closeDialogWhenShown();
    window.EditCrop();
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(window.FileList().SelectedIndex(), 0);
    EXPECT_EQ(window.VolumeBar().PositionL(), 100) << "the volume is read again after the crop dialog";
}

TEST_F(TrimCropTest, ATrimmedAndCroppedRowConvertsToThatPartAndPicture) {
    TfrmMain& window = Start();
    TFileRow& row = AddRow(window, Fixtures().h264AacMp4); // 3 s, 320 × 240
    {
        TfrmTrim trim(window.Settings(), &window);
        ASSERT_TRUE(trim.Load(row, false));
        ClickBar(trim.RangeBar(), 300); // start 1 s
        ClickBar(trim.RangeBar(), 600); // end 2 s
        trim.OkClick();
    }
    ASSERT_EQ(row.Record().TrimStart, 1000000);
    ASSERT_EQ(row.Record().TrimLength, 1000000);
    {
        // A quarter of the width off each side: the middle half fills the output picture.
        TfrmCrop crop(window.Settings(), &window);
        ASSERT_TRUE(crop.Load(row));
        const TBox picture = crop.PictureBox();
        crop.DragFrameTo({picture.Left + 101, picture.Top, 202, picture.Height}, false);
        EXPECT_EQ(crop.Crop(), (TMargins{0, 0, 80, 80}));
        crop.OkClick();
    }
    window.btnStartClick();
    ASSERT_EQ(window.Plan().Outputs.size(), 1u);
    const std::string output = window.Plan().Outputs[0];
    const test::MediaFacts facts = test::InspectMedia(output);
    ASSERT_TRUE(facts.opened) << window.LogLines().join("\n").toStdString();
    EXPECT_NEAR(facts.duration, 1.0, 0.15);
    // Each quarter of an output picture shows an eighth of the source's width from its middle half,
    // at the same time in the file (the output starts at 1 s, 25 pictures a second).
    const std::vector<test::DecodedPicture> out = test::DecodePictures(output);
    const std::vector<test::DecodedPicture> in = test::DecodePictures(Fixtures().h264AacMp4);
    ASSERT_GE(out.size(), 20u);
    const size_t k = out.size() / 2;
    const test::DecodedPicture& shown = out.at(k);
    const test::DecodedPicture& source = in.at(25 + k);
    double croppedDifference = 0, uncroppedDifference = 0;
    for (int band = 0; band < 4; ++band) {
        const int ow = shown.width / 4;
        const std::vector<double> got = shown.Mean(band * ow + 4, 8, ow - 8, shown.height - 16);
        const std::vector<double> cropped = source.Mean(80 + band * 40 + 2, 8, 36, source.height - 16);
        const std::vector<double> whole = source.Mean(band * 80 + 4, 8, 72, source.height - 16);
        for (int c = 0; c < 3; ++c) {
            croppedDifference = std::max(croppedDifference, std::abs(got[c] - cropped[c]));
            uncroppedDifference = std::max(uncroppedDifference, std::abs(got[c] - whole[c]));
        }
    }
    EXPECT_LT(croppedDifference, 16.0);
    EXPECT_GT(uncroppedDifference, 2 * croppedDifference) << "the picture is not the uncropped one";
}

} // namespace
} // namespace tarnel
