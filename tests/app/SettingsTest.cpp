// The settings file and the application paths.
#include "AppTestSupport.h"
#include "core/GlobalObject.h"
#include "core/IniFile.h"
#include "core/MainSettings.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace tarnel {
namespace {

using test::ReadTextFile;
using test::TempDir;
using test::WriteTextFile;

TEST(IniFileTest, KeysAndSectionsMatchWithoutRegardToCase) {
    TempDir dir;
    TIniFile writer(dir / "tarnelmain.ini");
    ASSERT_TRUE(writer.WriteString("settings", "snapOutPutDir", "/a"));
    TIniFile reader(dir / "tarnelmain.ini");
    EXPECT_EQ(reader.ReadString("Settings", "SnapOutPutDir", "none"), "/a");
    ASSERT_TRUE(reader.WriteString("SETTINGS", "SNAPOUTPUTDIR", "/b"));
    EXPECT_EQ(writer.ReadString("settings", "snapOutPutDir", "none"), "/b");
    // One entry, not two spellings of it.
    const std::string text = ReadTextFile(dir / "tarnelmain.ini");
    EXPECT_EQ(text.find("SNAPOUTPUTDIR"), std::string::npos) << text;
    EXPECT_NE(text.find("/b"), std::string::npos) << text;
}

TEST(IniFileTest, EachReadSeesTheFileAsItIsNow) {
    TempDir dir;
    TIniFile ini(dir / "a.ini");
    EXPECT_EQ(ini.ReadInteger("settings", "volume", 7), 7);
    WriteTextFile(dir / "a.ini", "[settings]\nvolume=33\n");
    EXPECT_EQ(ini.ReadInteger("settings", "volume", 7), 33);
    WriteTextFile(dir / "a.ini", "[settings]\nvolume=34\nmute=1\n");
    EXPECT_EQ(ini.ReadInteger("settings", "volume", 7), 34);
}

TEST(IniFileTest, GarbageLinesAndBadNumbersFallBackToDefaults) {
    TempDir dir;
    WriteTextFile(dir / "a.ini", "this is no ini line\n\x01\x02\xff garbage\n[settings]\nvolume=loud\n"
                                 "=no key\npriority = 2 \n[lstformat]\n0=0\n1=true\n2=maybe\n");
    TIniFile ini(dir / "a.ini");
    EXPECT_EQ(ini.ReadInteger("settings", "volume", 5), 5);
    EXPECT_EQ(ini.ReadInteger("settings", "priority", 1), 2);
    EXPECT_FALSE(ini.ReadBool("lstformat", "0", true));
    EXPECT_TRUE(ini.ReadBool("lstformat", "1", false));
    EXPECT_TRUE(ini.ReadBool("lstformat", "2", true));
    // Writing keeps the other settings.
    ASSERT_TRUE(ini.WriteInteger("settings", "volume", 12));
    TIniFile again(dir / "a.ini");
    EXPECT_EQ(again.ReadInteger("settings", "priority", 1), 2);
    EXPECT_EQ(again.ReadInteger("settings", "volume", 0), 12);
}

TEST(IniFileTest, AWriteThatCannotReachTheDiskIsKeptForTheRun) {
    TempDir dir;
    // A folder below a regular file can be made by nobody, not even the superuser.
    WriteTextFile(dir / "settings", "not a folder");
    TIniFile ini(dir / "settings" / "tarnelmain.ini");
    EXPECT_FALSE(ini.WriteInteger("settings", "volume", 99));
    EXPECT_FALSE(ini.LastError().empty());
    EXPECT_EQ(ini.ReadInteger("settings", "volume", 0), 99);
    // Once the disk takes writes again, the kept value goes with the next write.
    std::filesystem::remove(dir / "settings");
    EXPECT_TRUE(ini.WriteInteger("settings", "mute", 1));
    TIniFile reader(dir / "settings" / "tarnelmain.ini");
    EXPECT_EQ(reader.ReadInteger("settings", "volume", 0), 99);
    EXPECT_EQ(reader.ReadInteger("settings", "mute", 0), 1);
}

TEST(IniFileTest, NumberTestsAreStrictAndIgnoreTheLocale) {
    int32_t i = 0;
    double d = 0;
    EXPECT_TRUE(TryStrToInt("-12", i));
    EXPECT_EQ(i, -12);
    for (const char* bad : {"", " 1", "1 ", "1.5", "x", "99999999999"})
        EXPECT_FALSE(TryStrToInt(bad, i)) << bad;
    EXPECT_TRUE(TryStrToFloat("29.97", d));
    EXPECT_DOUBLE_EQ(d, 29.97);
    for (const char* bad : {"", "29,97", "nan", "inf", "1e", "as source"})
        EXPECT_FALSE(TryStrToFloat(bad, d)) << bad;
}

TEST(MainSettingsTest, DefaultsOfAMissingFile) {
    test::TPrivateHome home;
    TMainSettings settings((home.SettingsFolder() / "tarnelmain.ini").string());
    EXPECT_EQ(settings.OutputFolder(), (home.Home() / "Videos" / "tarnelout").string());
    EXPECT_EQ(settings.SnapshotFolder(), settings.OutputFolder());
    EXPECT_EQ(settings.Volume(), 64) << "a first start plays at a volume that is heard";
    EXPECT_FALSE(settings.Mute());
    EXPECT_EQ(settings.FormatName(), "Apple iPod Video MPEG-4 Movie (*.mp4)");
    EXPECT_EQ(settings.FormatCode(), 1);
    EXPECT_TRUE(settings.SnapFullSize() && settings.SnapSmallSize() && settings.SnapBmp() &&
                settings.SnapJpg());
    EXPECT_EQ(settings.JpegQuality(), 30);
    EXPECT_EQ(settings.Priority(), 1);
    EXPECT_TRUE(settings.GroupCollapsed(0));
    EXPECT_EQ(settings.ProfileZoom(404), "lbox");
    EXPECT_FALSE(std::filesystem::exists(home.SettingsFile())) << "reading must not create the file";
}

TEST(MainSettingsTest, VolumeOutsideItsRangeIsShownAs64) {
    test::TPrivateHome home;
    TMainSettings settings(home.SettingsFile().string());
    for (const auto& [stored, shown] :
         std::vector<std::pair<int, int>>{{200, 64}, {-1, 64}, {129, 64}, {128, 128}, {0, 0}}) {
        settings.SetVolume(stored);
        EXPECT_EQ(settings.VolumeShown(), shown) << stored;
    }
}

TEST(GlobalObjectTest, SettersKeepTheirRules) {
    TGlobalObject global;
    EXPECT_EQ(global.AppTitle(), "Tarnelix");
    EXPECT_EQ(global.VersionText(), " ver 1.80 ");
    global.SetAppTitle("");
    global.SetVersionText("");
    global.SetSettingsFile("abc");
    EXPECT_EQ(global.AppTitle(), "Tarnelix");
    EXPECT_EQ(global.VersionText(), " ver 1.80 ");
    EXPECT_EQ(global.SettingsFile(), "");
    global.SetSettingsFile("/a.i");
    EXPECT_EQ(global.SettingsFile(), "/a.i");
}

TEST(GlobalObjectTest, VersionTextRunsMinorReleaseAndBuildTogether) {
    EXPECT_EQ(TGlobalObject::GetFileVersionText("1.8.0.0"), " 1.800 ");
    EXPECT_EQ(TGlobalObject::GetFileVersionText("0.1.0"), " 0.100 ");
    EXPECT_EQ(TGlobalObject::GetFileVersionText("2.10.3.7"), " 2.1037 ");
    EXPECT_EQ(TGlobalObject::RightChars("tarnelout", 3), "out");
    EXPECT_EQ(TGlobalObject::RightChars("ab", 5), "ab");
}

TEST(GlobalObjectTest, FoldersFollowTheUsersDirectories) {
    test::TPrivateHome home;
    EXPECT_EQ(TGlobalObject::GetSpecialFolder(TSpecialFolder::Settings),
              (home.Home() / ".config/tarnel/").string());
    EXPECT_EQ(TGlobalObject::FallbackOutputFolder(), (home.Home() / "tarnelout").string());
    WriteTextFile(home.Home() / ".config/user-dirs.dirs", "# comment\nXDG_VIDEOS_DIR=\"$HOME/Filme\"\n");
    EXPECT_EQ(TGlobalObject::DefaultOutputFolder(), (home.Home() / "Filme/tarnelout").string());
    EXPECT_TRUE(TGlobalObject::IsFolderWritable(home.Home().string()));
    EXPECT_FALSE(TGlobalObject::IsFolderWritable((home.Home() / "missing").string()));
    for (const auto& entry : std::filesystem::directory_iterator(home.Home()))
        EXPECT_NE(entry.path().filename().string().rfind("DA", 0), 0u) << "the test file stays behind";
    EXPECT_FALSE(TGlobalObject::GetLoginName().empty());
}

} // namespace
} // namespace tarnel
