// Construction, reset, free-all, defaults and the run's life cycle (start, run, stop, pause).
#include "base/FFmpegException.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "base/MainThread.h"
#include "base/UnicodeProtocol.h"
#include "engine/FFmpeg.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

namespace tarnel {

namespace {

constexpr std::chrono::milliseconds kWaitSlice{20};

bool LibrariesLoaded() {
    return Loader().AllLoaded(kConverterLibraries);
}

constexpr std::chrono::seconds kEncoderDrainLimit{5};

// Some encoders (SVT-AV1) wait in their shutdown for the end of their input when they were opened
// but never flushed, so a run that failed after opening them would never end. Each one left open
// is sent the end of its input and its remaining packets are dropped, for a bounded time.
// SVT-AV1 also blocks on the end of input when it never had a picture: such a video encoder is
// given one blank picture first.
void FeedBlankPicture(AVCodecContext* encoder) {
    if (encoder->codec_type != AVMEDIA_TYPE_VIDEO || encoder->frame_number > 0 || encoder->width <= 0 ||
        encoder->height <= 0)
        return;
    FramePtr blank = MakeFrame();
    if (!blank)
        return;
    blank->format = encoder->pix_fmt;
    blank->width = encoder->width;
    blank->height = encoder->height;
    blank->pts = 0;
    if (av_frame_get_buffer(blank.get(), 0) < 0)
        return;
    for (int plane = 0; plane < AV_NUM_DATA_POINTERS && blank->buf[plane]; ++plane)
        std::fill_n(blank->buf[plane]->data, blank->buf[plane]->size, uint8_t{0});
    avcodec_send_frame(encoder, blank.get());
}

void DrainLeftOpenEncoder(AVCodecContext* encoder) {
    if (!avcodec_is_open(encoder))
        return;
    FeedBlankPicture(encoder);
    if (avcodec_send_frame(encoder, nullptr) < 0)
        return;
    PacketPtr packet = MakePacket();
    if (!packet)
        return;
    const auto deadline = std::chrono::steady_clock::now() + kEncoderDrainLimit;
    while (std::chrono::steady_clock::now() < deadline && avcodec_receive_packet(encoder, packet.get()) >= 0)
        av_packet_unref(packet.get());
}

} // namespace

std::mutex& PreviewLock() {
    static std::mutex lock;
    return lock;
}

TOutputFile::~TOutputFile() {
    AVFormatContext* context = Context;
    if (!context)
        return;
    Streams.clear();
    const bool openedFile = context->oformat && !(context->oformat->flags & AVFMT_NOFILE) && context->pb;
    if (openedFile)
        CloseLibraryIO(&context->pb);
    avformat_free_context(context);
    // An output that never received a byte is not left behind.
    std::error_code error;
    if (openedFile && !FileName.empty() && std::filesystem::is_regular_file(FileName, error) &&
        std::filesystem::file_size(FileName, error) == 0)
        std::filesystem::remove(FileName, error);
}

TCustomFFmpeg::TCustomFFmpeg() {
    Defaults();
}

TCustomFFmpeg::~TCustomFFmpeg() {
    Stop(true);
    if (terminateThread_.joinable())
        WaitForEvent(terminateDoneEvent_);
    FreeAll();
    JoinFinishedThreads();
}

void TCustomFFmpeg::Reset() {
    if (!LibrariesLoaded())
        return;
    if (running_)
        Stop(true);
    JoinFinishedThreads();
    FreeAll();
    Defaults();
    ClearTables();
    joined_ = false;
    running_ = false;
    stopRequested_ = false;
    finished_ = false;
    terminated_ = false;
    totalDuration_ = -1;
    CreateGenericOptions();
}

// A reused engine must not keep the maps and per-file tables of its previous configuration.
void TCustomFFmpeg::ClearTables() {
    InputTsOffset.fill(0);
    for (auto& scales : InputTsScale)
        scales.fill(0.0);
    InputDecoders.fill(nullptr);
    InputDecoderCount = 0;
    OutputEncoders.fill(nullptr);
    OutputEncoderCount = 0;
    StreamMaps.fill({});
    StreamMapCount = 0;
    MetadataMaps.fill({});
    MetadataMapCount = 0;
    StreamIdMap.fill(0);
    for (auto& chains : BsfChains)
        for (auto& chain : chains)
            chain.clear();
}

// Files need the libraries, and the generic option contexts that a reset made with them; an engine
// made before the libraries were loaded gets those contexts now.
bool TCustomFFmpeg::ReadyForFiles() {
    if (!LibrariesLoaded()) {
        lastError_ = "LibAVCodec not loaded.";
        return false;
    }
    if (!Generic)
        CreateGenericOptions();
    return true;
}

void TCustomFFmpeg::CreateGenericOptions() {
    static constexpr AVMediaType kTypes[] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA,
                                             AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_ATTACHMENT};
    Generic = std::make_unique<TGenericOptions>();
    for (size_t i = 0; i < std::size(kTypes); ++i) {
        Generic->CodecContexts[i].reset(avcodec_alloc_context3(nullptr));
        if (!Generic->CodecContexts[i])
            throw FFmpegException("Not enough memory");
        Generic->CodecContexts[i]->codec_type = kTypes[i];
    }
    Generic->FormatContext.reset(avformat_alloc_context());
    Generic->ScalerContext.reset(sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P,
                                                Opt.ScalerFlags, nullptr, nullptr, nullptr));
    if (!Generic->FormatContext || !Generic->ScalerContext)
        throw FFmpegException("Not enough memory");
}

