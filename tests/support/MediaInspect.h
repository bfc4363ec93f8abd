// Reads a media file back the way a player would, for tests that check what a conversion wrote.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tarnel::test {

struct StreamFacts {
    std::string type;  // "video", "audio", "subtitle", "data"
    std::string codec; // the codec's short name ("h264", "aac", ...)
    int width = 0;
    int height = 0;
    int sampleRate = 0;
    int channels = 0;
    long long packets = 0;
    double firstTime = -1; // seconds, of the first packet with a timestamp
    double endTime = -1;   // seconds, pts + duration of the last packet
    int profile = -99;     // the codec's profile number (FF_PROFILE_*), -99 when unknown
    int level = -99;
    int sampleAspectNum = 0;
    int sampleAspectDen = 0;
    std::string pixelFormat; // video: the pixel format's name ("yuv420p"), empty when unknown
    std::string language;    // the "language" tag
    bool attachedPicture = false;
    bool displayMatrix = false; // the stream asks players to turn its pictures
};

struct MediaFacts {
    bool opened = false;
    std::string format;   // the demuxer's name
    double duration = -1; // seconds, as the container reports it
    std::vector<StreamFacts> streams;
    std::map<std::string, std::string> tags; // the file's tags, keys in lower case
    int chapters = 0;
    const StreamFacts* First(const std::string& type) const;
    int Count(const std::string& type) const;
};

// Opens `path`, reads every packet and describes what it found (opened false when it cannot).
MediaFacts InspectMedia(const std::string& path);

} // namespace tarnel::test
