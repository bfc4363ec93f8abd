// The main window on a real X server, as `tarnel FILE` starts it: its picture is taken and saved
// (in $TARNEL_SCREENSHOT_DIR) for people to look at, and checked for what must be on it.
#include "AppTestSupport.h"
#include "MainWindow.h"
#include "SplashWindow.h"
#include "StartUp.h"
#include "widgets/CatalogueList.h"
#include "widgets/FileListView.h"

#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
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

} // namespace
} // namespace tarnel
