// The main window on a real X server, as `tarnel FILE` starts it: its picture is taken and saved
// (in $TARNEL_SCREENSHOT_DIR) for people to look at, and checked for what must be on it.
#include "AboutDialog.h"
#include "AppTestSupport.h"
#include "CropDialog.h"
#include "EngineConvert.h"
#include "FileInfoDialog.h"
#include "FolderChooser.h"
#include "MainWindow.h"
#include "PreferencesDialog.h"
#include "ProgressWindow.h"
#include "SettingsDialog.h"
#include "SplashWindow.h"
#include "StartUp.h"
#include "TrackBar2.h"
#include "TrimDialog.h"
#include "WatermarkDialog.h"
#include "preview/PreviewPlayer.h"
#include "widgets/CatalogueList.h"
#include "widgets/FileListView.h"
#include "widgets/LayerView.h"
#include "widgets/PictureView.h"

#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QtTest/QTest>
#include <cstdlib>
#include <filesystem>

namespace tarnel {
namespace {

void Save(const QImage& picture, const char* name) {
    const char* folder = std::getenv("TARNEL_SCREENSHOT_DIR");
    if (!folder)
        return;
    std::filesystem::create_directories(folder);
    picture.save(QString(folder) + "/" + name);
}

// How many pixels of `area` differ clearly from `background`.
int PixelsUnlike(const QImage& picture, const QRect& area, QColor background) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = picture.pixelColor(x, y);
            if (std::abs(c.red() - background.red()) + std::abs(c.green() - background.green()) +
                    std::abs(c.blue() - background.blue()) >
                90)
                ++count;
        }
    return count;
}

// The desktop started with the test clip, once its window shows the clip's row and the splash
// window, which lies over the middle of the main window until its timer closes it, is gone: a
// picture a player draws under the splash is not on the screen. Null when that does not happen.
std::unique_ptr<TDesktop> StartDesktopWithClip(test::TFakeShellServices& services) {
    std::unique_ptr<TDesktop> desktop = StartDesktop(services, {test::Fixtures().h264AacMp4});
    TfrmMain& window = *desktop->MainWindow;
    if (!QTest::qWaitForWindowExposed(&window) ||
        !test::WaitUntil([&] { return window.FileList().RowCount() == 1; }) ||
        !test::WaitUntil([&] { return !desktop->Cover; }, 5000))
        return nullptr;
    return desktop;
}

// Every visible child lies inside the dialog, and no single-line label is narrower than its text.
void ExpectEveryCaptionInside(const QDialog& dialog) {
    for (const QWidget* child : dialog.findChildren<QWidget*>()) {
        if (!child->isVisible() || child->isWindow())
            continue;
        const QRect area(child->mapTo(&dialog, QPoint(0, 0)), child->size());
        EXPECT_TRUE(dialog.rect().contains(area)) << child->objectName().toStdString();
        const auto* label = qobject_cast<const QLabel*>(child);
        if (label && !label->text().contains('\n') && !label->text().contains('<') && !label->wordWrap()) {
            EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()))
                << label->text().toStdString();
        }
    }
}

