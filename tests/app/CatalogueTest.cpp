// The profile catalogue: captions and codes, and the drop-down list of the main window.
#include "core/Catalogue.h"

#include "MainWindowFixture.h"
#include "core/ProfileFile.h"
#include "widgets/CatalogueList.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest/QTest>
#include <set>

namespace tarnel {
namespace {

using test::MainWindowTest;

TEST(CatalogueTest, FortyFourProfilesInSevenGroups) {
    const std::vector<int32_t> codes = ProfileCodes();
    ASSERT_EQ(codes.size(), 44u);
    const int perGroup[] = {9, 5, 6, 1, 10, 7, 6};
    for (int group = 0; group < kCatalogueGroups; ++group) {
        EXPECT_EQ(GroupProfiles(group).size(), static_cast<size_t>(perGroup[group])) << group;
        EXPECT_TRUE(ProfileCaption(group, perGroup[group]).empty());
    }
    std::set<std::string> captions;
    for (int32_t code : codes)
        captions.insert(ProfileCaptionOfCode(code));
    EXPECT_EQ(captions.size(), 44u) << "captions are unique keys";
    EXPECT_EQ(GroupCaption(6), "Modern formats");
    EXPECT_EQ(ProfileCaptionOfCode(600), "H.265/HEVC Video (*.mp4)");
    // Stored keys keep their spelling.
    EXPECT_EQ(GroupCaption(4), "General Video formates");
    EXPECT_EQ(ProfileCaptionOfCode(501), "AAC Advenced Audio Codec (*.aac)");
    EXPECT_EQ(ProfileCaptionOfCode(503), "WMA - Windows Meida Audio (*.wma)");
    EXPECT_EQ(ProfileCaptionOfCode(408), "DV - NTSC -Digital Video Format (*.dv)");
    EXPECT_EQ(ProfileCaptionOfCode(2), "iPod MPEG-4 Excellent (320 x 240)(*.mp4)");
    EXPECT_TRUE(ProfileCaption(50, 50).empty());
    EXPECT_TRUE(ProfileCaption(51, 0).empty());
    EXPECT_EQ(ProfileSection(403), "formatInfo403");
}

TEST(CatalogueTest, ShippedProfileFileHasEveryProfile) {
    TProfileFile profiles(TGlobalObject::ShippedDataFolder() + "tarnelformat.ini");
    for (int32_t code : ProfileCodes()) {
        EXPECT_TRUE(profiles.HasProfile(code)) << code;
        EXPECT_FALSE(profiles.FileExt(code).empty()) << code;
    }
}

// A copy made by an earlier version gets the profiles added since, and keeps its own.
TEST(CatalogueTest, AnOlderProfileCopyGainsTheNewProfiles) {
    test::TempDir dir;
    const std::string folder = (dir / "").string();
    test::WriteTextFile(dir / "tarnelformat.ini", "[formatInfo404]\nFormat=avi\nFileExt=mine\n");
    std::string problem;
    const std::string path = TGlobalObject::PrepareProfileFile(folder, problem);
    EXPECT_EQ(problem, "");
    TProfileFile profiles(path);
    EXPECT_EQ(profiles.FileExt(404), "mine");
    for (int32_t code : ProfileCodes())
        EXPECT_TRUE(profiles.HasProfile(code)) << code;
    EXPECT_EQ(profiles.FileExt(601), "webm");
}

TEST(CatalogueTest, MissingProfileSectionReadsDefaults) {
    test::TempDir dir;
    test::WriteTextFile(dir / "tarnelformat.ini", "[formatInfo404]\nFormat=avi\nFileExt=avi\n");
    TProfileFile profiles((dir / "tarnelformat.ini").string());
    EXPECT_EQ(profiles.FileExt(404), "avi");
    EXPECT_EQ(profiles.FileExt(405), "mp4");
    EXPECT_EQ(profiles.Format(405), "null");
    TProfileFile missing((dir / "none.ini").string());
    EXPECT_EQ(missing.FileExt(0), "mp4");
}

// The header rows in the order they are listed.
std::vector<int> HeaderRows(const TCatalogueList& list) {
    std::vector<int> rows;
    for (size_t i = 0; i < list.Entries().size(); ++i)
        if (list.Entries()[i].IsGroup)
            rows.push_back(static_cast<int>(i));
    return rows;
}

QPoint EntryPoint(TCatalogueList& list, int row, int x) {
    const QRect rect = list.visualItemRect(list.item(row));
    return {x, rect.center().y()};
}

TEST_F(MainWindowTest, CatalogueStartsWithTheStoredGroupStates) {
    WriteSettings("[lstformat]\n4=0\n");
    TfrmMain& window = Start();
    const TCatalogueList& list = window.Catalogue();
    EXPECT_FALSE(list.isVisible());
    ASSERT_EQ(list.count(), 7 + 10);
    EXPECT_EQ(HeaderRows(list), (std::vector<int>{0, 1, 2, 3, 4, 15, 16}));
    EXPECT_EQ(list.item(5)->text(), "MPEG-1 Video (*.mpg)");
    EXPECT_EQ(list.Entries()[0].GroupName, "Apple iPod");
    EXPECT_EQ(list.Entries()[3].GroupName, "");
}

TEST_F(MainWindowTest, ChoosingAProfileWritesItsNameAndCode) {
    WriteSettings("[lstformat]\n4=0\n");
    TfrmMain& window = Start();
    TCatalogueList& list = window.Catalogue();
    QTest::mouseClick(&window.ProfileField(), Qt::LeftButton);
    ASSERT_TRUE(list.isVisible());
    // 17 entries: 20 × 17 + 20 pixels, bottom edge on the field's top edge.
    EXPECT_EQ(list.height(), 360);
    EXPECT_EQ(list.geometry().bottom() + 1, window.ProfileField().geometry().top());
    EXPECT_EQ(list.width(), window.ProfileField().width());

    const int avi = 5 + 4;
    ASSERT_EQ(list.item(avi)->text(), "AVI Video (*.avi)");
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, EntryPoint(list, avi, 60));
    EXPECT_FALSE(list.isVisible());
    EXPECT_EQ(window.ProfileField().text(), "AVI Video (*.avi)");
    EXPECT_EQ(window.Settings().FormatName(), "AVI Video (*.avi)");
    EXPECT_EQ(window.Settings().FormatCode(), 404);
    EXPECT_NE(SettingsText().find("FormatCode=404"), std::string::npos);

