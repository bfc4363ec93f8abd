#include "TaskOptionsBuilder.h"

#include "FilesRecord.h"
#include "IniFile.h"
#include "MainSettings.h"
#include "ProfileChoices.h"
#include "ProfileFile.h"
#include "ShellServices.h"
#include "StreamChoices.h"
#include "probe/AVProbe.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace tarnel {

namespace {

constexpr const char* kAsSource = "as source";

bool OneOf(const std::string& value, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (value == name)
            return true;
    return false;
}

bool IsInteger(const std::string& text) {
    int32_t ignored = 0;
    return TryStrToInt(text, ignored);
}

bool IsNumber(const std::string& text) {
    double ignored = 0;
    return TryStrToFloat(text, ignored);
}

// A conversion without a test first: a text that is no integer is an error of the settings.
int32_t StrToInt(const std::string& text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value))
        throw std::invalid_argument("'" + text + "' is not a valid integer value");
    return value;
}

double StrToFloat(const std::string& text) {
    double value = 0;
    if (!TryStrToFloat(text, value))
        throw std::invalid_argument("'" + text + "' is not a valid floating point value");
    return value;
}

// A bit rate given in kbit/s, in bit/s; 0 for none above zero. A rate beyond what fits the option
// records is an error of the settings, like a text that is no number.
int32_t KbpsToBps(double kbps, const std::string& text) {
    const double bps = std::trunc(kbps * 1000);
    if (!(bps <= std::numeric_limits<int32_t>::max()))
        throw std::invalid_argument("'" + text + "' is out of range for a bit rate");
    return bps > 0 ? static_cast<int32_t>(bps) : 0;
}

int32_t Even(int32_t value) {
    return 2 * (value / 2);
}

std::string Size(int32_t w, int32_t h) {
    return std::to_string(w) + "x" + std::to_string(h);
}

std::string Ratio(int32_t w, int32_t h) {
    return std::to_string(w) + ":" + std::to_string(h);
}

// The decimal texts of the NTSC rates stand for their exact fractions: "29.97" read literally is
// 2997/100, which drifts against the sound and is refused by DV.
std::string ExactFrameRate(const std::string& text) {
    if (text == "29.97")
        return "30000/1001";
    if (text == "23.976" || text == "23.98")
        return "24000/1001";
    if (text == "59.94")
        return "60000/1001";
    return text;
}

void AppendLine(std::string& text, const std::string& line) {
    if (!text.empty())
        text += "\n";
    text += line;
}

struct TLocal {
    const TlvFilesRecord& Row;
    int32_t Code;
    TOutputOptions& Output;
    const TSourceFacts& Source;
    TInputOptions& Input;
    TMappingContext& Context;
    TProfileChoices Choices;
    std::string Format; // the profile's "Format" as read
};

void ApplyDiscTarget(TLocal& m) {
    const std::string format = LowerCase(m.Format);
    const std::string size = m.Choices.Read("paraVideoSize", "null");
    struct TDisc {
        const char* Format;
        int32_t Target;
        int32_t Norm;
        const char* WideSize; // the size that makes a DVD 16:9
    };
    static const TDisc kDiscs[] = {{"ntsc-dvd", 3, 2, "720x480"}, {"pal-dvd", 3, 1, "720x576"},
                                   {"ntsc-vcd", 1, 2, nullptr},   {"pal-vcd", 1, 1, nullptr},
                                   {"ntsc-svcd", 2, 2, nullptr},  {"pal-svcd", 2, 1, nullptr}};
    for (const TDisc& disc : kDiscs)
        if (format == disc.Format) {
            m.Output.Target = disc.Target;
            m.Output.TVNorm = disc.Norm;
            m.Output.FrameAspectRatio = disc.WideSize && size == disc.WideSize ? "16:9" : "4:3";
        }
    // DV in its norm's picture: 4:1:1 for NTSC, which the encoder only takes through the target.
    if (format == "ntsc-dv" || format == "pal-dv") {
        m.Output.Target = 4;
        m.Output.TVNorm = format == "pal-dv" ? 1 : 2;
    }
}

void ApplyChannels(TLocal& m, bool onlyPositive) {
    const std::string channels = m.Choices.Read("paraChannel", "2");
    int32_t value = 0;
    if (channels != kAsSource && TryStrToInt(channels, value) && (!onlyPositive || value > 0))
        m.Output.AudioChannels = value;
}

