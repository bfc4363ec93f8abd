// The conversion component: an ordered list of tasks (one engine each) built from option records,
// run on worker threads (or in the caller's thread), with four events that report on the run.
#pragma once

#include "base/Bitmap.h"
#include "base/ThreadPriority.h"
#include "converter/LoudnessMeter.h"
#include "converter/QualityMeter.h"
#include "converter/TaskOptions.h"
#include "engine/FFmpeg.h"
#include "probe/AVProbe.h"

#include <array>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnel {

class TCustomFFConverter;

struct THookInfo {
    int32_t TaskIndex = -1;
    TBitmap* Bitmap = nullptr; // the handler may draw on it
    int32_t FrameNumber = 0;
    int64_t PTS = 0;       // µs, of the decoded input picture
    bool Update = true;    // in/out: write the bitmap back into the picture
    bool StopHook = false; // in/out: no further calls for this task
};
using PHookInfo = THookInfo*;

struct TPreviewInfo {
    int32_t TaskIndex = -1;
    const TBitmap* Bitmap = nullptr;
    int32_t FrameNumber = 0;
    int64_t PTS = 0; // µs, of the encoded picture
};

// What a task is doing: its measuring passes come before and after the conversion itself.
enum class TTaskPhase { Converting, MeasuringLoudness, MeasuringQuality };

struct TProgressInfo {
    int32_t TaskIndex = -1;
    int32_t FileIndex = 0; // -1 in the task's final report
    int32_t FrameNumber = -1;
    int32_t FPS = -1;
    float Quality = -1;
    float BitRate = 0;           // kbit/s
    int64_t TotalSize = 0;       // bytes
    int64_t CurrentDuration = 0; // µs
    int64_t TotalDuration = -1;  // µs
    TTaskPhase Phase = TTaskPhase::Converting;
};
using PProgressInfo = TProgressInfo*;

struct TTerminateInfo {
    int32_t TaskIndex = -1; // -1: the final report of the whole run
    bool Finished = false;
    bool Failed = false;
    std::string ErrorMessage;
    // The measuring passes, when the task's output options asked for them.
    double LoudnessTarget = 0; // LUFS; 0: the sound was left as it is
    TLoudness Loudness;        // of the source, before the gain
    bool QualityMeasured = false;
    TQualityReport Quality;
    std::string QualityError; // why the quality could not be measured
};

using TCustomHookEvent = std::function<void(TCustomFFConverter& sender, PHookInfo info)>;
using TPreviewBitmapEvent = std::function<void(TCustomFFConverter& sender, const TPreviewInfo& info)>;
using TProgressEvent = std::function<void(TCustomFFConverter& sender, PProgressInfo info)>;
using TTerminateEvent = std::function<void(TCustomFFConverter& sender, const TTerminateInfo& info)>;

// The measuring passes of a task, from its option records.
struct TTaskPasses {
    double LoudnessTarget = 0; // LUFS; 0: none
    TLoudnessJob Loudness;
    bool Quality = false;
    TQualityJob QualityJob;
};

// One task: an engine with a probe per opened input, and the measuring passes around its run.
class TFFmpeg : public TCustomFFmpeg {
public:
    TTaskPasses Passes;
    // Reports a pass's share done (0…1); set by the component.
    std::function<void(TFFmpeg& task, TTaskPhase phase, double fraction)> PassProgress;

    // Loudness measured before the run (when asked for).
    const TLoudness& MeasuredLoudness() const { return loudness_; }
    // After a finished run: measures the output's picture quality into `info` (when asked for).
    void MeasureOutputQuality(TTerminateInfo& info);

    // The probe of input `index`, attached when the input was opened; null otherwise.
    TAVProbe* InputProbe(int index) const;
    // Attaches a probe to the input opened last.
    void ProbeLastInput();
    int32_t OutputCount() const { return OutputFileCount(); }

protected:
    // Measures the source's loudness and sets the output's gain first, when the task asks for it.
    void Transcode() override;

private:
    bool MeasureLoudnessFirst();
    // The progress callback of a pass: pauses with the task, stops with it, reports its share.
    std::function<bool(double)> PassWatcher(TTaskPhase phase);

    std::array<std::unique_ptr<TAVProbe>, kMaxFiles> probes_;
    TLoudness loudness_;
};

class TCustomFFConverter {
public:
    TCustomFFConverter();
    virtual ~TCustomFFConverter();
    TCustomFFConverter(const TCustomFFConverter&) = delete;
    TCustomFFConverter& operator=(const TCustomFFConverter&) = delete;

    static constexpr const char* Version = "3.3";

    bool LoadLibraries(const std::string& directory);
    // The records are read during the call; an empty FileName in them is filled from `fileName`.
    int AddTask(const std::string& fileName, TInputOptions* options = nullptr);
    bool SetOutputFile(int taskIndex, const std::string& fileName, TOutputOptions* options = nullptr);
    void RemoveTask(int taskIndex);
    void ClearTasks();
    int TaskCount() const;
    TAVProbe* InputProbe(int taskIndex, int inputIndex) const;
    TAVProbe& Probe() { return probe_; }
    // How long an input may give nothing (AddTask's open, Probe's open, each read of a run) before
    // it fails with "NAME: no answer within N s"; seconds, default 30. Applies to the tasks added
    // from now on and to Probe.
    void SetTimeout(double seconds);
    double Timeout() const { return timeout_; }
    const std::string& LastError() const { return lastError_; }