TEST(ScreenshotTest, MainWindowAfterStartingWithAFile) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "this test runs on an X server (xvfb-run)";
    test::TPrivateHome home;
    test::TFakeShellServices services;
    std::unique_ptr<TDesktop> desktop = StartDesktop(services, {test::Fixtures().h264AacMp4});
    TfrmMain& window = *desktop->MainWindow;
    ASSERT_TRUE(desktop->Cover);
    EXPECT_TRUE(desktop->Cover->isVisible());
    EXPECT_EQ(desktop->Cover->size(), QSize(399, 239));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(2500); // the splash window's timer closes it once the main window shows
    EXPECT_FALSE(desktop->Cover) << "the splash window is gone";

    ASSERT_EQ(window.FileList().RowCount(), 1);
    const QImage picture = window.grab().toImage();
    Save(picture, "main-window.png");
    ASSERT_EQ(picture.size() / picture.devicePixelRatio(), QSize(914, 566));
    EXPECT_EQ(window.geometry().size(), QSize(914, 566));

    const qreal scale = picture.devicePixelRatio();
    const auto area = [&](const QWidget& widget) {
        const QRect r(widget.mapTo(&window, QPoint(0, 0)), widget.size());
        return QRect(r.topLeft() * scale, r.size() * scale);
    };
    // The header strip is dark blue with light text on it.
    const QColor header = picture.pixelColor(QPoint(900, 4) * scale);
    EXPECT_LT(header.lightness(), 110) << header.name().toStdString();
    // The row's text and check box are drawn in the list, and the profile field shows its text.
    const QRect firstRow = window.FileList().visualItemRect(window.FileList().Row(0));
    const QRect rowArea(area(*window.FileList().viewport()).topLeft() + firstRow.topLeft() * scale,
                        firstRow.size() * scale);
    EXPECT_GT(PixelsUnlike(picture, rowArea, QColor(185, 204, 236)), 100);
    EXPECT_GT(PixelsUnlike(picture, area(window.ProfileField()), QColor(246, 247, 248)), 100);
    // The preview panel is black while nothing plays.
    const QRect panel = area(*window.findChild<QWidget*>("pnlPreview"));
    EXPECT_EQ(PixelsUnlike(picture, panel.adjusted(4, 4, -4, -4), Qt::black), 0);

    // The catalogue opened over the profile field, with the first group expanded.
    QTest::mouseClick(&window.ProfileField(), Qt::LeftButton);
    window.Catalogue().ToggleGroupAt(0);
    window.HideCatalogue();
    window.OpenCatalogue(true);
    ASSERT_TRUE(window.Catalogue().isVisible());
    QTest::qWait(50);
    Save(window.grab().toImage(), "main-window-catalogue.png");

    services.Answers = {true};
    window.close();
}

// The dialogs of the main window as they open, saved for people to look at (run it with
// QT_SCALE_FACTOR=2 too): every caption and field lies inside its dialog, and the settings dialog's
// "Audio tracks" list sits under the audio options, above the buttons.
TEST(ScreenshotTest, DialogsShowEveryCaptionInside) {
    test::TPrivateHome home;
    test::TFakeShellServices services;
    std::unique_ptr<TDesktop> desktop = StartDesktop(services, {});
    TfrmMain& window = *desktop->MainWindow;
    TfrmSettings settings(window.Settings(), window.Global().ProfileFile(), services, nullptr, &window);
    TfrmPreference preferences(window.Settings(), services, &window);
    TfrmFileInfo information(&window);
    information.ShowFile(test::Fixtures().h264AacMp4);
    TfrmAbout about(window.Global(), services, &window);
    TfmDirectory chooser(services, &window);
    const std::pair<QDialog*, const char*> dialogs[] = {{&settings, "settings-dialog.png"},
                                                        {&preferences, "preferences-dialog.png"},
                                                        {&information, "information-dialog.png"},
                                                        {&about, "about-dialog.png"},
                                                        {&chooser, "folder-chooser.png"}};
    for (const auto& [dialog, name] : dialogs) {
        SCOPED_TRACE(name);
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        Save(dialog->grab().toImage(), name);
        ExpectEveryCaptionInside(*dialog);
        dialog->close();
    }
    QComboBox& tracks = settings.List("cmbAudioTracks");
    const QRect tracksArea(tracks.mapTo(&settings, QPoint(0, 0)), tracks.size());
    for (QPushButton* button : settings.findChildren<QPushButton*>())
        EXPECT_LT(tracksArea.bottom(), button->mapTo(&settings, QPoint(0, 0)).y())
            << button->text().toStdString();
    services.Answers = {true};
    window.close();
}