    // Opening again selects the chosen profile.
    QTest::mouseClick(&window.ProfileField(), Qt::LeftButton);
    EXPECT_EQ(list.currentRow(), avi);
    QTest::mouseClick(&window.ProfileField(), Qt::LeftButton);
    EXPECT_FALSE(list.isVisible()) << "a second click on the field hides the list";
}

TEST_F(MainWindowTest, GlyphAndDoubleClickToggleGroups) {
    TfrmMain& window = Start();
    TCatalogueList& list = window.Catalogue();
    QTest::mouseClick(&window.ProfileField(), Qt::LeftButton);
    ASSERT_EQ(list.count(), 7);
    EXPECT_EQ(list.height(), 20 * 7 + 20);

    QTest::mousePress(list.viewport(), Qt::LeftButton, {}, EntryPoint(list, 0, 8));
    QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, EntryPoint(list, 0, 8));
    EXPECT_EQ(list.count(), 7 + 9);
    EXPECT_FALSE(list.Entries()[0].Collapsed);
    EXPECT_TRUE(list.isVisible()) << "toggling a group chooses nothing";
    // The open list grows upwards to show the group's entries, still standing on the field.
    EXPECT_EQ(list.height(), 20 * (7 + 9) + 20);
    EXPECT_EQ(list.geometry().bottom() + 1, window.ProfileField().mapTo(&window, QPoint(0, 0)).y());

    // Pressing the header's caption only selects it.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, EntryPoint(list, 10, 80));
    EXPECT_EQ(list.count(), 7 + 9);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, EntryPoint(list, 10, 80));
    EXPECT_EQ(list.count(), 7 + 9 + 5);
    ASSERT_TRUE(list.Entries()[11].IsProfile);
    EXPECT_EQ(list.Entries()[11].Code, 100);

    QTest::mousePress(list.viewport(), Qt::LeftButton, {}, EntryPoint(list, 0, 8));
    EXPECT_EQ(list.count(), 7 + 5);
    EXPECT_TRUE(list.Entries()[0].Collapsed);

    // Everything expanded: the list stops at 422 pixels.
    const std::vector<int> headers = HeaderRows(list);
    for (auto row = headers.rbegin(); row != headers.rend(); ++row) // later rows first: earlier ones stay put
        if (list.Entries()[static_cast<size_t>(*row)].Collapsed)
            list.ToggleGroupAt(*row);
    window.HideCatalogue();
    window.OpenCatalogue(true);
    EXPECT_EQ(list.count(), 51);
    EXPECT_EQ(list.height(), 422);
}

TEST_F(MainWindowTest, ALeftPressElsewhereHidesTheListWithoutAChoice) {
    TfrmMain& window = Start();
    QTest::mouseClick(&window.ProfileField(), Qt::LeftButton);
    ASSERT_TRUE(window.Catalogue().isVisible());
    QTest::mouseClick(window.findChild<QPushButton*>("btnBrowse"), Qt::LeftButton);
    EXPECT_FALSE(window.Catalogue().isVisible());
    EXPECT_EQ(window.Settings().FormatCode(), 1);
    EXPECT_EQ(SettingsText().find("FormatName"), std::string::npos);
}

} // namespace
} // namespace tarnel
