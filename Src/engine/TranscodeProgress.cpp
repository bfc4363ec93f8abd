// The progress report of a run: one status line (frames, speed, quality, size, time, bit rate)
// handed to ProgressCallback or the log, and the statistics line at the end of the run.
#include "base/FFUtils.h"
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"

#include <cmath>

extern "C" {
#include <libavutil/time.h>
}

namespace tarnel {

namespace {

constexpr double kNoTime = 1e10;
constexpr double kShortestTime = 0.01; // s

int64_t OutputSize(const TOutputFile* output) {
    if (!output || !output->Context || !output->Context->pb)
        return 0;
    AVIOContext* pb = output->Context->pb;
    const int64_t size = avio_size(pb);
    return size >= 0 ? size : avio_tell(pb);
}

float ReportedQuality(const TOutputStreamState& ost) {
    return ost.EncodingNeeded ? ost.Quality : -1.0f;
}

double Psnr(double normalizedError) {
    return -10.0 * std::log10(normalizedError);
}

// "PSNR=Y:.. U:.. V:.. *:.. " from the last picture's errors, or over all pictures at the end.
std::string PsnrText(const TOutputStreamState& ost, bool final, int frames) {
    const AVCodecContext* codec = ost.Codec;
    std::string text = "PSNR=";
    double errorSum = 0;
    double scaleSum = 0;
    for (int plane = 0; plane < 3; ++plane) {
        double error =
            final ? static_cast<double>(codec->error[plane]) : static_cast<double>(ost.PsnrError[plane]);
        double scale = static_cast<double>(codec->width) * codec->height * 255.0 * 255.0;
        if (final)
            scale *= frames;
        if (plane > 0)
            scale /= 4;
        errorSum += error;
        scaleSum += scale;
        text += Format("%c:%2.2f ", "YUV"[plane], Psnr(error / scale));
    }
    return text + Format("*:%2.2f ", Psnr(errorSum / scaleSum));
}

} // namespace

void TCustomFFmpeg::ReportProgress(TTranscodeRun& run, bool final, int fileIndex) {
    const int64_t totalSize = outputFileCount_ > 0 ? OutputSize(OutputFiles[0].get()) : 0;
    std::string text;
    double time = kNoTime;
    float quality = -1;
    int32_t fps = -1;
    int32_t frames = -1;
    bool mainPartDone = false;

    for (const TOutputStreamState& ost : run.OutputStreams) {
        if (ost.IsVideo() && ost.Reporting) {
            const float q = ReportedQuality(ost);
            if (mainPartDone) {
                text += Format("q=%2.1f ", q);
            } else {
                mainPartDone = true;
                frames = ost.FrameNumber;
                if (frames < 1)
                    return;
                const double elapsed = static_cast<double>(av_gettime_relative() - run.TimerStart) / 1e6;
                fps = elapsed > 1 ? static_cast<int32_t>(frames / elapsed + 0.5) : 0;
                quality = q;
                text += Format("frame=%5d fps=%3d q=%3.1f ", frames, fps, quality);
                if (final)
                    text += "L";
                if (Opt.QpHistogram) {
                    const long qp = std::lround(quality);
                    if (qp >= 0 && qp < static_cast<long>(QpHistogramCounts.size()))
                        ++QpHistogramCounts[qp];
                    for (int j = 0; j < 32; ++j)
                        text += Format("%X",
                                       static_cast<int>(std::lround(std::log2(QpHistogramCounts[j] + 1.0))));
                }
                if (ost.Codec->flags & AV_CODEC_FLAG_PSNR)
                    text += PsnrText(ost, final, frames);
            }
        }
        if (ost.Stream && ost.MuxTime != AV_NOPTS_VALUE) {
            const double streamTime = static_cast<double>(ost.MuxTime) * av_q2d(ost.Stream->time_base);
            if (streamTime > 0 && streamTime < time)
                time = streamTime;
        }
    }
    // Nothing written yet: the output is at its start, not at the far end of time.
    if (time == kNoTime)
        time = 0;
    if (time < kShortestTime)
        time = kShortestTime;

    if (ProgressCallback || Opt.Verbosity > 0 || final) {
        const double bitRate = static_cast<double>(totalSize) * 8 / time / 1000;
        text += Format("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", static_cast<double>(totalSize) / 1024,
                       time, bitRate);
        if (Opt.FramesDuplicated || Opt.FramesDropped) {
            text += Format(" dup=%d drop=%d", Opt.FramesDuplicated, Opt.FramesDropped);
            if (Opt.DupDropPending && Opt.Verbosity >= 0 && ProgressCallback) {
                Opt.DupDropPending = false;
                Logger().Log(this, llVerbose, text);
            }
        }
        if (ProgressCallback)
            ProgressCallback(*this, fileIndex, totalDuration_, static_cast<int64_t>(time * 1e6), totalSize,
                             static_cast<float>(bitRate), quality, fps, frames);
        else if (Opt.Verbosity >= 0)
            Logger().Log(this, llVerbose, text);
    }

    if (final && Opt.Verbosity >= 0) {
        const int64_t raw = Opt.VideoSize + Opt.AudioSize + Opt.ExtraSize;
        // Nothing written: there is no overhead to speak of.
        const double overhead =
            raw > 0 ? static_cast<double>(totalSize - raw) * 100 / static_cast<double>(raw) : 0;
        Logger().LogFmt(this, llVerbose,
                        "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
                        static_cast<double>(Opt.VideoSize) / 1024, static_cast<double>(Opt.AudioSize) / 1024,
                        static_cast<double>(Opt.ExtraSize) / 1024, overhead);
    }
}

} // namespace tarnel