// With a font half as large again, the dialogs grow past their designed size instead of clipping
// a caption.
TEST(ScreenshotTest, DialogsGrowWithALargerFont) {
    test::TPrivateHome home;
    test::TFakeShellServices services;
    std::unique_ptr<TDesktop> desktop = StartDesktop(services, {});
    TfrmMain& window = *desktop->MainWindow;
    const QFont usual = QApplication::font();
    QFont larger = usual;
    larger.setPointSizeF(usual.pointSizeF() * 1.5);
    QApplication::setFont(larger);
    {
        TfrmSettings settings(window.Settings(), window.Global().ProfileFile(), services, nullptr, &window);
        TfmDirectory chooser(services, &window);
        TfrmTrim trim(window.Settings(), &window);
        TfrmCrop crop(window.Settings(), &window);
        const struct {
            QDialog* dialog;
            const char* name;
            QSize designed;
        } dialogs[] = {{&settings, "settings-dialog-larger-font.png", {475, 420}},
                       {&chooser, "folder-chooser-larger-font.png", {322, 351}},
                       {&trim, "trim-dialog-larger-font.png", {902, 566}},
                       {&crop, "crop-dialog-larger-font.png", {902, 650}}};
        for (const auto& [dialog, name, designed] : dialogs) {
            SCOPED_TRACE(name);
            dialog->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
            Save(dialog->grab().toImage(), name);
            EXPECT_TRUE(dialog->width() > designed.width() || dialog->height() > designed.height())
                << dialog->width() << "x" << dialog->height();
            ExpectEveryCaptionInside(*dialog);
            dialog->close();
        }
    }
    QApplication::setFont(usual);
    services.Answers = {true};
    window.close();
}

// A file playing in the preview panel: the player's picture is on the screen.
TEST(ScreenshotTest, PreviewPlaysInsideTheMainWindow) {
    test::TPrivateHome home;
    test::TFakeShellServices services;
    std::unique_ptr<TDesktop> desktop = StartDesktopWithClip(services);
    ASSERT_TRUE(desktop) << "the main window shows the clip's row once the splash window has closed";
    TfrmMain& window = *desktop->MainWindow;
    window.PlayClick();
    // The player draws into the panel's own window: the screen shows it, a grab of the widgets does not.
    const QWidget& panel = *window.findChild<QWidget*>("pnlPreview");
    QImage screen;
    const auto pictureShown = [&] {
        screen = QGuiApplication::primaryScreen()->grabWindow(window.winId()).toImage();
        const qreal scale = screen.devicePixelRatio();
        const QRect area(panel.mapTo(&window, QPoint(0, 0)) * scale, panel.size() * scale);
        return PixelsUnlike(screen, area, Qt::black) > area.width() * area.height() / 4;
    };
    EXPECT_TRUE(test::WaitUntil(pictureShown, 10000)) << "the picture is not black; the log says:\n"
                                                      << window.LogLines().join("\n").toStdString();
    Save(screen, "preview-playing.png");
    // Every picture of the 25 fps clip is shown in the panel, not only those that happen to follow
    // an event from the X server: each shown picture reports its position. They are counted over
    // one second of the clip, not of the wall clock: the video follows the sound's clock, and the
    // test's sound driver (SDL's "dummy") plays slower than real time on a slow or busy machine.
    int positions = 0;
    int64_t first = -1, last = -1;
    const QMetaObject::Connection counting =
        QObject::connect(&window.Preview(), &TPreviewPlayer::PositionChanged, [&](int64_t position) {
            if (first < 0)
                first = position;
            else if (position <= first + 1000000)
                ++positions;
            last = position;
        });
    EXPECT_TRUE(test::WaitUntil(
        [&] { return last > first + 1000000 || window.Preview().State() != TPreviewState::Playing; }, 10000))
        << "one second of the clip plays, or the clip ends";
    QObject::disconnect(counting);
    EXPECT_GE(positions, 18) << "pictures shown in one second of playing: " << positions;
    window.StopPreview();
    services.Answers = {true};
    window.close();
}