// 256 is the engine's "unchanged"; a profile without a volume choice keeps the sound as it is.
void ApplyVolume(TLocal& m) {
    const std::string volume = m.Choices.Read("paraVolume", "256");
    if (volume != "256")
        m.Output.AudioVolume = StrToInt(volume);
}

void ApplySampleRate(TLocal& m) {
    const std::string rate = m.Choices.Read("paraSampleRate", "44100");
    if (rate != kAsSource && IsInteger(rate)) {
        if (StrToInt(rate) > 0)
            m.Output.AudioSampleRate = StrToInt(rate);
        return;
    }
    if (ValueFitsProfileRange(m.Context.Profiles, m.Code, "audiosamplerate", m.Source.SampleRate)) {
        m.Output.AudioSampleRate = m.Source.SampleRate;
        return;
    }
    const std::string fallback = m.Context.Profiles.ReadString(m.Code, "paraSampleRate", "44100");
    if (LowerCase(fallback) != kAsSource && StrToInt(fallback) > 0)
        m.Output.AudioSampleRate = StrToInt(fallback);
}

void SetAudioBitrateKbps(TLocal& m, const std::string& text) {
    if (Trim(text).empty())
        return;
    if (const int32_t bps = KbpsToBps(StrToFloat(text), text); bps > 0)
        m.Output.AudioBitrate = bps;
}

void ApplyAudioBitrate(TLocal& m) {
    const std::string bitrate = m.Choices.Read("paraAudioBitRate", "128");
    if (bitrate != kAsSource && (IsNumber(bitrate) || IsInteger(bitrate))) {
        SetAudioBitrateKbps(m, bitrate);
        return;
    }
    if (ValueFitsProfileRange(m.Context.Profiles, m.Code, "audiobitrate", m.Source.AudioBitRate)) {
        m.Output.AudioBitrate = m.Source.AudioBitRate;
        return;
    }
    const std::string fallback = m.Context.Profiles.ReadString(m.Code, "paraAudioBitRate", "128");
    if (LowerCase(fallback) != kAsSource)
        SetAudioBitrateKbps(m, fallback);
}

void ApplyAudioOnly(TLocal& m) {
    m.Output.AudioCodec = m.Choices.Read("paraAudioEncoder", "libfaac");
    const std::string format = LowerCase(m.Format);
    if (OneOf(format, {"amr", "ac3", "asf", "aiff", "au", "voc", "flac", "flv", "avi", "matroska", "mmf"}))
        m.Output.ForceFormat = format;
    ApplyChannels(m, true);
    // The Opus encoder takes surround sound only in channel orders the decoders of other formats do
    // not deliver (5.1 with back rather than side channels); such sound is mixed down to stereo
    // instead of failing the file.
    if (m.Output.AudioCodec == "libopus" && m.Output.AudioChannels <= 0 && m.Source.AudioChannels > 2)
        m.Output.AudioChannels = 2;
    ApplySampleRate(m);
    ApplyAudioBitrate(m);
    ApplyVolume(m);
    m.Input.ExtOptions = "vn=1";
    m.Output.DisableVideo = true;
    m.Output.DisableSubtitle = true;
}

bool AllAudioTracks(TLocal& m) {
    return LowerCase(Trim(m.Context.Settings.AudioTracks(m.Code))) == "all";
}

void ApplyStreams(TLocal& m, bool audioOnly) {
    if (m.Source.Streams.empty())
        return;
    ApplyStreamChoices(
        {m.Source.Streams, LowerCase(m.Format), m.Source.FileName, audioOnly, AllAudioTracks(m)}, m.Output,
        m.Input);
}

// Players, TVs, phones and browsers expect 8-bit 4:2:0 pictures: 10-bit, 4:2:2 and 4:4:4 sources
// are converted unless the profile names its own pixel format. Disc and DV targets set theirs.
void ApplyPixelFormat(TLocal& m) {
    if (m.Output.Target != 0)
        return;
    const std::string own = Trim(m.Context.Profiles.ReadString(m.Code, "paraPixelFormat", ""));
    m.Output.PixelFormat = own.empty() ? "yuv420p" : own;
}

