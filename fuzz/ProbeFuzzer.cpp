// Arbitrary bytes as a media file for the probe: opening and analysing it, every record it fills
// and the information text.
#include "FuzzSupport.h"
#include "probe/AVProbe.h"

namespace {

void DescribeEveryStream(tarnel::TAVProbe& probe) {
    tarnel::TFileStreamInfo file;
    probe.FileStreamInfo(file);
    for (int index = -1; index < probe.StreamCount(); ++index) {
        tarnel::TAudioStreamInfo audio;
        tarnel::TVideoStreamInfo video;
        probe.AudioStreamInfo(index, audio);
        probe.VideoStreamInfo(index, video);
        probe.IsAudioStream(index);
        probe.IsVideoStream(index);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tarnel::fuzz::LoadQuietly(tarnel::kConverterLibraries);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarnel::fuzz;
    const std::string input = WriteScratchInput(data, size, ".probe");
    if (input.empty())
        return 0;
    tarnel::TAVProbe probe;
    if (!probe.Open(input))
        return 0;
    DescribeEveryStream(probe);
    const std::string text = probe.InfoText();
    if (text.empty())
        std::abort(); // an open file always has a description
    return 0;
}