    // N > 0: up to N tasks at once on their own threads, returning at once; N <= 0: every task in
    // turn in the calling thread.
    void StartTask(int count);
    void Pause();
    void Resume();
    // Ends the run (its tasks stop, those not started report as not finished). From another thread
    // it also ends an AddTask or a Probe().Open that waits for its input: that call fails with
    // "NAME: stopped", and the component stays usable.
    void Stop(bool wait);

    bool Preview() const { return preview_; }
    void SetPreview(bool value);
    bool PreviewBitmap() const { return previewBitmap_; }
    void SetPreviewBitmap(bool value);
    int ProgressInterval() const { return progressIntervalMs_; }
    void SetProgressInterval(int milliseconds) {
        progressIntervalMs_ = milliseconds <= 100 ? 100 : milliseconds;
    }
    TThreadPriority ThreadPriority() const { return threadPriority_; }
    void SetThreadPriority(TThreadPriority priority) { threadPriority_ = priority; }
    bool TriggerEventInMainThread() const { return triggerInMainThread_; }
    void SetTriggerEventInMainThread(bool value) { triggerInMainThread_ = value; }

protected:
    virtual void DoCustomHook(TFFmpeg& task, TBitmap& bitmap, bool& stopHook, bool& update, int64_t pts,
                              int32_t frameNumber);
    virtual void DoPreviewBitmap(TFFmpeg& task, TBitmap& bitmap, int64_t pts, int32_t frameNumber);
    virtual void DoProgress(TFFmpeg& task, int32_t fileIndex, int64_t totalDuration, int64_t outputTime,
                            int64_t outputSize, float bitRate, float quality, int32_t fps,
                            int32_t frameNumber);
    virtual void DoTerminate(TFFmpeg& task);
    virtual void DoPassProgress(TFFmpeg& task, TTaskPhase phase, double fraction);

    TCustomHookEvent OnCustomHook_;
    TPreviewBitmapEvent OnPreviewBitmap_;
    TProgressEvent OnProgress_;
    TTerminateEvent OnTerminate_;

private:
    void RefuseWhileWorking(const char* operation) const;
    TFFmpeg& TaskAt(int index) const;
    int IndexOf(const TFFmpeg& task) const;
    void ApplyOutputOptions(TFFmpeg& task, const TOutputOptions& options, std::vector<TOptionLine>& pending);
    void ApplyMetadata(TFFmpeg& task, const TStreamInfo& metadata);
    void AddExtraStreams(TFFmpeg& task, const TOutputOptions& options, std::vector<TOptionLine>& pending);
    void ConnectRunCallbacks(TFFmpeg& task);
    // The next task to start, counted as started; null when none remains.
    TFFmpeg* TakeNextTaskLocked();
    // Starts a task taken by TakeNextTaskLocked (foreground: runs it to its end).
    void Launch(TFFmpeg& task);
    void IssueTerminateReport(const TTerminateInfo& info);
    void DeliverInMainThread(const std::function<void()>& delivery);
    void JoinReportThreads();

    TAVProbe probe_;
    std::vector<std::unique_ptr<TFFmpeg>> tasks_;
    double timeout_ = TInputWatch::kDefaultSeconds;
    std::mutex openingMutex_;
    TFFmpeg* opening_ = nullptr; // the task whose input AddTask is opening; guarded by openingMutex_
    std::string lastError_;
    int verbosity_ = 1;
    bool preview_ = false;
    bool previewBitmap_ = false;
    int progressIntervalMs_ = 500;
    TThreadPriority threadPriority_ = tpNormal;
    bool triggerInMainThread_ = true;

    // Run state, guarded by terminateLock_.
    int finished_ = 0;
    int next_ = 0;
    int remaining_ = 0;
    bool background_ = false;
    bool allDone_ = false;
    bool working_ = false;

    std::mutex hookLock_;
    std::mutex previewLock_;
    std::mutex progressLock_;
    std::mutex terminateLock_; // also guards the run state above
    THookInfo hookInfo_;
    TPreviewInfo previewInfo_;
    TProgressInfo progressInfo_;

    struct TReportThread {
        std::thread Thread;
        std::shared_ptr<std::atomic<bool>> Done;
    };
    std::mutex reportThreadsMutex_;
    std::vector<TReportThread> reportThreads_; // guarded by reportThreadsMutex_
    std::shared_future<void> lastReport_;      // guarded by reportThreadsMutex_; the report issued last
};

// The component as the application uses it: its events are public.
class TFFConverter : public TCustomFFConverter {
public:
    using TCustomFFConverter::TCustomFFConverter;
    TCustomHookEvent& OnCustomHook = OnCustomHook_;
    TPreviewBitmapEvent& OnPreviewBitmap = OnPreviewBitmap_;
    TProgressEvent& OnProgress = OnProgress_;
    TTerminateEvent& OnTerminate = OnTerminate_;
};

} // namespace tarnel