void ApplyVideoEncoder(TLocal& m, const std::string& encoder) {
    if (OneOf(encoder, {"mpeg4",     "libxvid", "mpeg1video", "mpeg2video", "msmpeg4",    "msmpeg4v1",
                        "msmpeg4v2", "huffyuv", "dvvideo",    "rawvideo",   "h263p",      "h263",
                        "rv10",      "rv20",    "ljpeg",      "mjpeg",      "svq1",       "zlib",
                        "wmv1",      "wmv2",    "libx264",    "libx265",    "libvpx-vp9", "libsvtav1"}))
        m.Output.VideoCodec = encoder;
    if (encoder == "libx265") {
        m.Output.VideoTag = "hvc1"; // Apple's players open HEVC in MP4 only with this tag
        AppendLine(m.Output.ExtOptions, "preset=fast");
    }
    if (encoder == "libvpx-vp9") // libvpx's defaults take minutes for every second of picture
        for (const char* line : {"deadline=good", "cpu-used=4", "row-mt=1"})
            AppendLine(m.Output.ExtOptions, line);
    if (encoder == "mpeg2video")
        m.Output.Target = 3;
    if (encoder != "libx264")
        return;
    const std::string format = LowerCase(m.Format);
    m.Output.VideoPreset = format == "psp"    ? "libx264-psp"
                           : format == "ipod" ? "libx264-ipod"
                           : format == "ps3"  ? "libx264-ps3"
                                              : "libx264-mp4";
}

// The profile's own H.264 limits, applied after the preset: the profile (baseline or main), the
// level, the entropy coder, the key-frame distance and the rate-control buffer.
void ApplyH264Limits(TLocal& m) {
    if (m.Output.VideoCodec != "libx264")
        return;
    TProfileFile& profiles = m.Context.Profiles;
    const std::string profile = LowerCase(Trim(profiles.ReadString(m.Code, "paraProfile", "")));
    if (profile == "baseline")
        for (const char* line : {"coder=0", "bf=0", "flags2=-dct8x8", "wpredp=0"})
            AppendLine(m.Output.ExtOptions, line);
    else if (profile == "main")
        AppendLine(m.Output.ExtOptions, "flags2=-dct8x8");
    int32_t value = 0;
    if (TryStrToInt(Trim(profiles.ReadString(m.Code, "paraLevel", "")), value) && value > 0)
        AppendLine(m.Output.ExtOptions, "level=" + std::to_string(value));
    if (TryStrToInt(Trim(profiles.ReadString(m.Code, "paraCoder", "")), value) && value >= 0 &&
        profile != "baseline")
        AppendLine(m.Output.ExtOptions, "coder=" + std::to_string(value));
    if (TryStrToInt(Trim(profiles.ReadString(m.Code, "paraGop", "")), value) && value > 0)
        m.Output.GOPSize = value;
    if (TryStrToInt(Trim(profiles.ReadString(m.Code, "paraMaxBitrate", "")), value) && value > 0)
        m.Output.VideoMaxRate = value;
    if (TryStrToInt(Trim(profiles.ReadString(m.Code, "paraBufferSize", "")), value) && value > 0)
        m.Output.VideoBufferSize = value;
}

void ApplyVideoBitrate(TLocal& m) {
    const std::string bitrate = m.Choices.Read("paraVideoBitRate", "512");
    if (bitrate != kAsSource && IsInteger(bitrate)) {
        if (const int32_t bps = KbpsToBps(StrToInt(bitrate), bitrate); bps > 0)
            m.Output.VideoBitrate = bps;
        return;
    }
    if (ValueFitsProfileRange(m.Context.Profiles, m.Code, "videobitrate", m.Source.VideoBitRate)) {
        m.Output.VideoBitrate = m.Source.VideoBitRate;
        return;
    }
    const std::string fallback = m.Context.Profiles.ReadString(m.Code, "paraVideoBitRate", "256");
    if (LowerCase(fallback) == kAsSource)
        return;
    if (const int32_t bps = KbpsToBps(StrToInt(fallback), fallback); bps > 0)
        m.Output.VideoBitrate = bps;
}

void ApplyFrameRate(TLocal& m) {
    const std::string rate = m.Choices.Read("paraFrameRate", "29.97");
    double value = 0;
    if (rate != kAsSource && TryStrToFloat(rate, value) && value > 0)
        m.Output.FrameRate = ExactFrameRate(rate);
}

