#include "base/InputWatch.h"

#include "base/FFUtils.h"
#include "base/FFmpegException.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/time.h>
}

namespace tarnel {

TInputWatch::TInputWatch(const std::atomic<bool>* ownerStop)
    : ownerStop_(ownerStop)
    , timeoutUs_(static_cast<int64_t>(kDefaultSeconds * 1e6)) {}

void TInputWatch::SetTimeout(double seconds) {
    if (!std::isfinite(seconds) || seconds > kMaxSeconds)
        seconds = kMaxSeconds;
    timeoutUs_ = std::max<int64_t>(1, std::llround(seconds * 1e6));
}

void TInputWatch::Arm() {
    timedOut_ = false;
    deadline_ = av_gettime_relative() + timeoutUs_;
}

void TInputWatch::Disarm() {
    deadline_ = 0;
}

void TInputWatch::BeginOpen() {
    std::lock_guard lock(openMutex_);
    opening_ = true;
}

void TInputWatch::EndOpen() {
    std::lock_guard lock(openMutex_);
    opening_ = false;
    ownStop_ = false;
    deadline_ = 0;
}

void TInputWatch::RequestStop() {
    std::lock_guard lock(openMutex_);
    if (opening_)
        ownStop_ = true;
}

bool TInputWatch::StopRequested() const {
    return ownStop_ || (ownerStop_ && *ownerStop_);
}

int TInputWatch::Interrupted(void* opaque) {
    auto* watch = static_cast<TInputWatch*>(opaque);
    if (watch->StopRequested())
        return 1;
    const int64_t deadline = watch->deadline_;
    if (deadline == 0 || av_gettime_relative() < deadline)
        return 0;
    watch->timedOut_ = true;
    return 1;
}

AVIOInterruptCB TInputWatch::Callback() {
    return {&TInputWatch::Interrupted, this};
}

void TInputWatch::AddProtocolOptions(DictionaryPtr& options) const {
    AVDictionary* raw = options.release();
    av_dict_set_int(&raw, "rw_timeout", timeoutUs_, 0);
    options.reset(raw);
}

std::string TInputWatch::TimeoutText(const std::string& name) const {
    return Format("%s: no answer within %g s", name.c_str(), Timeout());
}

std::string TInputWatch::Interruption(const std::string& name) const {
    if (timedOut_)
        return TimeoutText(name);
    if (StopRequested())
        return name + ": stopped";
    return {};
}

std::string TInputWatch::FailureText(const std::string& name, int code) const {
    if (std::string text = Interruption(name); !text.empty())
        return text;
    if (code == AVERROR(ETIMEDOUT))
        return TimeoutText(name);
    return ErrorText(name, code);
}

InputContextPtr OpenWatchedInput(const std::string& path, TInputWatch& watch) {
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        throw FFmpegException(ErrorText(path, AVERROR(ENOMEM)));
    raw->interrupt_callback = watch.Callback();
    DictionaryPtr options;
    watch.AddProtocolOptions(options);
    AVDictionary* rawOptions = options.release();
    watch.Arm();
    int ret = avformat_open_input(&raw, path.c_str(), nullptr, &rawOptions); // frees `raw` on failure
    options.reset(rawOptions);
    if (ret < 0) {
        watch.Disarm();
        throw FFmpegException(watch.FailureText(path, ret));
    }
    InputContextPtr input(raw);
    watch.Arm();
    ret = avformat_find_stream_info(raw, nullptr);
    watch.Disarm();
    if (ret < 0)
        throw FFmpegException(watch.FailureText(path, ret));
    return input;
}

int ReadWatchedPacket(AVFormatContext* input, AVPacket* packet, TInputWatch& watch, const std::string& path) {
    watch.Arm();
    const int ret = av_read_frame(input, packet);
    watch.Disarm();
    if (ret < 0 && (watch.TimedOut() || ret == AVERROR(ETIMEDOUT)))
        throw FFmpegException(watch.TimeoutText(path));
    return ret;
}

} // namespace tarnel
