// The preview volume in the main settings: its value on a first start and what a stored one gives.
#include "core/MainSettings.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace tarnel {
namespace {

TEST(MainSettings, VolumeIsHalfWayWhenNoneIsStored) {
    test::TPrivateHome home;
    TMainSettings settings(home.SettingsFile().string());
    EXPECT_EQ(settings.Volume(), 64);
    EXPECT_EQ(settings.VolumeShown(), 64);
    settings.File().WriteString(kSettingsSection, "mute", "1");
    EXPECT_EQ(settings.Volume(), 64) << "another key in the section stores no volume";
}

TEST(MainSettings, StoredVolumeIsKeptEvenWhenSilent) {
    test::TPrivateHome home;
    TMainSettings settings(home.SettingsFile().string());
    for (const int32_t stored : {0, 1, 100, 128}) {
        ASSERT_TRUE(settings.SetVolume(stored));
        EXPECT_EQ(settings.Volume(), stored);
        EXPECT_EQ(settings.VolumeShown(), stored);
        TMainSettings reopened(home.SettingsFile().string());
        EXPECT_EQ(reopened.Volume(), stored);
    }
}

} // namespace
} // namespace tarnel
