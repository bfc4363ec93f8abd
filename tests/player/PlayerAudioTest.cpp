// The mixed sound, as SDL's "disk" driver writes it: volume and mute.
#include "PlayerSupport.h"
#include "TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

namespace tarnel {
namespace {

using namespace std::chrono_literals;
using test::Fixtures;
using test::RecordingPlayer;

// Plays the first second of the audio fixture through the disk driver and returns the largest
// sample written.
int PeakOfMixedSound(int volume, bool mute) {
    test::DiskAudio audio;
    {
        RecordingPlayer rec;
        rec.player.SetAudioVolume(volume);
        rec.player.SetMute(mute);
        EXPECT_TRUE(rec.Open(Fixtures().audioOnly)) << rec.player.LastError();
        EXPECT_TRUE(rec.WaitForPosition(1000000));
    }
    const std::vector<int16_t> samples = audio.Samples();
    int peak = 0;
    for (const int16_t sample : samples)
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    EXPECT_GT(samples.size(), 44100u) << "volume " << volume;
    return peak;
}

TEST(PlayerAudio, VolumeScalesTheMixedSamplesAndMuteSilencesThem) {
    const int full = PeakOfMixedSound(128, false);
    EXPECT_NEAR(full, 16384, 1700); // the fixture's tone is at half full scale
    EXPECT_NEAR(PeakOfMixedSound(64, false), full / 2, full / 20);
    EXPECT_EQ(PeakOfMixedSound(0, false), 0);
    EXPECT_EQ(PeakOfMixedSound(128, true), 0);
}

} // namespace
} // namespace tarnel