void TCustomFFmpeg::FreeAll() {
    if (!LibrariesLoaded())
        return;
    Generic.reset();
    // Join-mode entries share one context; it is closed when the last of them lets go.
    for (auto& output : OutputFiles)
        output.reset();
    outputFileCount_ = 0;
    for (auto& input : InputFiles)
        input.reset();
    inputFileCount_ = 0;
    Opt.IntraMatrix.reset();
    Opt.InterMatrix.reset();
    Opt.VstatsFile.reset();
    Opt.VstatsFileName.clear();
    Opt.VideoCodecName.clear();
    Opt.AudioCodecName.clear();
    Opt.SubtitleCodecName.clear();
    Opt.VideoStandard.clear();
    Opt.RcOverride.clear();
    Opt.VideoLanguage.clear();
    Opt.AudioLanguage.clear();
    Opt.SubtitleLanguage.clear();
    Opt.SubtitleCodecTag = 0;
    VideoHooks.Release();
    FilterGraph.reset();
    HookConverter.Reset();
    HookPicture.reset();
    PreviewConverter.Reset();
    {
        std::lock_guard lock(PreviewLock());
        Previewer.reset();
    }
}

void TCustomFFmpeg::Defaults() {
    Opt = TOptionState{};
    {
        std::lock_guard lock(PreviewLock());
        previewFlags_ = 0;
    }
    PictureCounter = 0;
    PreviewPictureCounter = 0;
    errorOccurred_ = false;
}

TConvertThread* TCustomFFmpeg::Start(bool threaded, TThreadPriority priority) {
    if (running_ || terminated_)
        return nullptr;
    if (outputFileCount_ <= 0) {
        FailStart("At least one output file must be specified");
        return nullptr;
    }
    if (inputFileCount_ == 0) {
        FailStart("At least one input file must be specified");
        return nullptr;
    }
    running_ = true;
    stopRequested_ = false;
    finished_ = false;
    terminated_ = false;
    if (!threaded) {
        Run();
        return nullptr;
    }
    JoinFinishedThreads();
    // Reset here rather than in the thread, so that a Stop right after Start already waits.
    runDoneEvent_.Reset();
    worker_ = std::make_unique<TConvertThread>(
        [this] {
            Run(); // every step of Run catches its own failures
            runDoneEvent_.Set();
        },
        priority);
    thread_ = worker_.get();
    return worker_.get();
}

void TCustomFFmpeg::FailStart(const std::string& message) {
    FreeAll();
    RecordError(message);
    DoTerminate();
}

void TCustomFFmpeg::RecordError(const std::string& message) {
    Logger().Log(this, llQuiet, message);
    errorOccurred_ = true;
    errorMessage_ = message;
}

void TCustomFFmpeg::RunStep(const std::function<void()>& step) {
    try {
        step();
    } catch (const std::exception& e) {
        RecordError(e.what());
    } catch (...) {
        RecordError("Unknown error");
    }
}

void TCustomFFmpeg::Run() {
    RunStep([this] {
        finished_ = false;
        Transcode();
    });
    RunStep([this] { CloseOpenedCodecs(); });
    RunStep([this] { FreeAll(); });
    RunStep([this] { DoTerminate(); });
}

void TCustomFFmpeg::CloseOpenedCodecs() {
    for (AVCodecContext* encoder : OpenedEncoders)
        DrainLeftOpenEncoder(encoder);
    std::lock_guard lock(CodecLock());
    for (AVCodecContext* encoder : OpenedEncoders)
        av_freep(&encoder->stats_in);
    OpenedEncoders.clear();
    OpenedDecoders.clear();
}

void TCustomFFmpeg::DoTerminate() {
    running_ = false;
    terminated_ = true;
    thread_ = nullptr;
    if (TerminateCallback)
        TerminateCallback(*this);
}

bool TCustomFFmpeg::CheckStopAndPause() {
    if (TConvertThread* thread = thread_.load(); thread && thread->IsCurrentThread() && !stopRequested_)
        thread->WaitWhileSuspended();
    return stopRequested_;
}

void TCustomFFmpeg::WaitForEvent(ManualResetEvent& event) {
    // On the main thread, calls that the worker hands to it keep running, so they cannot
    // dead-lock the wait.
    const bool pump = IsMainThread();
    while (!event.WaitFor(kWaitSlice)) {
        if (pump)
            ProcessMessages();
    }
}

void TCustomFFmpeg::Stop(bool wait) {
    stopRequested_ = true;
    if (!worker_)
        return;
    worker_->Resume();
    if (wait && !worker_->IsCurrentThread())
        WaitForEvent(runDoneEvent_);
}

void TCustomFFmpeg::StopOrTerminate(bool wait) {
    if (running_) {
        Stop(wait);
        return;
    }
    if (terminated_)
        return;
    if (!terminateThread_.joinable()) {
        terminateDoneEvent_.Reset();
        terminateThread_ = std::thread([this] {
            DoTerminate();
            terminateDoneEvent_.Set();
        });
    }
    if (wait)
        WaitForEvent(terminateDoneEvent_);
}

void TCustomFFmpeg::Pause() {
    if (worker_ && thread_ && !worker_->Suspended())
        worker_->Suspend();
}

void TCustomFFmpeg::Resume() {
    if (worker_ && worker_->Suspended())
        worker_->Resume();
}

void TCustomFFmpeg::JoinFinishedThreads() {
    worker_.reset();
    if (terminateThread_.joinable())
        terminateThread_.join();
}

} // namespace tarnel
