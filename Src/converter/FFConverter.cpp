// The task list of the conversion component and the translation of the option records into
// engine options.
#include "converter/FFConverter.h"

#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLoader.h"
#include "base/MyUtils.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace tarnel {

namespace {

constexpr const char* kStreamLines[] = {"newvideo", "newaudio", "newsubtitle"};
constexpr const char* kPresetLines[] = {"apre", "vpre", "spre"};
constexpr const char* kPerStreamNames[] = {"acodec", "vcodec", "scodec", "apre", "vpre", "spre", "s", "vf"};

bool OneOf(const std::string& name, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
}

template <size_t N>
bool OneOf(const std::string& name, const char* const (&names)[N]) {
    return std::any_of(std::begin(names), std::end(names), [&](const char* n) { return name == n; });
}

// The value of `name` in an ordered name/value list, or empty.
std::string Lookup(const std::vector<TOptionLine>& list, const std::string& name) {
    for (const auto& [key, value] : list)
        if (key == name)
            return value;
    return {};
}

void SetLookup(std::vector<TOptionLine>& list, const std::string& name, const std::string& value) {
    for (auto& [key, current] : list) {
        if (key == name) {
            current = value;
            return;
        }
    }
    list.emplace_back(name, value);
}

// The first pending entry of `name`, removed from the list; else the "def_" value.
std::string TakePerStreamValue(std::vector<TOptionLine>& pending, const std::string& name) {
    for (auto it = pending.begin(); it != pending.end(); ++it) {
        if (it->first == name) {
            std::string value = it->second;
            pending.erase(it);
            return value;
        }
    }
    return Lookup(pending, "def_" + name);
}

void SetIfNotEmpty(TCustomFFmpeg& engine, const char* name, const std::string& value) {
    if (!value.empty())
        engine.SetOption(name, value);
}

void SetIntIfPositive(TCustomFFmpeg& engine, const char* name, int32_t value) {
    if (value > 0)
        engine.SetIntOption(name, value);
}

// "640x480" → 640, 480; anything else leaves both at 0.
void ParseFrameSize(const std::string& text, int32_t& width, int32_t& height) {
    int w = 0;
    int h = 0;
    if (std::sscanf(text.c_str(), "%dx%d", &w, &h) == 2 && w > 0 && h > 0) {
        width = w;
        height = h;
    }
}

// The measuring passes the output options ask for, over the part of the source that is converted.
void PlanPasses(TFFmpeg& task, const TOutputOptions& o, const std::string& frameSize,
                const std::string& videoFilters) {
    TTaskPasses& passes = task.Passes;
    if (o.Duration != AV_NOPTS_VALUE && o.Duration > 0)
        passes.Loudness.DurationUs = passes.QualityJob.DurationUs = o.Duration;
    if (o.StartTime != AV_NOPTS_VALUE && o.StartTime > 0) {
        passes.Loudness.StartUs += o.StartTime;
        passes.QualityJob.StartUs += o.StartTime;
    }
    passes.LoudnessTarget = o.DisableAudio ? 0 : o.LoudnessTarget;
    passes.Quality = o.MeasureQuality && !o.DisableVideo;
    TQualityJob& quality = passes.QualityJob;
    quality.Output = o.FileName;
    quality.CropTop = std::max(0, o.CropTop);
    quality.CropBottom = std::max(0, o.CropBottom);
    quality.CropLeft = std::max(0, o.CropLeft);
    quality.CropRight = std::max(0, o.CropRight);
    ParseFrameSize(frameSize, quality.Width, quality.Height);
    quality.VideoFilters = videoFilters;
}

// Makes the task AddTask is opening reachable by Stop from another thread while the open lasts.
class OpeningTask {
public:
    OpeningTask(std::mutex& mutex, TFFmpeg*& slot, TFFmpeg& task)
        : mutex_(mutex)
        , slot_(slot) {
        std::lock_guard lock(mutex_);
        slot_ = &task;
    }
    ~OpeningTask() {
        std::lock_guard lock(mutex_);
        slot_ = nullptr;
    }
    OpeningTask(const OpeningTask&) = delete;
    OpeningTask& operator=(const OpeningTask&) = delete;

private:
    std::mutex& mutex_;
    TFFmpeg*& slot_;
};

std::string TargetNorm(int norm) {
    switch (norm) {
    case 1:
        return "pal";
    case 2:
        return "ntsc";
    default:
        return "auto";
    }
}

} // namespace

