// The watermark dialog: what "Ok" stores, layers shown only in their seconds, the position bars,
// text with and without its background box, the default font, pictures with an alpha channel in the
// view and in the conversion, a round trip through the row, bad pictures and texts, and a row whose
// layer the conversion draws into exactly its seconds.
#include "EngineConvert.h"
#include "MainWindowFixture.h"
#include "PictureDecode.h"
#include "TrackBar2.h"
#include "WatermarkDialog.h"
#include "base/Bitmap.h"
#include "render/FrameHookRenderer.h"
#include "widgets/FileListView.h"
#include "widgets/LayerView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QTimer>
#include <QtTest/QTest>

namespace tarnel {
namespace {

using test::Fixtures;
using test::MainWindowTest;
namespace fs = std::filesystem;

// A picture of one colour whose top-left quarter is wholly transparent (in yellow, which must not
// show anywhere).
std::string WritePictureWithClearCorner(const fs::path& path, QSize size, QColor color) {
    QImage picture(size, QImage::Format_ARGB32);
    picture.fill(color);
    QPainter painter(&picture);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(0, 0, size.width() / 2, size.height() / 2, QColor(255, 255, 0, 0));
    painter.end();
    EXPECT_TRUE(picture.save(QString::fromStdString(path.string())));
    return path.string();
}

class WatermarkTest : public MainWindowTest {
protected:
    void SetUp() override {
        WriteSettings("[settings]\nOutPutDir=" + (home_.Home() / "out").string() +
                      "\nFormatCode=404\nFormatName=AVI Video (*.avi)\n");
    }
    TFileRow& AddRow(TfrmMain& window, const std::string& file) {
        window.AddFiles({file});
        return *window.FileList().Row(window.FileList().RowCount() - 1);
    }
    std::unique_ptr<TfrmWaterMark> Open(TfrmMain& window, TFileRow& row) {
        auto dialog = std::make_unique<TfrmWaterMark>(window.Settings(), services_, "help", &window);
        dialog->show();
        EXPECT_TRUE(dialog->Load(row));
        EXPECT_TRUE(test::WaitUntil([&] { return dialog->DurationUs() > 0; }));
        return dialog;
    }
    // A picture file of one colour.
    std::string WritePicture(const char* name, QSize size, QColor color) {
        QImage picture(size, QImage::Format_RGB888);
        picture.fill(color);
        const fs::path path = home_.Home() / name;
        EXPECT_TRUE(picture.save(QString::fromStdString(path.string())));
        return path.string();
    }
    static std::unique_ptr<TWmRec> TextLayer(int start, int end) {
        auto layer = std::make_unique<TWmRec>();
        layer->Text = "Tarnel";
        layer->TextLeft = 10;
        layer->TextTop = 12;
        layer->TextWidth = 80;
        layer->TextHeight = 30;
        layer->TextAlpha = 200;
        layer->StartSecond = start;
        layer->EndSecond = end;
        return layer;
    }
};

TEST_F(WatermarkTest, OkWithAnEmptyListStoresNoLayers) {
    TfrmMain& window = Start();
    TFileRow& row = AddRow(window, Fixtures().h264AacMp4);
    row.Record().WaterMarks.push_back(TextLayer(0, 3));
    auto dialog = Open(window, row);
    ASSERT_EQ(dialog->Layers().Count(), 1);
    dialog->DeleteClick();
    EXPECT_EQ(dialog->LayerList().count(), 0);
    EXPECT_FALSE(dialog->HorizontalBar().isEnabled()) << "layer controls need a layer";
    dialog->OkClick();
    EXPECT_TRUE(row.Record().WaterMarks.empty());
}

// The view layer follows the layers' time rule (its edges are tested with the layers).
TEST_F(WatermarkTest, ALayerShowsOnlyInItsSeconds) {
    TfrmMain& window = Start();
    TFileRow& row = AddRow(window, Fixtures().h264AacMp4);
    row.Record().WaterMarks.push_back(TextLayer(5, 10));
    auto dialog = Open(window, row);
    ASSERT_EQ(dialog->Layers().Count(), 1);
    const TLayerItem& layer = dialog->LayerItem(0);
    QImage picture(320, 240, QImage::Format_RGB888);
    picture.fill(Qt::darkGray);
    const struct {
        int64_t pts;
        bool visible;
    } cases[] = {{4999999, false}, {5000000, true}, {11000000, false}};
    for (const auto& c : cases) {
        dialog->ShowPicture(picture, c.pts);
        EXPECT_EQ(layer.isVisible(), c.visible) << c.pts << " µs";
    }
}

TEST_F(WatermarkTest, PositionBarsMoveTheLayerKeepingItsSize) {
    TfrmMain& window = Start();
    const std::string wide = (home_.Home() / "wide.mp4").string();
    ASSERT_EQ(
        test::ConvertWithEngine(Fixtures().h264AacMp4, {{"s", "720x576"}, {"t", "1"}, {"an", ""}}, wide), "");
    TFileRow& row = AddRow(window, wide);
    auto dialog = Open(window, row);
    EXPECT_EQ(dialog->HorizontalBar().Max(), 720);
    EXPECT_EQ(dialog->VerticalBar().Max(), 576);
    dialog->AddTextClick();
    TLayerItem& layer = dialog->LayerItem(0);
    const QRectF before = layer.Location();
    dialog->HorizontalBar().SetPositionL(100);
    EXPECT_EQ(layer.Location().left(), 100);
    EXPECT_EQ(layer.Location().size(), before.size());
    dialog->VerticalBar().SetPositionL(50);
    EXPECT_EQ(layer.Location().topLeft(), QPointF(100, 50));

    // Dragged past the picture's left edge, the layer stays where it is when the bar moves.
    const QPoint centre = dialog->View().BitmapToView(layer.Location().center());
    dialog->View().DragFromTo(centre, centre - QPoint(300, 0));
    ASSERT_LT(layer.Location().left(), 0);
    EXPECT_EQ(dialog->HorizontalBar().PositionL(), 0);
    const QRectF outside = layer.Location();
    dialog->HorizontalBar().SetPositionL(10);
    EXPECT_EQ(layer.Location(), outside);

    // Resizing never leaves less than two pixels on either side of the centre.
    const QPoint right = dialog->View().BitmapToView(QPointF(outside.right(), outside.center().y()));
    dialog->View().DragFromTo(right, right - QPoint(2000, 0));
    EXPECT_GE(layer.Location().width(), 2 * TLayerView::kMinimumHalfSize);
}

TEST_F(WatermarkTest, ANewTextStartsTransparentAndTheBackgroundOptionFillsItsBox) {
    TfrmMain& window = Start();
    TFileRow& row = AddRow(window, Fixtures().h264AacMp4);
    auto dialog = Open(window, row);
    // Defaults before any layer: size "26", blue text, green background, transparency 125.
    EXPECT_EQ(dialog->SizeList().currentText(), "26");
    EXPECT_EQ(dialog->FontColorList().currentText(), "Blue");
    EXPECT_EQ(dialog->BackColorList().currentText(), "Green");
    EXPECT_EQ(dialog->TransparencyBar().PositionL(), 125);
    EXPECT_TRUE(dialog->BackgroundOption().isChecked());

    QImage white(320, 240, QImage::Format_RGB888);
    white.fill(Qt::white);
    dialog->ShowPicture(white, 0);
    dialog->AddTextClick();
    EXPECT_TRUE(dialog->TransparentOption().isChecked()) << "a new text layer starts transparent";
    EXPECT_FALSE(dialog->Layers().At(0).BackOpaque);
    dialog->TransparencyBar().SetPositionL(255);
    dialog->View().Select(nullptr); // no frame over the pixels looked at

    TLayerItem& layer = dialog->LayerItem(0);
    const auto greenPixels = [&] {
        const QImage shot = dialog->View().grab().toImage();
        const QRect box(dialog->View().BitmapToView(layer.Location().topLeft()),
                        dialog->View().BitmapToView(layer.Location().bottomRight()));
        int green = 0;
        for (int y = box.top() + 1; y < box.bottom(); ++y)
            for (int x = box.left() + 1; x < box.right(); ++x)
                green += shot.pixelColor(x, y) == QColor(0, 128, 0);
        return std::pair(green, box.width() * box.height());
    };
    EXPECT_EQ(greenPixels().first, 0) << "only glyphs over the picture";
    dialog->BackgroundOption().setChecked(true);
    EXPECT_TRUE(dialog->Layers().At(0).BackOpaque);
    const auto [green, area] = greenPixels();
    EXPECT_GT(green, area / 2) << "a filled box behind the glyphs";
}

TEST_F(WatermarkTest, ANewTextTakesTheSystemSansSerifFont) {
    TfrmMain& window = Start();
    TFileRow& row = AddRow(window, Fixtures().h264AacMp4);
    auto dialog = Open(window, row);
    const QString systemSans = QFontInfo(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).family();
    ASSERT_GE(dialog->FontList().findText(systemSans), 0) << systemSans.toStdString();
    EXPECT_EQ(dialog->FontList().currentText().toStdString(), systemSans.toStdString());
    dialog->AddTextClick();
    EXPECT_EQ(dialog->Layers().At(0).Font.Name, systemSans.toStdString());
}

TEST(WatermarkFontTest, WithoutTheSystemFamilyTheFirstFamilyIsTheDefault) {
    const QString systemSans = QFontInfo(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).family();
    const struct {
        QStringList families;
        QString chosen;
    } cases[] = {{{"Tarnel Serif", systemSans, "Tarnel Mono"}, systemSans},
                 {{"Tarnel Serif", "Tarnel Mono"}, "Tarnel Serif"},
                 {{}, ""}};
    for (const auto& c : cases)
        EXPECT_EQ(TfrmWaterMark::DefaultFontFamily(c.families), c.chosen)
            << c.families.join(",").toStdString();
}

// The view shows the picture under the layer's transparent corner and the layer's colour elsewhere.
TEST_F(WatermarkTest, APictureLayerShowsThePictureThroughItsTransparentCorner) {
    TfrmMain& window = Start();
    TFileRow& row = AddRow(window, Fixtures().h264AacMp4);
    auto dialog = Open(window, row);
    QImage white(320, 240, QImage::Format_RGB888);
    white.fill(Qt::white);
    dialog->ShowPicture(white, 0);
    const QColor colour(200, 40, 120);
    services_.FilesToOpen = {WritePictureWithClearCorner(home_.Home() / "corner.png", {40, 30}, colour)};
    dialog->AddImageClick();
    dialog->TransparencyBar().SetPositionL(255);
    dialog->View().Select(nullptr);
    const QPointF origin = dialog->LayerItem(0).Location().topLeft();
    const QImage shot = dialog->View().grab().toImage();
    const auto shown = [&](QPointF at) {
        return shot.pixelColor(dialog->View().BitmapToView(origin + at)).name().toStdString();
    };
    EXPECT_EQ(shown({5, 5}), QColor(Qt::white).name().toStdString()) << "the transparent corner";
    EXPECT_EQ(shown({30, 22}), colour.name().toStdString()) << "the opaque part";
}

TEST_F(WatermarkTest, OkStoresTheListAndReopeningShowsItAgain) {
    TfrmMain& window = Start();
    TFileRow& row = AddRow(window, Fixtures().h264AacMp4);
    const std::string logo = WritePicture("logo.png", {40, 30}, Qt::red);
    {
        auto dialog = Open(window, row);
        dialog->AddTextClick();
        QTest::keyClicks(&dialog->TextEditor(), "Hello");
        EXPECT_EQ(dialog->LayerList().item(0)->text(), "Hello");
        dialog->BoldBox().setChecked(true);
        dialog->FontColorList().setCurrentIndex(9); // red
        dialog->BackgroundOption().setChecked(true);
        dialog->BackColorList().setCurrentIndex(15); // white
        dialog->HorizontalBar().SetPositionL(30);
        dialog->VerticalBar().SetPositionL(40);
        dialog->TransparencyBar().SetPositionL(200);
        dialog->RangeBar().SetPositionU(2);
        dialog->RangeBar().SetPositionL(1);
        EXPECT_EQ(dialog->StartField().text(), "0:00:01");

        services_.FilesToOpen = {logo};
        dialog->AddImageClick();
        EXPECT_FALSE(dialog->FontList().isEnabled()) << "text controls are off for a picture";
        dialog->HorizontalBar().SetPositionL(200);
        dialog->VerticalBar().SetPositionL(150);
        dialog->UpClick(); // the picture below the text
        EXPECT_EQ(dialog->View().LayerIndex(&dialog->LayerItem(0)), 0);
        EXPECT_EQ(dialog->Layers().At(0).Kind, 1u);
        dialog->OkClick();
    }
    const auto& stored = row.Record().WaterMarks;
    ASSERT_EQ(stored.size(), 2u);
    const TWmRec& image = *stored[0];
    EXPECT_EQ(image.Kind, 1u);
    EXPECT_EQ(image.ImageFile, logo);
    EXPECT_EQ((std::vector<int>{image.ImageLeft, image.ImageTop, image.ImageWidth, image.ImageHeight}),
              (std::vector<int>{200, 150, 40, 30}));
    EXPECT_EQ(image.ImageAlpha, 200u) << "a new picture takes the transparency bar";
    EXPECT_EQ(image.EndSecond, 3);
    const TWmRec& text = *stored[1];
    EXPECT_EQ(text.Kind, 0u);
    EXPECT_EQ(text.Text, "Hello");
    EXPECT_EQ(text.TextLeft, 30);
    EXPECT_EQ(text.TextTop, 40);
    EXPECT_GT(text.TextWidth, 20);
    EXPECT_EQ(text.TextAlpha, 200u);
    EXPECT_TRUE(text.Font.Bold);
    EXPECT_EQ(text.Font.Size, 26);
    EXPECT_EQ(text.Font.Color, RGBColor(255, 0, 0));
    EXPECT_TRUE(text.BackOpaque);
    EXPECT_EQ(text.BackColor, RGBColor(255, 255, 255));
    EXPECT_EQ(text.StartSecond, 1);
    EXPECT_EQ(text.EndSecond, 2);

    auto again = Open(window, row);
    ASSERT_EQ(again->Layers().Count(), 2);
    EXPECT_EQ(again->SelectedEntry(), 1) << "the last entry is selected";
    EXPECT_EQ(again->LayerItem(1).Location(),
              QRectF(text.TextLeft, text.TextTop, text.TextWidth, text.TextHeight));
    EXPECT_EQ(again->LayerItem(1).MasterOpacity(), 200);
    EXPECT_TRUE(again->BackgroundOption().isChecked());
    EXPECT_TRUE(again->BoldBox().isChecked());
    EXPECT_EQ(again->FontColorList().currentText(), "Red");
    EXPECT_EQ(again->RangeBar().PositionL(), 1);
    EXPECT_EQ(again->RangeBar().PositionU(), 2);
    again->SelectEntry(0);
    EXPECT_EQ(again->HorizontalBar().PositionL(), 200);
    EXPECT_EQ(again->RangeBar().PositionU(), 3);
    again->CancelClick();
    EXPECT_EQ(row.Record().WaterMarks.size(), 2u) << "Cancel keeps what was stored";
}

TEST_F(WatermarkTest, BadPicturesEmptyAndLongTextsAndDeletingWhilePlaying) {
    TfrmMain& window = Start();
    TFileRow& row = AddRow(window, Fixtures().h264AacMp4);
    auto dialog = Open(window, row);
    const fs::path broken = home_.Home() / "broken.png";
    test::WriteTextFile(broken, "not a picture");
    services_.FilesToOpen = {broken.string()};
    dialog->AddImageClick();
    EXPECT_TRUE(dialog->Layers().Empty());
    ASSERT_EQ(services_.Messages.size(), 1u);
    EXPECT_NE(services_.Messages[0].Text.find(broken.string()), std::string::npos);

    dialog->AddTextClick();
    QTest::keyClick(&dialog->TextEditor(), Qt::Key_Backspace); // the whole text was selected
    EXPECT_EQ(dialog->Layers().At(0).Text, "");
    dialog->AddTextClick();
    QTest::keyClicks(&dialog->TextEditor(), QString(3000, 'W'));
    EXPECT_GT(dialog->LayerItem(1).Location().width(), 10000);
    QTest::qWait(200); // pictures keep arriving while layers go
    dialog->DeleteClick();
    dialog->DeleteClick();
    dialog->AddTextClick();
    dialog->OkClick();
    ASSERT_EQ(row.Record().WaterMarks.size(), 1u) << "Ok stores only what the list shows";
    EXPECT_EQ(row.Record().WaterMarks[0]->Text, "Add Text");
}

TEST_F(WatermarkTest, TheEditMenuOpensTheDialogAfterStoppingThePreview) {
    TfrmMain& window = Start();
    AddRow(window, Fixtures().h264AacMp4);
    window.PlayClick();
    bool shown = false;
    QTimer::singleShot(300, &window, [&] {
        for (TfrmWaterMark* dialog : window.findChildren<TfrmWaterMark*>())
            if (dialog->isVisible()) {
                shown = true;
                dialog->CancelClick();
            }
    });
    window.EditWatermark();
    EXPECT_TRUE(shown);
}

// A text far wider than the picture, starting far left of it: the part over the picture is drawn
// (box and glyphs) and nothing else; a layer wholly outside changes nothing.
TEST(WatermarkRenderTest, AWideTextLayerIsDrawnWhereItMeetsThePicture) {
    TlvFilesRecord row;
    auto layer = std::make_unique<TWmRec>();
    layer->Text = std::string(400, 'W');
    layer->Font.Color = RGBColor(255, 255, 255);
    const QSize extent = TFrameHookRenderer::TextExtent(layer->Font, layer->Text);
    ASSERT_GT(extent.width(), 4000);
    layer->TextLeft = -3000;
    layer->TextTop = 8;
    layer->TextWidth = extent.width();
    layer->TextHeight = extent.height();
    layer->BackOpaque = true;
    layer->BackColor = RGBColor(255, 0, 0);
    layer->EndSecond = 10;
    auto outside = std::make_unique<TWmRec>(*layer);
    outside->TextLeft = -100000;
    outside->BackColor = RGBColor(0, 0, 255);
    row.WaterMarks.push_back(std::move(layer));
    row.WaterMarks.push_back(std::move(outside));

    TBitmap frame(64, 48);
    std::fill(frame.Bits(), frame.Bits() + frame.ByteSize(), uint8_t{90});
    TFrameHookRenderer().Render(frame, row, 0);
    int untouched = 0, blue = 0;
    for (int y = 0; y < frame.Height(); ++y)
        for (int x = 0; x < frame.Width(); ++x) {
            const uint8_t* p = frame.ScanLine(y) + x * 3; // blue, green, red
            const bool grey = p[0] == 90 && p[1] == 90 && p[2] == 90;
            const bool inBand = y >= 8 && y < 8 + extent.height();
            untouched += inBand && p[2] < 200; // neither the red box nor a white glyph
            blue += p[0] > 200 && p[2] < 50;
            if (!inBand) {
                EXPECT_TRUE(grey) << x << "," << y;
            }
        }
    EXPECT_EQ(untouched, 0) << "the box covers the whole band";
    EXPECT_EQ(blue, 0) << "the layer outside the picture is not drawn";
}

// A picture layer with an alpha channel: the frame stays as it was under the transparent corner,
// and elsewhere it takes the picture's colour mixed by the layer's transparency.
TEST(WatermarkRenderTest, APictureLayerKeepsItsAlphaOverTheFrame) {
    test::TempDir folder;
    const QColor colour(200, 40, 120);
    const std::string file = WritePictureWithClearCorner(folder / "logo.png", {8, 8}, colour);
    constexpr uint8_t kFrame = 90;
    for (const uint32_t alpha : {255u, 128u}) {
        TlvFilesRecord row;
        auto layer = std::make_unique<TWmRec>();
        layer->Kind = 1;
        layer->ImageFile = file;
        layer->ImageLeft = 2;
        layer->ImageTop = 3;
        layer->ImageAlpha = alpha;
        layer->EndSecond = 10;
        row.WaterMarks.push_back(std::move(layer));
        TBitmap frame(16, 16);
        std::fill(frame.Bits(), frame.Bits() + frame.ByteSize(), kFrame);
        TFrameHookRenderer().Render(frame, row, 0);

        const uint8_t* corner = frame.ScanLine(3 + 1) + (2 + 1) * 3;
        EXPECT_EQ(std::vector<int>(corner, corner + 3), std::vector<int>(3, kFrame)) << "alpha " << alpha;
        const auto mixed = [&](int channel) {
            return static_cast<int>(((256 - alpha) * kFrame + alpha * channel) >> 8);
        };
        const uint8_t* opaque = frame.ScanLine(3 + 6) + (2 + 6) * 3; // blue, green, red
        EXPECT_EQ(std::vector<int>(opaque, opaque + 3),
                  (std::vector<int>{mixed(colour.blue()), mixed(colour.green()), mixed(colour.red())}))
            << "alpha " << alpha;
    }
}

// A picture layer stored through the dialog for seconds 1 through 2 is in the converted file from
// second 1 on (the range bar's upper thumb stays above the lower one).
TEST_F(WatermarkTest, TheConvertedFileShowsTheLayerInItsSeconds) {
    TfrmMain& window = Start();
    TFileRow& row = AddRow(window, Fixtures().h264AacMp4); // 3 s, 320 × 240
    const std::string patch = WritePicture("patch.png", {80, 60}, QColor(255, 0, 255));
    {
        auto dialog = Open(window, row);
        services_.FilesToOpen = {patch};
        dialog->AddImageClick();
        dialog->TransparencyBar().SetPositionL(255);
        dialog->HorizontalBar().SetPositionL(80);
        dialog->VerticalBar().SetPositionL(60);
        dialog->RangeBar().SetPositionL(1);
        dialog->RangeBar().SetPositionU(2);
        dialog->OkClick();
    }
    window.btnStartClick();
    ASSERT_EQ(window.Plan().Outputs.size(), 1u);
    const std::vector<test::DecodedPicture> out = test::DecodePictures(window.Plan().Outputs[0]);
    ASSERT_GE(out.size(), 60u);
    int inside = 0;
    for (const test::DecodedPicture& picture : out) {
        // The middle of the patch, a quarter of the picture in from the top-left corner.
        const std::vector<double> mean = picture.Mean(picture.width * 5 / 16, picture.height * 5 / 16,
                                                      picture.width / 8, picture.height / 8);
        const bool magenta = mean[0] > 200 && mean[1] < 60 && mean[2] > 200;
        if (picture.time > 0.96 && picture.time < 1.04)
            continue; // the pictures on the boundary are rounded to either side
        EXPECT_EQ(magenta, picture.time >= 1.0) << "picture at " << picture.time << " s";
        inside += magenta;
    }
    EXPECT_GE(inside, 40);
}

} // namespace
} // namespace tarnel