void ApplyContainer(TLocal& m) {
    if (OneOf(LowerCase(m.Format),
              {"ipod", "3gp", "3g2", "avi", "psp", "mov", "vcd", "flv", "mpegts", "vob", "asf", "dv"}))
        m.Output.ForceFormat = m.Format;
}

struct TFrame {
    int32_t W;
    int32_t H;
};

TFrame TargetSize(TLocal& m) {
    const int32_t sw = m.Source.Width;
    const int32_t sh = m.Source.Height;
    const std::string size = m.Choices.Read("paraVideoSize", "null");
    if (size == kAsSource)
        return {sw, sh};
    const size_t x = size.find('x');
    if (x == std::string::npos || x == 0 || x + 1 >= size.size()) {
        if (m.Context.Services.AskYesNo("Error output Video Size.Use the default size 320x240?", "Warning"))
            return {320, 240};
        return {sw, sh};
    }
    const std::string width = size.substr(0, x);
    const std::string height = size.substr(x + 1);
    TFrame frame{IsInteger(width) ? StrToInt(width) : sw, IsInteger(height) ? StrToInt(height) : sh};
    static const std::string kH263Sizes = "704x576,352x288,176x144,160x120,128x96";
    if (LowerCase(m.Output.VideoCodec) == "h263" && kH263Sizes.find(size) == std::string::npos) {
        if (frame.W > 176 && frame.W <= 352)
            frame = {352, 288};
        else if (frame.W > 352)
            frame = {704, 576};
    }
    return frame;
}

bool RowHasCrop(const TlvFilesRecord& row) {
    return row.CropTop > 0 || row.CropBottom > 0 || row.CropLeft > 0 || row.CropRight > 0;
}

std::string ZoomFull(TLocal& m, TFrame f) {
    const TlvFilesRecord& row = m.Row;
    if (RowHasCrop(row)) {
        m.Output.CropTop = row.CropTop;
        m.Output.CropBottom = row.CropBottom;
        m.Output.CropLeft = row.CropLeft;
        m.Output.CropRight = row.CropRight;
    }
    m.Output.FrameSize = Size(f.W, f.H);
    m.Output.FrameAspectRatio = Ratio(f.W, f.H);
    return {};
}

std::string ZoomLetterbox(TLocal& m, TFrame f) {
    const TlvFilesRecord& row = m.Row;
    const int32_t sw = m.Source.Width;
    const int32_t sh = m.Source.Height;
    const TPaddings p = LetterboxPaddings(sw, sh, f.W, f.H);
    const int32_t innerW = f.W - p.Left - p.Right;
    const int32_t innerH = f.H - p.Top - p.Bottom;
    m.Output.FrameAspectRatio = Ratio(innerW, innerH);
    const std::string pad = "pad=" + std::to_string(f.W) + ":" + std::to_string(f.H) + ":" +
                            std::to_string(p.Left) + ":" + std::to_string(p.Top);
    if (!RowHasCrop(row)) {
        m.Output.FrameSize = Size(innerW, innerH);
        return pad;
    }
    // The filter cuts the picture itself; the engine's own crop would cut it a second time. The
    // crop filter takes the kept width and height first, then the offsets of the kept part.
    m.Output.CropTop = m.Output.CropBottom = m.Output.CropLeft = m.Output.CropRight = 0;
    return "crop=" + std::to_string(sw - row.CropLeft - row.CropRight) + ":" +
           std::to_string(sh - row.CropTop - row.CropBottom) + ":" + std::to_string(row.CropLeft) + ":" +
           std::to_string(row.CropTop) + ",scale=" + std::to_string(innerW) + ":" + std::to_string(innerH) +
           "," + pad;
}

// Pan and scan towards 4:3: the longer side of the cropped picture loses what makes it longer than
// 4:3, half on each side, in even pixels, on top of the row's own crop of the first side.
std::string ZoomPan(TLocal& m, TFrame f) {
    const TlvFilesRecord& row = m.Row;
    const long double w = m.Source.Width - row.CropLeft - row.CropRight;
    const long double h = m.Source.Height - row.CropTop - row.CropBottom;
    if (w > 0 && h > 0) {
        const long double ratio = w / h;
        const long double target = 4.0L / 3.0L;
        if (ratio > target) {
            const auto amount = static_cast<int32_t>(std::trunc((w - h * target) / 2));
            m.Output.CropLeft = m.Output.CropRight = Even(amount + row.CropLeft);
        } else if (ratio < target) {
            const auto amount = static_cast<int32_t>(std::trunc((h - w / target) / 2));
            m.Output.CropTop = m.Output.CropBottom = Even(amount + row.CropTop);
        }
    }
    m.Output.FrameSize = Size(f.W, f.H);
    m.Output.FrameAspectRatio = Ratio(f.W, f.H);
    return {};
}

