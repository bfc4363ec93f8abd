// The two-pass statistics files: the first pass writes the encoder's statistics, the second pass
// hands the whole file to the encoder.
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "engine/FFmpeg.h"

#include <cerrno>

extern "C" {
#include <libavutil/mem.h>
}

namespace tarnel {

namespace {

constexpr size_t kMaxFileNameLength = 1023;

} // namespace

std::string TCustomFFmpeg::PassLogFileName(int outputStreamIndex) const {
    const std::string& prefix = Opt.PassLogPrefix.empty() ? std::string("ffmpeg2pass") : Opt.PassLogPrefix;
    std::string name = Format("%s-%d.log", prefix.c_str(), outputStreamIndex);
    if (name.size() > kMaxFileNameLength)
        name.resize(kMaxFileNameLength);
    return name;
}

CFilePtr TCustomFFmpeg::CreatePassOneLog(int outputStreamIndex) const {
    const std::string name = PassLogFileName(outputStreamIndex);
    CFilePtr file(std::fopen(name.c_str(), "wb"));
    if (!file)
        throw FFmpegException(Format("Cannot write log file %s for pass-1 encoding", name.c_str()));
    return file;
}

void TCustomFFmpeg::LoadPassTwoLog(AVCodecContext* codec, int outputStreamIndex) const {
    const std::string name = PassLogFileName(outputStreamIndex);
    const std::string readError =
        Format("Cannot read file: Error reading log file \"%s\" for pass-2 encoding", name.c_str());
    CFilePtr file(std::fopen(name.c_str(), "rb"));
    if (!file || std::fseek(file.get(), 0, SEEK_END) != 0)
        throw FFmpegException(readError);
    const long size = std::ftell(file.get());
    if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0)
        throw FFmpegException(readError);
    LibraryMemPtr<char> buffer(static_cast<char*>(av_malloc(static_cast<size_t>(size) + 1)));
    if (!buffer)
        throw FFmpegException(
            Format("Could not allocate file buffer: Error reading log file \"%s\" for pass-2 encoding",
                   name.c_str()));
    if (std::fread(buffer.get(), 1, static_cast<size_t>(size), file.get()) != static_cast<size_t>(size))
        throw FFmpegException(readError);
    buffer.get()[size] = '\0';
    av_freep(&codec->stats_in);
    codec->stats_in = buffer.release();
}

} // namespace tarnel