TAVProbe* TFFmpeg::InputProbe(int index) const {
    return index >= 0 && index < kMaxFiles ? probes_[index].get() : nullptr;
}

void TFFmpeg::ProbeLastInput() {
    const int index = InputFileCount() - 1;
    if (index < 0 || !InputFiles[index])
        return;
    probes_[index] = std::make_unique<TAVProbe>();
    probes_[index]->Attach(InputFiles[index]->Context.get());
}

TCustomFFConverter::TCustomFFConverter() = default;

TCustomFFConverter::~TCustomFFConverter() {
    {
        std::lock_guard lock(terminateLock_);
        remaining_ = 0;
    }
    if (working_ && !allDone_)
        Stop(true);
    JoinReportThreads();
    tasks_.clear();
    // No delivery may still hold a lock when they go.
    std::scoped_lock quiet(hookLock_, previewLock_, progressLock_, terminateLock_);
}

bool TCustomFFConverter::LoadLibraries(const std::string& directory) {
    Loader().SetLibraryPath(directory);
    if (Loader().LoadSet(kConverterLibraries))
        return true;
    lastError_ = Loader().LastLoadError();
    return false;
}

void TCustomFFConverter::RefuseWhileWorking(const char* operation) const {
    if (working_)
        throw FFmpegException(Format("Cannot %s while working.", operation));
}

TFFmpeg& TCustomFFConverter::TaskAt(int index) const {
    if (index < 0 || index >= static_cast<int>(tasks_.size()))
        throw FFmpegException(Format("Task index %d out of range", index));
    return *tasks_[index];
}

int TCustomFFConverter::IndexOf(const TFFmpeg& task) const {
    for (size_t i = 0; i < tasks_.size(); ++i)
        if (tasks_[i].get() == &task)
            return static_cast<int>(i);
    return -1;
}

int TCustomFFConverter::TaskCount() const {
    return static_cast<int>(tasks_.size());
}

TAVProbe* TCustomFFConverter::InputProbe(int taskIndex, int inputIndex) const {
    if (taskIndex < 0 || taskIndex >= TaskCount())
        return nullptr;
    return tasks_[taskIndex]->InputProbe(inputIndex);
}

int TCustomFFConverter::AddTask(const std::string& fileName, TInputOptions* options) {
    RefuseWhileWorking("AddTask");
    auto task = std::make_unique<TFFmpeg>();
    try {
        task->Reset();
        task->SetVerbosity(verbosity_);
        task->SetPreviewFlags(static_cast<uint8_t>((preview_ ? 1 : 0) | (previewBitmap_ ? 2 : 0)));
        TFFmpeg* raw = task.get();
        task->PreviewCallback = [this, raw](TCustomFFmpeg&, TBitmap& bitmap, int64_t pts, int32_t counter) {
            DoPreviewBitmap(*raw, bitmap, pts, counter);
        };
        if (options) {
            if (options->FileName.empty())
                options->FileName = fileName;
            for (const auto& [name, value] : ParseExtOptions(options->ExtOptions)) {
                if (OneOf(name, kStreamLines) || OneOf(name, kPresetLines) || OneOf(name, {"vfilters", "vf"}))
                    continue;
                task->SetOption(name, value);
            }
            SetIfNotEmpty(*task, "f", options->ForceFormat);
            task->SetStartTime(options->StartTime);
            if (options->StartTime != AV_NOPTS_VALUE && options->StartTime > 0)
                task->Passes.Loudness.StartUs = task->Passes.QualityJob.StartUs = options->StartTime;
            task->SetProgramID(options->ProgramID);
        }
        task->Passes.Loudness.Source = task->Passes.QualityJob.Source = fileName;
        task->SetTimeout(timeout_);
        task->Passes.Loudness.TimeoutSeconds = task->Passes.QualityJob.TimeoutSeconds = timeout_;
        bool opened = false;
        {
            OpeningTask opening(openingMutex_, opening_, *task);
            opened = task->AddInputFile(fileName);
        }
        if (!opened) {
            lastError_ = task->LastError();
            return -1;
        }
        task->ProbeLastInput();
        ConnectRunCallbacks(*task);
    } catch (const std::exception& e) {
        lastError_ = e.what();
        return -1;
    }
    tasks_.push_back(std::move(task));
    return TaskCount() - 1;
}

