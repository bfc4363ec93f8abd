// File names for the media libraries. A name the libraries would misread (a ":" before the first
// "/", so the text before it looks like a protocol, or bytes that are not valid UTF-8) is handed
// over as "unicode:utf8:" + name. The libraries cannot register that protocol, so every open made
// through this module (including the libraries' own nested opens on contexts given
// UseWideNameIO) turns the pseudo-URL into "file:" + name for the libraries' file protocol, which
// opens the bytes verbatim. The byte streams are ordinary library streams: avio_close and
// avformat_close_input free them.
//
// Inputs: OpenInputContext, closed with avformat_close_input (InputContextPtr owns one).
// Outputs: give the output context UseWideNameIO and url = ToLibraryName(name) (muxers that reopen
// their file, such as mp4 with faststart, go through the context's callbacks), open its pb with
// OpenLibraryIO and close it with CloseLibraryIO after av_write_trailer.
#pragma once

#include "base/LibHandles.h"

#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

namespace tarnel {

// False for a URL of a protocol the libraries know (https, rtmp, srt, file, …) or one of the fixed
// pass-through names (":unicode:stream:gopher:http:pipe:rtp:tcp:udp:"); otherwise true when the
// name needs the "unicode:utf8:" form.
bool NeedsWideName(const std::string& name);
// The name for the libraries: the pseudo-URL when NeedsWideName, else the name unchanged.
std::string ToLibraryName(const std::string& name);
// The file name back from a library name (the pseudo-URL prefix removed).
std::string FromLibraryName(const std::string& libraryName);

// Readies the wide-name layer (idempotent, thread-safe). The loader calls it after the format
// library is ready; the functions below call it too.
void RegisterWideProtocol();

// Makes `context` open every byte stream through this layer, so that the libraries'
// own nested opens handle pseudo-URLs too; every URL goes on to the library's own callback, so a
// pseudo-URL is refused where the context's protocol white or black list refuses "file". Call
// before avformat_open_input or avio opening.
void UseWideNameIO(AVFormatContext* context);

// Opens a byte stream for `libraryName` (a name from ToLibraryName) with AVIO_FLAG_* flags: a
// pseudo-URL as the local file it names, anything else as the URL itself (avio_open2). Returns 0
// or a negative library error code (AVERROR(ENOENT) for a missing file opened for reading).
// Writing creates or truncates the file.
int OpenLibraryIO(AVIOContext** pb, const std::string& libraryName, int flags,
                  const AVIOInterruptCB* interrupt = nullptr, AVDictionary** options = nullptr);
// Flushes and closes a byte stream from OpenLibraryIO and sets *pb to null. Returns 0 or a
// negative library error code.
int CloseLibraryIO(AVIOContext** pb);

// Opens an input format context for a file name (not yet converted) through the layer: the
// counterpart of avformat_open_input. On failure *context is null and the library code is returned.
// Close it with avformat_close_input (InputContextPtr owns one).
// `interrupt`, when given, is the context's interrupt callback during and after the open.
int OpenInputContext(AVFormatContext** context, const std::string& fileName, const AVInputFormat* format,
                     AVDictionary** options, const AVIOInterruptCB* interrupt = nullptr);

} // namespace tarnel
