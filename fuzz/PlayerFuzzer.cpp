// Arbitrary bytes as a file for the player, on SDL's dummy drivers (no display, no sound): opening
// it starts the reading, decoding and refresh threads; two waited seeks and a frame step drive the
// reader's seeking and the decoders' flushing before the session is closed.
#include "FuzzSupport.h"
#include "player/FFPlayer.h"

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<int64_t> openedDuration{0};

tarnel::TFFPlayer& Player() {
    static tarnel::TFFPlayer* player = [] {
        auto* made = new tarnel::TFFPlayer; // lives for the whole run, like the desktop program's
        made->LoadLibraries("");
        made->SetTriggerEventInMainThread(false);
        made->OnFileOpen = [](tarnel::TCustomPlayer&, int64_t duration, int, int, int&, int&) {
            openedDuration = duration;
        };
        return made;
    }();
    return *player;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    tarnel::fuzz::LoadQuietly(tarnel::kPlayerLibraries);
    Player();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarnel::fuzz;
    const std::string input = WriteScratchInput(data, size, ".play");
    if (input.empty())
        return 0;
    tarnel::TFFPlayer& player = Player();
    openedDuration = 0;
    if (!player.Open(input))
        return 0;
    const int64_t duration = openedDuration.load();
    player.Seek(duration > 0 ? duration / 2 : 1'000'000, 0, true);
    player.Seek(0, 0, true);
    player.StepFrame();
    player.Close(true);
    return 0;
}