// Maximised, the list and the preview share the extra room, the preview keeps its aspect, the
// output rows stay at the bottom, and the player fills the larger panel.
TEST(ScreenshotTest, MainWindowMaximisedSharesTheSpace) {
    test::TPrivateHome home;
    test::TFakeShellServices services;
    std::unique_ptr<TDesktop> desktop = StartDesktopWithClip(services);
    ASSERT_TRUE(desktop) << "the main window shows the clip's row once the splash window has closed";
    TfrmMain& window = *desktop->MainWindow;
    const QRect listBefore = window.FileList().geometry();
    window.showMaximized();
    // Without a window manager a maximise request changes nothing; then take the screen's room.
    const QSize screen = window.screen()->availableGeometry().size();
    if (!test::WaitUntil([&] { return window.width() > TfrmMain::kWidth; }, 1000))
        window.resize(screen);
    ASSERT_TRUE(test::WaitUntil([&] { return window.size() == screen; }, 3000))
        << window.width() << "x" << window.height();

    const auto place = [&](const QWidget& widget) {
        return QRect(widget.mapTo(&window, QPoint(0, 0)), widget.size());
    };
    const QWidget& panel = *window.findChild<QWidget*>("pnlPreview");
    const QRect list = place(window.FileList());
    const QRect picture = place(panel);
    EXPECT_GT(list.width(), listBefore.width());
    EXPECT_GT(list.height(), listBefore.height());
    EXPECT_GT(picture.width(), 370);
    EXPECT_NEAR(picture.width() * 240.0 / 370.0, picture.height(), 2.0);
    EXPECT_LT(list.right(), picture.left());
    for (const char* name : {"btnStartBig", "edtOutput", "btnOpen"}) {
        const QRect bottomRow = place(*window.findChild<QWidget*>(name));
        EXPECT_GT(bottomRow.bottom(), window.height() - 70) << name;
        EXPECT_LE(bottomRow.bottom(), window.height()) << name;
    }
    for (const char* name : {"trcPreview", "btnPlay", "trcVolume", "lblDuration"}) {
        const QRect control = place(*window.findChild<QWidget*>(name));
        EXPECT_GT(control.top(), picture.bottom()) << name;
        EXPECT_LT(control.bottom(), place(*window.findChild<QWidget*>("edtFormat")).top()) << name;
    }
    QTest::qWait(100);
    window.PlayClick();
    QImage shot;
    const auto pictureFillsThePanel = [&] {
        shot = QGuiApplication::primaryScreen()->grabWindow(window.winId()).toImage();
        const qreal scale = shot.devicePixelRatio();
        // The clip is 4:3, so the player letterboxes it at the sides of the wider panel: look at
        // the middle half, which a picture drawn at the old, smaller size would leave black at the
        // bottom.
        const QRect middle(picture.left() + picture.width() / 4, picture.top() + picture.height() * 3 / 4,
                           picture.width() / 2, picture.height() / 4 - 2);
        const QRect area(middle.topLeft() * scale, middle.size() * scale);
        return PixelsUnlike(shot, area, Qt::black) > area.width() * area.height() / 4;
    };
    EXPECT_TRUE(test::WaitUntil(pictureFillsThePanel, 10000)) << "the picture fills the larger panel";
    window.StopPreview();
    Save(shot, "main-window-maximised.png");
    services.Answers = {true};
    window.close();
}

