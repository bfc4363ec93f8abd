// The mixed sound, as SDL's "disk" driver writes it: volume and mute.
#include "PlayerSupport.h"
#include "TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace tarnel {
namespace {

using namespace std::chrono_literals;
using test::Fixtures;
using test::RecordingPlayer;
using test::TempDir;

// Plays the first second of the audio fixture through the disk driver and returns the largest
// sample written.
int PeakOfMixedSound(int volume, bool mute) {
    TempDir dir;
    const std::string output = (dir / "mixed.raw").string();
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", output.c_str(), 1);
    {
        RecordingPlayer rec;
        rec.player.SetAudioVolume(volume);
        rec.player.SetMute(mute);
        EXPECT_TRUE(rec.Open(Fixtures().audioOnly)) << rec.player.LastError();
        EXPECT_TRUE(rec.WaitForPosition(1000000));
    }
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    std::ifstream in(output, std::ios::binary);
    int peak = 0;
    size_t samples = 0;
    for (int16_t sample; in.read(reinterpret_cast<char*>(&sample), sizeof sample);) {
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
        ++samples;
    }
    EXPECT_GT(samples, 44100u) << "volume " << volume;
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
