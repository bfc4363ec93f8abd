// From a file-list row, the current output profile and the user's choices for it to the option
// records of a conversion task: container, encoders, disc or DV target, bit rates, sample rate,
// channels, volume, frame rate, frame size, aspect ratio, crop and the letterbox or padding filter.
#pragma once

#include "converter/TaskOptions.h"
#include "probe/AVProbe.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnel {

class TAVProbe;
class TMainSettings;
class TProfileFile;
class TShellServices;
struct TlvFilesRecord;

// What the mapping reads of the source file (the probe's picture and first audio stream); -1 where
// the file has no such stream or value. Width and height are those of the upright picture.
struct TSourceFacts {
    int32_t VideoStreamCount = -1;
    int32_t Width = -1;
    int32_t Height = -1;
    int32_t VideoBitRate = -1; // bit/s
    int32_t SampleRate = -1;   // Hz
    int32_t AudioBitRate = -1; // bit/s
    int32_t AudioChannels = -1;
    // Every stream of the file; empty when the facts do not come from a probe, and then the
    // engine chooses the streams itself.
    std::vector<TStreamSummary> Streams;
    std::string FileName;

    static TSourceFacts FromProbe(TAVProbe& probe);
};

struct TMappingContext {
    TMainSettings& Settings;
    TProfileFile& Profiles;
    TShellServices& Services;  // asks the frame-size question
    bool KeepNames = false;    // outputs are named as their sources, never overwriting a file
    bool SkipExisting = false; // a source whose output exists already is skipped as done
};

// Fills `output` and `input` (already holding file names, start time, crop fields and duration)
// for profile `code`. Values that must be numbers and are not raise std::invalid_argument; a source
// the profile cannot convert raises TSourceRefused (StreamChoices.h).
void BuildTaskOptions(const TlvFilesRecord& row, int32_t code, TOutputOptions& output,
                      const TSourceFacts& source, TInputOptions& input, TMappingContext& context);

// True when `value` lies in the profile's list for `kind` ("audiosamplerate", "audiobitrate",
// "videobitrate"), from its first number to its last; the bit rates are compared in kbit/s.
bool ValueFitsProfileRange(TProfileFile& profiles, int32_t code, const std::string& kind, double value);

struct TPaddings {
    int32_t Top = 0;
    int32_t Bottom = 0;
    int32_t Left = 0;
    int32_t Right = 0;
};
// The letterbox paddings of a sw × sh source in a W × H frame.
TPaddings LetterboxPaddings(int32_t sw, int32_t sh, int32_t W, int32_t H);

} // namespace tarnel
