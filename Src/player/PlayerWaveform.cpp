// The waveform shown for files without pictures: the sound just played, one band per channel,
// white on black, started at a rising zero crossing so that the picture stands still.
#include "player/FFPlayer.h"
#include "player/PlaybackSession.h"
#include "player/PlayerDisplay.h"

#include <climits>

extern "C" {
#include <libavutil/time.h>
}

namespace tarnel {

namespace {

int Wrap(int64_t index) {
    const int64_t wrapped = index % kSampleRingSize;
    return static_cast<int>(wrapped < 0 ? wrapped + kSampleRingSize : wrapped);
}

// The ring index of the first sample to draw: far enough back that the whole width has been
// played, moved to the strongest trigger among the last 1000 samples.
int WaveStartLocked(const PlaybackSession& session, int channels, int areaWidth) {
    int64_t delay = (session.AudioBufferSize - session.AudioBufferIndex) / (2 * channels);
    const int64_t callbackTime = session.CallbackTime;
    if (callbackTime != 0)
        delay -= (av_gettime_relative() - callbackTime) * session.AudioSampleRate / 1000000;
    delay += 2 * areaWidth;
    if (delay < areaWidth)
        delay = areaWidth;
    int start = Wrap(session.SampleWriteIndex - delay * channels);
    const std::vector<int16_t>& ring = session.SampleRing;
    int best = INT_MIN;
    const int origin = start;
    for (int i = 0; i < 1000; i += channels) {
        const int index = Wrap(origin - i);
        const int a = ring[index];
        const int b = ring[Wrap(index + 4 * channels)];
        const int c = ring[Wrap(index + 5 * channels)];
        const int d = ring[Wrap(index + 9 * channels)];
        if (a - d > best && ((b ^ c) < 0)) {
            best = a - d;
            start = index;
        }
    }
    return start;
}

} // namespace

void DrawWaveform(PlaybackSession& session, PlayerDisplay& display) {
    const int channels = session.AudioChannels;
    const int width = display.AreaWidth();
    const int height = display.AreaHeight();
    if (channels <= 0 || width <= 0 || height <= 0)
        return;
    std::vector<SDL_Rect> rects;
    rects.reserve(static_cast<size_t>(width) * channels + channels);
    {
        std::lock_guard lock(session.SampleRingMutex);
        if (!session.Paused)
            session.LastWaveStart = WaveStartLocked(session, channels, width);
        const int bandHeight = height / channels;
        const int scale = bandHeight * 9 / 20;
        for (int ch = 0; ch < channels; ++ch) {
            const int centre = ch * bandHeight + bandHeight / 2;
            int index = Wrap(session.LastWaveStart + ch);
            for (int x = 0; x < width; ++x) {
                const int y = (session.SampleRing[index] * scale) >> 15;
                if (y > 0)
                    rects.push_back({x, centre, 1, y});
                else if (y < 0)
                    rects.push_back({x, centre + y, 1, -y});
                index = Wrap(index + channels);
            }
        }
        for (int ch = 1; ch < channels; ++ch)
            rects.push_back({0, ch * bandHeight, width, 1});
    }
    display.ClearArea();
    display.FillWhite(rects);
    display.Present();
}

} // namespace tarnel
