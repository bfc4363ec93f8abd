// Which of a source's streams an output keeps, and how: the moving picture or the cover, the first
// or every audio track, and the subtitles the container can hold (copied, or converted to the text
// format it takes). A container that cannot hold a kind of stream leaves it out with one log line,
// so a subtitle stream never fails a conversion.
#pragma once

#include "converter/TaskOptions.h"
#include "probe/AVProbe.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace tarnel {

// A source the chosen profile cannot convert (for example a video profile for sound without any
// picture). The batch skips the file with this reason and goes on.
class TSourceRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TStreamChoiceRequest {
    const std::vector<TStreamSummary>& Streams;
    std::string Format;  // the profile's container ("matroska", "mp4", "mp3" …), lower case
    std::string Source;  // the source's file name, for log lines and reasons
    bool AudioOnly;      // an audio profile
    bool AllAudioTracks; // the profile's "Audio tracks" choice is "All"
};

// The first stream the output takes as its picture: a moving picture, else a cover; null for none.
const TStreamSummary* PictureSource(const std::vector<TStreamSummary>& streams);

// Sets the output's stream choices: subtitle codec or its absence, extra audio and subtitle
// streams, the stream maps when the source has a choice to make, and what an audio profile keeps
// of a cover. Throws TSourceRefused when a video profile has no picture to convert, or an audio
// profile no sound.
void ApplyStreamChoices(const TStreamChoiceRequest& request, TOutputOptions& output, TInputOptions& input);

} // namespace tarnel
