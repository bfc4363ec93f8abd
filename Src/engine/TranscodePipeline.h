// The reading side of a pipelined run: TReadAhead reads the input packets, corrects their timestamps
// and decodes sound and pictures on a thread of its own; the run's thread takes what it made, in
// reading order, through a queue bounded by memory.
#pragma once

#include "base/LibHandles.h"
#include "engine/TranscodeTables.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnel {

class TCustomFFmpeg;

// The time one decoded picture or block of samples covers, in µs (OutputPacket.cpp).
int64_t DecodedDuration(const TInputStream& ist, const AVFrame* frame);
// Replaces the decoded picture with its upright copy; false when the libraries fail.
bool TurnUpright(TInputStream& ist, AVFrame* frame);

// One decoded picture or block of samples, with the stream's clock as it stood when it was decoded.
struct TDecodedData {
    FramePtr Frame;      // null when it comes before the start time and reaches no output
    int64_t Pts = 0;     // µs
    int64_t NextPts = 0; // µs
    int Quality = 0;     // pictures: the decoder's quality
    int32_t Counter = 0; // pictures: the hook's picture counter
};

// What one read gave.
struct TReadItem {
    enum class TKind {
        Packet,   // a packet for the run's thread to copy or decode (copied and subtitle streams)
        Decoded,  // a packet that was decoded here, and what its decoder gave
        Past,     // a packet past the recording time
        End,      // the end of FileIndex (or a read error)
        Finished, // every stream is past the recording time: nothing more is read
        Failure,  // the input stopped answering: Text
        Error     // an exception on the reading thread: Error
    };
    TKind Kind = TKind::Finished;
    int FileIndex = 0;
    int InputIndex = 0;
    PacketPtr Packet;
    int64_t PacketDts = AV_NOPTS_VALUE; // Decoded: the packet's decoding time in µs
    std::vector<TDecodedData> Decoded;
    int Result = 0; // Decoded: -1 when decoding failed
    std::string Text;
    std::exception_ptr Error;
    size_t Bytes = 0; // the memory its pictures and samples hold
};

class TReadAhead {
public:
    TReadAhead(TCustomFFmpeg& engine, TTranscodeRun& run);
    ~TReadAhead(); // Quit
    TReadAhead(const TReadAhead&) = delete;
    TReadAhead& operator=(const TReadAhead&) = delete;

    void Start(int fileIndex);
    // The next item in reading order; false when the reading thread has ended without one.
    bool Pop(TReadItem& item);
    // Join mode: after the End of a file, reading goes on with `fileIndex`.
    void ContinueWith(int fileIndex);
    // Ends the reading thread and waits for it.
    void Quit();

    // What the queue may hold: items, and bytes of pictures and samples (at least one item).
    static constexpr size_t kMaxItems = 256;
    static constexpr size_t kMaxBytes = size_t{24} << 20;

private:
    // The stream's clock as the run's thread will see it once it has taken everything read so far.
    struct TClock {
        int64_t Pts = 0;
        int64_t NextPts = AV_NOPTS_VALUE;
        bool PastRecordingTime = false;
    };

    void Loop(int fileIndex);
    bool ReadFile(int fileIndex, AVPacket* packet);
    void ReadPacket(int fileIndex, AVPacket* packet);
    void DecodePacket(TReadItem& item, TInputStream& ist, const AVPacket* packet);
    bool EveryStreamPast() const;
    bool Push(TReadItem&& item); // waits while the queue is full; false once quitting
    int WaitForNextFile();       // join mode; -1 once quitting

    TCustomFFmpeg& engine_;
    TTranscodeRun& run_;
    std::vector<TClock> clocks_; // by input stream, used on the reading thread only
    std::vector<int> sources_;   // input streams the outputs take
    FramePtr frame_;

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<TReadItem> queue_;
    size_t bytes_ = 0;
    bool quit_ = false;
    bool ended_ = false;
    int nextFile_ = -1;
    std::thread thread_;
};

} // namespace tarnel
