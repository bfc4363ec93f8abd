// "tarnel-cli play FILE": plays a file in a window of its own and prints each player event as a line.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace tarnel::cli {

struct PlayOptions {
    std::string file;
    std::optional<double> seekSeconds;  // start here, seconds from the start of the file
    std::optional<double> untilSeconds; // close once a reported position reaches it
    std::string snapshot;               // "SECONDS:PATH.bmp": the picture shown at SECONDS; empty: none
    bool noAudio = false;
    bool noVideo = false;
};

// Plays options.file and writes one line per player event to `out`, in the order they happen:
// "state play", "state pause", …, "position 1.234" (seconds), "state end" and finally "state stop".
// The player closes after the end, at --until, or on SIGINT/SIGTERM (blocked in the calling thread
// and in the player's threads meanwhile). Without a display (neither DISPLAY nor WAYLAND_DISPLAY),
// SDL's video and audio drivers default to "dummy". Returns 0 after a normal end, 1 with a message
// on `err` on a failure (a file that cannot be played, a bad option, a snapshot that cannot be
// taken or written), 130 when interrupted.
int RunPlayCommand(const PlayOptions& options, std::ostream& out, std::ostream& err);

} // namespace tarnel::cli