int32_t FitPad(int32_t target, int32_t source, double k) {
    if (!(k > 0) || !std::isfinite(k))
        return 0;
    const auto fit = 2 * (static_cast<int32_t>(std::trunc(source / k)) / 2);
    return 2 * ((target - fit) / 4);
}

std::string ZoomCentre(TLocal& m, TFrame f) {
    const int32_t sw = m.Source.Width;
    const int32_t sh = m.Source.Height;
    const int32_t W = f.W;
    const int32_t H = f.H;
    const double rw = static_cast<double>(sw) / W;
    const double rh = static_cast<double>(sh) / H;
    const int32_t padV = FitPad(H, sh, rw);
    const int32_t padH = FitPad(W, sw, rh);
    std::string filter;
    const auto apply = [&](int32_t frameW, int32_t frameH, int32_t padW, int32_t padHt, int32_t x,
                           int32_t y) {
        m.Output.FrameSize = Size(frameW, frameH);
        m.Output.FrameAspectRatio = Ratio(W, H);
        filter = "pad=" + std::to_string(padW) + ":" + std::to_string(padHt) + ":" + std::to_string(x) + ":" +
                 std::to_string(y) + ":black";
    };
    const auto vertical = [&] {
        apply(W, H - 2 * padV, sw, sh + 2 * padV, 0, padV);
    };
    const auto horizontal = [&] {
        apply(W - 2 * padH, H, sw + 2 * padH, sh, padH, 0);
    };
    const auto both = [&] {
        apply(W - 2 * padH, H - 2 * padV, sw + 2 * padH, sh + 2 * padV, padH, padV);
    };
    if (W <= sw && H >= sh)
        vertical();
    if (W >= sw && H <= sh)
        horizontal();
    if (W >= sw && H >= sh) {
        if (rw > rh)
            vertical();
        else if (rw < rh)
            horizontal();
        else
            both();
    }
    if (W <= sw && H <= sh) {
        if (rw > rh)
            apply(W, H - 2 * padV, W, H, 0, padV);
        else if (rw < rh)
            horizontal();
        else
            both();
    }
    if (W == sw && H == sh) {
        m.Output.FrameSize = Size(W, H);
        m.Output.FrameAspectRatio = Ratio(W, H);
    }
    return filter;
}

std::string ApplyZoom(TLocal& m, TFrame frame) {
    const std::string& zoom = m.Row.Zoom;
    if (zoom == "full")
        return ZoomFull(m, frame);
    if (zoom == "lbox")
        return ZoomLetterbox(m, frame);
    if (zoom == "pan")
        return ZoomPan(m, frame);
    if (zoom == "center")
        return ZoomCentre(m, frame);
    return {};
}

void ApplyAudioEncoder(TLocal& m) {
    std::string encoder = m.Choices.Read("paraAudioEncoder", "");
    if (encoder == "libamr_nb")
        encoder = "libopencore_amrnb";
    m.Output.AudioCodec = encoder;
    if (Trim(encoder).empty())
        m.Output.DisableAudio = true;
}

} // namespace

TSourceFacts TSourceFacts::FromProbe(TAVProbe& probe) {
    TSourceFacts facts;
    facts.Streams = probe.Streams();
    facts.FileName = probe.FileName();
    facts.VideoStreamCount = probe.VideoStreamCount();
    const TStreamSummary* picture = PictureSource(facts.Streams);
    TVideoStreamInfo video;
    probe.VideoStreamInfo(picture ? picture->Index : probe.VideoStreamIndex(), video);
    // The engine turns a rotated picture upright before it crops and scales it.
    const bool turned = video.Rotation == 90 || video.Rotation == 270;
    facts.Width = turned ? video.Height : video.Width;
    facts.Height = turned ? video.Width : video.Height;
    facts.VideoBitRate = video.BitRate;
    TAudioStreamInfo audio;
    probe.AudioStreamInfo(probe.AudioStreamIndex(), audio);
    facts.SampleRate = audio.SampleRate;
    facts.AudioChannels = audio.Channels;
    facts.AudioBitRate = audio.BitRate;
    return facts;
}

