#include "base/UnicodeProtocol.h"

#include <cstdint>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <string_view>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/avstring.h>
}

namespace tarnel {

namespace {

constexpr std::string_view kPseudoPrefix = "unicode:utf8:";
constexpr std::string_view kPassThroughProtocols = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";

// The callbacks avformat_alloc_context installs; every URL that is not ours goes to them.
struct DefaultCallbacks {
    int (*ioOpen)(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) = nullptr;
};

DefaultCallbacks defaults; // written once under readyFlag, read-only afterwards
std::once_flag readyFlag;

const DefaultCallbacks& Defaults() {
    RegisterWideProtocol();
    return defaults;
}

// Every protocol the libraries can read or write (https, rtmp, srt, file, …), listed once.
const std::set<std::string, std::less<>>& LibraryProtocols() {
    static const std::set<std::string, std::less<>> protocols = [] {
        std::set<std::string, std::less<>> names;
        for (const int output : {0, 1}) {
            void* opaque = nullptr;
            while (const char* name = avio_enum_protocols(&opaque, output))
                names.insert(name);
        }
        return names;
    }();
    return protocols;
}

// A name whose text before the first ":" is a protocol of the libraries, or one of the fixed
// pass-through names, goes to the libraries as it is.
bool IsPassThroughUrl(std::string_view name) {
    const size_t colon = name.find(':');
    if (colon == std::string_view::npos)
        return false;
    const std::string_view scheme = name.substr(0, colon);
    std::string enclosed(1, ':');
    enclosed.append(scheme).push_back(':');
    return kPassThroughProtocols.find(enclosed) != std::string_view::npos ||
           LibraryProtocols().count(scheme) != 0;
}

bool LooksLikeProtocol(std::string_view name) {
    const size_t colon = name.find(':');
    return colon != std::string_view::npos && colon < name.find('/');
}

bool IsValidUtf8(std::string_view name) {
    auto* cursor = reinterpret_cast<const uint8_t*>(name.data());
    const auto* end = cursor + name.size();
    while (cursor < end) {
        int32_t code = 0;
        if (av_utf8_decode(&code, &cursor, end, AV_UTF8_FLAG_ACCEPT_NON_CHARACTERS) < 0)
            return false;
    }
    return true;
}

bool IsPseudoUrl(std::string_view libraryName) {
    return libraryName.size() > kPseudoPrefix.size() && libraryName.starts_with(kPseudoPrefix);
}

// The library's own file protocol opens the bytes after "file:" verbatim, so it reads and writes
// any local name. Byte streams opened this way are ordinary library streams: avio_close,
// avformat_close_input and every nested close inside the libraries free them.
std::string FileProtocolUrl(const std::string& libraryName) {
    return "file:" + FromLibraryName(libraryName);
}

int WideIOOpen(AVFormatContext* context, AVIOContext** pb, const char* url, int flags,
               AVDictionary** options) {
    if (!IsPseudoUrl(url))
        return Defaults().ioOpen(context, pb, url, flags, options);
    return Defaults().ioOpen(context, pb, FileProtocolUrl(url).c_str(), flags, options);
}

} // namespace

bool NeedsWideName(const std::string& name) {
    if (IsPassThroughUrl(name))
        return false;
    return LooksLikeProtocol(name) || !IsValidUtf8(name);
}

std::string ToLibraryName(const std::string& name) {
    return NeedsWideName(name) ? std::string(kPseudoPrefix) + name : name;
}

std::string FromLibraryName(const std::string& libraryName) {
    if (!IsPseudoUrl(libraryName))
        return libraryName;
    const size_t secondColon = libraryName.find(':', libraryName.find(':') + 1);
    return libraryName.substr(secondColon + 1);
}

void RegisterWideProtocol() {
    std::call_once(readyFlag, [] {
        AVFormatContext* fresh = avformat_alloc_context();
        if (!fresh)
            throw std::bad_alloc();
        defaults.ioOpen = fresh->io_open;
        avformat_free_context(fresh);
    });
}

void UseWideNameIO(AVFormatContext* context) {
    RegisterWideProtocol();
    context->io_open = &WideIOOpen;
}

int OpenLibraryIO(AVIOContext** pb, const std::string& libraryName, int flags,
                  const AVIOInterruptCB* interrupt, AVDictionary** options) {
    const std::string url = IsPseudoUrl(libraryName) ? FileProtocolUrl(libraryName) : libraryName;
    return avio_open2(pb, url.c_str(), flags, interrupt, options);
}

int CloseLibraryIO(AVIOContext** pb) {
    return avio_closep(pb);
}

int OpenInputContext(AVFormatContext** context, const std::string& fileName, const AVInputFormat* format,
                     AVDictionary** options, const AVIOInterruptCB* interrupt) {
    *context = avformat_alloc_context();
    if (!*context)
        return AVERROR(ENOMEM);
    UseWideNameIO(*context);
    if (interrupt)
        (*context)->interrupt_callback = *interrupt;
    // avformat_open_input frees the context and nulls the pointer on failure.
    return avformat_open_input(context, ToLibraryName(fileName).c_str(), format, options);
}

} // namespace tarnel