// The trim dialog plays in its own panel; the crop dialog's player plays into a hidden panel and
// the dialog draws both previews from the pictures it receives.
TEST(ScreenshotTest, TrimAndCropDialogsWhilePlaying) {
    test::TPrivateHome home;
    test::TFakeShellServices services;
    std::unique_ptr<TDesktop> desktop = StartDesktopWithClip(services);
    ASSERT_TRUE(desktop) << "the main window shows the clip's row once the splash window has closed";
    TfrmMain& window = *desktop->MainWindow;
    TFileRow& row = *window.FileList().Row(0);
    {
        TfrmTrim trim(window.Settings(), &window);
        trim.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&trim));
        ASSERT_TRUE(trim.Load(row, false));
        const QWidget& panel = *trim.findChild<QWidget*>("imgPreview");
        QImage screen;
        const auto pictureShown = [&] {
            screen = QGuiApplication::primaryScreen()->grabWindow(trim.winId()).toImage();
            const qreal scale = screen.devicePixelRatio();
            const QRect area(panel.mapTo(&trim, QPoint(0, 0)) * scale, panel.size() * scale);
            return PixelsUnlike(screen, area, Qt::black) > area.width() * area.height() / 8;
        };
        EXPECT_TRUE(test::WaitUntil(pictureShown, 10000)) << "the trim preview shows the file";
        Save(screen, "trim-dialog.png");
        trim.reject();
    }
    {
        TfrmCrop crop(window.Settings(), &window);
        crop.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&crop));
        ASSERT_TRUE(crop.Load(row));
        const TBox picture = crop.PictureBox();
        crop.DragFrameTo({picture.Left + 60, picture.Top + 40, picture.Width - 120, picture.Height - 80},
                         false);
        crop.SetEffects({255, 0, 255, 120});
        EXPECT_TRUE(test::WaitUntil([&] { return !crop.OutputPreview().Picture().isNull(); }, 10000))
            << "pictures arrive through the hook from the hidden panel's player";
        QTest::qWait(300);
        const QImage picture2 = crop.grab().toImage();
        Save(picture2, "crop-dialog.png");
        EXPECT_EQ(crop.OutputPreview().Picture().size(), QSize(320 - 2 * 48, 240 - 2 * 32));
        crop.reject();
    }
    services.Answers = {true};
    window.close();
}

// A text and a picture layer placed over the playing file, every caption inside the dialog; after
// "Ok" a new dialog shows them again.
TEST(ScreenshotTest, WatermarkDialogWithLayersOverThePlayingFile) {
    test::TPrivateHome home;
    test::TFakeShellServices services;
    const std::filesystem::path logo = home.Home() / "logo.png";
    // A rounded badge: its corners are transparent, so the playing file shows through them.
    QImage picture(64, 40, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(230, 40, 40));
        painter.drawRoundedRect(QRectF(0, 0, 64, 40), 14, 14);
        painter.fillRect(16, 10, 32, 20, QColor(250, 220, 0));
    }
    ASSERT_TRUE(picture.save(QString::fromStdString(logo.string())));
    std::unique_ptr<TDesktop> desktop = StartDesktopWithClip(services);
    ASSERT_TRUE(desktop) << "the main window shows the clip's row once the splash window has closed";
    TfrmMain& window = *desktop->MainWindow;
    TFileRow& row = *window.FileList().Row(0);
    {
        TfrmWaterMark watermark(window.Settings(), services, "https://tarnel.org/help/watermark", &window);
        watermark.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&watermark));
        ASSERT_TRUE(watermark.Load(row));
        ASSERT_TRUE(test::WaitUntil([&] { return !watermark.View().Background().isNull(); }, 10000))
            << "pictures arrive through the hook";
        watermark.AddTextClick();
        QTest::keyClicks(&watermark.TextEditor(), "Tarnel");
        watermark.LayerList().setFocus();
        watermark.BackgroundOption().setChecked(true);
        watermark.HorizontalBar().SetPositionL(20);
        watermark.VerticalBar().SetPositionL(16);
        watermark.TransparencyBar().SetPositionL(255);
        services.FilesToOpen = {logo.string()};
        watermark.AddImageClick();
        watermark.HorizontalBar().SetPositionL(240);
        watermark.VerticalBar().SetPositionL(180);
        QTest::qWait(300);
        Save(watermark.grab().toImage(), "watermark-dialog.png");
        EXPECT_EQ(watermark.size(), QSize(902, 712)) << "the designed size at the default font";
        EXPECT_EQ(watermark.View().size(), QSize(TfrmWaterMark::kViewWidth, TfrmWaterMark::kViewHeight));
        for (const QLabel* label : watermark.findChildren<QLabel*>()) {
            const QRect area(label->mapTo(&watermark, QPoint(0, 0)), label->size());
            EXPECT_TRUE(watermark.rect().contains(area)) << label->text().toStdString();
            if (!label->text().contains('\n')) {
                EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()))
                    << label->text().toStdString();
            }
        }
        ASSERT_EQ(watermark.Layers().Count(), 2);
        watermark.OkClick();
    }
    ASSERT_EQ(row.Record().WaterMarks.size(), 2u);
    {
        TfrmWaterMark again(window.Settings(), services, "", &window);
        again.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&again));
        ASSERT_TRUE(again.Load(row));
        ASSERT_TRUE(test::WaitUntil([&] { return again.Layers().Count() == 2; }, 10000));
        EXPECT_EQ(again.LayerItem(0).Location().topLeft(), QPointF(20, 16));
        EXPECT_EQ(again.LayerItem(1).Location(), QRectF(240, 180, 64, 40));
        QTest::qWait(300);
        Save(again.grab().toImage(), "watermark-reopened.png");
        again.CancelClick();
    }
    services.Answers = {true};
    window.close();
}