bool ValueFitsProfileRange(TProfileFile& profiles, int32_t code, const std::string& kind, double value) {
    const char* key = kind == "audiosamplerate" ? "SampleRate"
                      : kind == "audiobitrate"  ? "AudioBitRate"
                      : kind == "videobitrate"  ? "VideoBitRate"
                                                : nullptr;
    if (!key)
        return false;
    const std::string list = profiles.ReadString(code, key, "null");
    const size_t firstComma = list.find(',');
    // A list needs a first entry before its first comma.
    if (firstComma == std::string::npos || firstComma == 0)
        return false;
    const size_t lastComma = list.rfind(',');
    const std::string first = list.substr(0, firstComma);
    std::string low = first;
    if (firstComma + 1 < list.size() && LowerCase(first) == kAsSource) {
        const size_t next = list.find(',', firstComma + 1);
        low = list.substr(firstComma + 1,
                          next == std::string::npos ? std::string::npos : next - firstComma - 1);
    }
    const std::string high = firstComma < lastComma ? list.substr(lastComma + 1) : low;
    const double compared = kind == "audiosamplerate" ? value : value / 1000;
    return StrToFloat(low) <= compared && compared <= StrToFloat(high);
}

TPaddings LetterboxPaddings(int32_t sw, int32_t sh, int32_t W, int32_t H) {
    TPaddings p;
    if (sw <= 0 || sh <= 0 || W <= 0 || H <= 0)
        return p;
    const double rw = static_cast<double>(sw) / W;
    const double rh = static_cast<double>(sh) / H;
    const auto vertical = [&] {
        p.Top = p.Bottom = FitPad(H, sh, rw);
        p.Left = p.Right = 0;
    };
    const auto horizontal = [&] {
        p.Left = p.Right = FitPad(W, sw, rh);
        p.Top = p.Bottom = 0;
    };
    if (W <= sw && H >= sh)
        vertical();
    if (W >= sw && H <= sh)
        horizontal();
    if (W >= sw && H >= sh) {
        if (rw > rh)
            vertical();
        else if (rw < rh)
            horizontal();
        else {
            p.Top = p.Bottom = FitPad(H, sh, rw);
            p.Left = p.Right = FitPad(W, sw, rh);
        }
    }
    if (W <= sw && H <= sh) {
        if (rw > rh)
            vertical();
        else
            horizontal();
    }
    if (W == sw && H == sh)
        p = {};
    return p;
}

void BuildTaskOptions(const TlvFilesRecord& row, int32_t code, TOutputOptions& output,
                      const TSourceFacts& source, TInputOptions& input, TMappingContext& context) {
    TLocal m{row,
             code,
             output,
             source,
             input,
             context,
             TProfileChoices(context.Settings, context.Profiles, code),
             context.Profiles.Format(code)};
    ApplyDiscTarget(m);
    const std::string encoder = m.Choices.Read("paraVideoEncoder", "");
    if (Trim(encoder).empty()) {
        ApplyAudioOnly(m);
        ApplyStreams(m, true);
        return;
    }
    ApplyVideoEncoder(m, encoder);
    ApplyH264Limits(m);
    if (source.Streams.empty() && source.VideoStreamCount < 1) {
        output.DisableVideo = true;
    } else {
        ApplyPixelFormat(m);
        ApplyVideoBitrate(m);
        ApplyFrameRate(m);
        ApplyContainer(m);
        const TFrame frame = TargetSize(m);
        for (int32_t* crop : {&output.CropTop, &output.CropBottom, &output.CropLeft, &output.CropRight})
            if (*crop == -1)
                *crop = 0;
        const std::string filter = ApplyZoom(m, frame);
        if (!filter.empty()) {
            if (!output.VideoFilters.empty())
                output.VideoFilters += ",";
            output.VideoFilters += filter;
        }
    }
    ApplyAudioEncoder(m);
    ApplyChannels(m, false);
    ApplyVolume(m);
    ApplySampleRate(m);
    ApplyAudioBitrate(m);
    ApplyStreams(m, false);
}

} // namespace tarnel