void TCustomFFConverter::ConnectRunCallbacks(TFFmpeg& task) {
    TFFmpeg* raw = &task;
    task.ProgressCallback = [this, raw](TCustomFFmpeg&, int32_t fileIndex, int64_t totalDuration,
                                        int64_t outputTime, int64_t outputSize, float bitRate, float quality,
                                        int32_t fps, int32_t frameNumber) {
        DoProgress(*raw, fileIndex, totalDuration, outputTime, outputSize, bitRate, quality, fps,
                   frameNumber);
    };
    task.TerminateCallback = [this, raw](TCustomFFmpeg&) {
        DoTerminate(*raw);
    };
    task.PassProgress = [this](TFFmpeg& sender, TTaskPhase phase, double fraction) {
        DoPassProgress(sender, phase, fraction);
    };
}

bool TCustomFFConverter::SetOutputFile(int taskIndex, const std::string& fileName, TOutputOptions* options) {
    RefuseWhileWorking("SetOutputFile");
    TFFmpeg& task = TaskAt(taskIndex);
    if (task.OutputCount() >= kMaxFiles) {
        lastError_ = Format("max output files %d reached", kMaxFiles);
        return false;
    }
    try {
        std::vector<TOptionLine> pending;
        if (options) {
            if (options->FileName.empty())
                options->FileName = fileName;
            ApplyOutputOptions(task, *options, pending);
        }
        if (task.AddOutputFile(fileName, options && options->Join) < 0) {
            lastError_ = task.LastError();
            return false;
        }
        if (options)
            AddExtraStreams(task, *options, pending);
    } catch (const std::exception& e) {
        lastError_ = e.what();
        return false;
    }
    return true;
}