// The progress window of a run, paused once the first conversion picture has arrived.
TEST(ScreenshotTest, ProgressWindowShowsTheConversion) {
    test::TPrivateHome home;
    test::TFakeShellServices services;
    const std::string clip = (home.Home() / "clip.mp4").string();
    ASSERT_EQ(test::ConvertWithEngine(
                  test::Fixtures().h264AacMp4,
                  {{"s", "640x360"}, {"aspect", "16:9"}, {"vcodec", "libx264"}, {"acodec", "aac"}}, clip),
              "");
    test::WriteTextFile(home.SettingsFile(),
                        "[settings]\nFormatCode=205\nFormatName=Apple H.264 720p (1280 x 720) (*.mp4)\n");
    std::unique_ptr<TDesktop> desktop = StartDesktop(services, {clip});
    TfrmMain& window = *desktop->MainWindow;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(100);
    ASSERT_EQ(window.FileList().RowCount(), 1);

    QImage picture;
    QTimer::singleShot(0, &window, [&] {
        TfrmProgress* progress = window.ProgressWindow();
        ASSERT_NE(progress, nullptr);
        ASSERT_TRUE(test::WaitUntil([&] { return !window.LatestPreviewFrame().isNull(); }, 10000));
        progress->PauseClick();
        QTest::qWait(300); // the preview timer draws the frame
        picture = progress->grab().toImage();
        progress->ResumeClick();
    });
    window.btnStartClick();
    ASSERT_FALSE(picture.isNull());
    Save(picture, "progress-window.png");
    EXPECT_EQ(picture.size() / picture.devicePixelRatio(), QSize(420, 460));
    const qreal scale = picture.devicePixelRatio();
    const QRect preview(QPoint(24, 16) * scale, QSize(372, 210) * scale);
    EXPECT_GT(PixelsUnlike(picture, preview, QColor(166, 202, 240)), 10000)
        << "the conversion's picture is shown";
    EXPECT_EQ(window.FileList().Row(0)->text(TFileListView::colProgress), "100%");

    // Two side by side: the window lists both running files under its buttons.
    window.Settings().SetJobs(2);
    const std::string second = (home.Home() / "second.mp4").string();
    std::filesystem::copy_file(clip, second);
    window.AddFiles({second});
    QImage two;
    QTimer::singleShot(0, &window, [&] {
        TfrmProgress* progress = window.ProgressWindow();
        ASSERT_TRUE(test::WaitUntil([&] { return progress->RunningFiles().size() == 2; }, 10000));
        progress->PauseClick();
        QTest::qWait(300);
        two = progress->grab().toImage();
        progress->ResumeClick();
    });
    window.btnStartClick();
    ASSERT_FALSE(two.isNull()) << "both files were listed while running";
    Save(two, "progress-window-two.png");
    EXPECT_EQ(two.size() / two.devicePixelRatio(), QSize(420, 600));

    services.Answers = {true};
    window.close();
}

} // namespace
} // namespace tarnel