// Steps before the output is opened: defaults and pending per-stream entries, target, codecs,
// presets, the extra-option text, the record's fields, metadata, then size and filters.
void TCustomFFConverter::ApplyOutputOptions(TFFmpeg& task, const TOutputOptions& o,
                                            std::vector<TOptionLine>& pending) {
    const std::pair<const char*, const std::string*> defaults[] = {
        {"def_acodec", &o.AudioCodec}, {"def_vcodec", &o.VideoCodec}, {"def_scodec", &o.SubtitleCodec},
        {"def_apre", &o.AudioPreset},  {"def_vpre", &o.VideoPreset},  {"def_spre", &o.SubtitlePreset},
        {"def_s", &o.FrameSize},       {"def_vf", &o.VideoFilters}};
    for (const auto& [name, value] : defaults)
        if (!value->empty())
            pending.emplace_back(name, *value);
    const std::vector<TOptionLine> lines = ParseExtOptions(o.ExtOptions);
    for (auto [name, value] : lines) {
        if (name == "vfilters")
            name = "vf";
        if (!OneOf(name, kPerStreamNames) || value.empty())
            continue;
        if (Lookup(pending, "def_" + name).empty())
            SetLookup(pending, "def_" + name, value);
        pending.emplace_back(name, value);
    }

    if (o.Target >= 1 && o.Target <= 4) {
        static constexpr const char* kKinds[] = {"vcd", "svcd", "dvd", "dv"};
        task.SetTarget(kKinds[o.Target - 1], TargetNorm(o.TVNorm), o.FallbackNorm == 1 ? "pal" : "ntsc");
    }
    for (const char* name : {"acodec", "vcodec", "scodec"})
        SetIfNotEmpty(task, name, Lookup(pending, std::string("def_") + name));
    for (const char* name : kPresetLines) {
        const std::string value = Lookup(pending, std::string("def_") + name);
        if (!value.empty())
            task.ApplyPreset(name, value);
    }
    for (const auto& [name, value] : lines) {
        if (OneOf(name, kStreamLines) || OneOf(name, kPresetLines) ||
            OneOf(name, {"vfilters", "vf", "acodec", "vcodec", "scodec", "s"}))
            continue;
        task.SetOption(name, value);
    }

    SetIfNotEmpty(task, "f", o.ForceFormat);
    SetIntIfPositive(task, "packetsize", o.PacketSize);
    SetIntIfPositive(task, "muxrate", o.MuxRate);
    task.SetMuxDelay(o.MuxDelay);
    task.SetMuxPreload(o.MuxPreload);
    if (o.DisableAudio)
        task.SetOption("an", "1");
    task.SetAudioVolume(o.AudioVolume);
    if (o.AudioChannels > 0)
        task.SetOption("ac", std::to_string(o.AudioChannels));
    if (o.AudioSampleRate > 0)
        task.SetOption("ar", std::to_string(o.AudioSampleRate));
    SetIntIfPositive(task, "ab", o.AudioBitrate);
    SetIntIfPositive(task, "abt", o.AudioBitrateTolerance);
    task.SetOption("alang", o.AudioLanguage);
    task.SetAudioSync(o.AudioSync);
    SetIfNotEmpty(task, "atag", o.AudioTag);
    SetIfNotEmpty(task, "af", o.AudioFilters);
    if (o.DisableVideo)
        task.SetOption("vn", "1");
    SetIfNotEmpty(task, "r", o.FrameRate);
    SetIfNotEmpty(task, "aspect", o.FrameAspectRatio);
    const std::pair<const char*, int32_t> crops[] = {{"croptop", o.CropTop},
                                                     {"cropbottom", o.CropBottom},
                                                     {"cropleft", o.CropLeft},
                                                     {"cropright", o.CropRight}};
    for (const auto& [name, value] : crops)
        if (value > 0)
            task.SetOption(name, std::to_string(value));
    SetIntIfPositive(task, "g", o.GOPSize);
    SetIntIfPositive(task, "vb", o.VideoBitrate);
    SetIntIfPositive(task, "maxrate", o.VideoMaxRate);
    SetIntIfPositive(task, "minrate", o.VideoMinRate);
    SetIntIfPositive(task, "bt", o.VideoBitrateTolerance);
    SetIntIfPositive(task, "bufsize", o.VideoBufferSize);
    task.SetVideoSync(o.VideoSync);
    SetIfNotEmpty(task, "vtag", o.VideoTag);
    task.SetOption("vlang", o.VideoLanguage);
    if (o.DisableSubtitle)
        task.SetOption("sn", "1");
    task.SetOption("slang", o.SubtitleLanguage);
    task.SetOption("isync", o.InputSync ? "1" : "0");
    if (o.CopyTimestamps)
        task.SetOption("copyts", "");
    task.SetStartTime(o.StartTime);
    task.SetRecordingTime(o.Duration);
    ApplyMetadata(task, o.Metadata);

    SetIfNotEmpty(task, "pix_fmt", o.PixelFormat);
    for (const std::string& map : o.StreamMaps)
        task.SetOption("map", map);
    if (o.CopyMetadata)
        task.SetOption("map_meta_data", "0:0");

    SetIfNotEmpty(task, "s", Lookup(pending, "def_s"));
    SetIfNotEmpty(task, "vf", Lookup(pending, "def_vf"));
    PlanPasses(task, o, Lookup(pending, "def_s"), Lookup(pending, "def_vf"));
    if (o.CustomHook) {
        TFFmpeg* raw = &task;
        task.HookCallback = [this, raw](TCustomFFmpeg&, TBitmap& bitmap, bool& stopHook, bool& update,
                                        int64_t pts, int32_t counter) {
            DoCustomHook(*raw, bitmap, stopHook, update, pts, counter);
        };
    }
}

void TCustomFFConverter::ApplyMetadata(TFFmpeg& task, const TStreamInfo& m) {
    if (m.Timestamp >= 0) {
        const int64_t seconds =
            m.Timestamp == 0 ? static_cast<int64_t>(std::time(nullptr)) : UnixFromLocalDateTime(m.Timestamp);
        task.SetRecordingTimestamp(seconds);
    }
    if (m.Year > 0)
        task.AddMetadata("year", std::to_string(m.Year));
    if (m.Track > 0)
        task.AddMetadata("track", std::to_string(m.Track));
    const std::pair<const char*, const std::string*> texts[] = {
        {"title", &m.Title},     {"author", &m.Author}, {"copyright", &m.Copyright},
        {"comment", &m.Comment}, {"album", &m.Album},   {"genre", &m.Genre}};
    for (const auto& [key, value] : texts)
        if (!value->empty())
            task.AddMetadata(key, *value);
}

// After the output is open: each "newaudio"/"newvideo"/"newsubtitle" line first gets its kind's
// options (the first pending entry of each name, else the default), then the line itself.
void TCustomFFConverter::AddExtraStreams(TFFmpeg& task, const TOutputOptions& options,
                                         std::vector<TOptionLine>& pending) {
    static const std::vector<const char*> kAudio = {"acodec", "apre"};
    static const std::vector<const char*> kVideo = {"vcodec", "vpre", "s", "vf"};
    static const std::vector<const char*> kSubtitle = {"scodec", "spre"};
    for (const auto& [name, value] : ParseExtOptions(options.ExtOptions)) {
        const std::vector<const char*>* kindOptions = name == "newaudio"      ? &kAudio
                                                      : name == "newvideo"    ? &kVideo
                                                      : name == "newsubtitle" ? &kSubtitle
                                                                              : nullptr;
        if (!kindOptions)
            continue;
        for (const char* option : *kindOptions)
            SetIfNotEmpty(task, option, TakePerStreamValue(pending, option));
        task.SetOption(name, value);
    }
}

void TCustomFFConverter::RemoveTask(int taskIndex) {
    RefuseWhileWorking("RemoveTask");
    TaskAt(taskIndex);
    tasks_.erase(tasks_.begin() + taskIndex);
}

void TCustomFFConverter::ClearTasks() {
    {
        std::lock_guard lock(terminateLock_);
        if (working_ && !allDone_)
            throw FFmpegException("Cannot ClearTasks while working.");
    }
    JoinReportThreads();
    tasks_.clear();
    lastError_.clear();
    std::lock_guard lock(terminateLock_);
    finished_ = next_ = remaining_ = 0;
    allDone_ = false;
    working_ = false;
    background_ = false;
}

void TCustomFFConverter::SetTimeout(double seconds) {
    probe_.SetTimeout(seconds);
    timeout_ = probe_.Timeout();
}

void TCustomFFConverter::SetPreview(bool value) {
    preview_ = value;
    for (auto& task : tasks_)
        task->SetPreviewFlags(static_cast<uint8_t>((task->PreviewFlags() & ~1) | (value ? 1 : 0)));
}

void TCustomFFConverter::SetPreviewBitmap(bool value) {
    previewBitmap_ = value;
    for (auto& task : tasks_)
        task->SetPreviewFlags(static_cast<uint8_t>((task->PreviewFlags() & ~2) | (value ? 2 : 0)));
}

} // namespace tarnel
