// The single log sink of the media components, and the bridge that turns the media libraries' own
// log output into whole lines per thread.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

namespace tarnel {

enum TLogLevel { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// (ordinal - 1) x 8: llQuiet is -8, llDebug 48.
int LogLevelToLibrary(TLogLevel level);
// (n div 8) + 1, truncating toward zero, clamped to llQuiet .. llDebug.
TLogLevel LibraryToLogLevel(int libraryLevel);

using TLogEvent =
    std::function<void(const void* sender, uint32_t threadId, TLogLevel level, const std::string& message)>;

class TFFLogger {
public:
    static TFFLogger& Instance();
    TFFLogger(const TFFLogger&) = delete;
    TFFLogger& operator=(const TFFLogger&) = delete;

    TLogLevel LogLevel() const;
    void SetLogLevel(TLogLevel level);
    // quiet, panic, fatal, error, warning, info, verbose, debug (any case) or a decimal library level.
    // Throws std::invalid_argument for other text.
    void SetLogLevelByName(const std::string& name);

    bool TriggerEventInMainThread() const;
    void SetTriggerEventInMainThread(bool value);

    void SetOnLog(TLogEvent handler);

    // Delivered when level <= LogLevel, or level is llVerbose and LogLevel is not llQuiet.
    void Log(const void* sender, TLogLevel level, const std::string& message);
    void LogFmt(const void* sender, TLogLevel level, const char* format, ...)
        __attribute__((format(printf, 4, 5)));

    // Makes the bridge the libraries' log callback and applies LogLevel to them.
    void InstallLogBridge();

    // The bridge itself: what the libraries call from any thread.
    static void LibraryLogCallback(void* context, int level, const char* format, va_list args);

    // Delivers one finished line of the bridge, without the LogLevel rule (the library level
    // already filtered it).
    void LogLine(uint32_t threadId, TLogLevel level, const std::string& line);

    // Text that a thread has sent through the bridge without a closing line feed yet.
    std::string PendingText(uint32_t threadId) const;

private:
    TFFLogger();
    void Deliver(const void* sender, uint32_t threadId, TLogLevel level, const std::string& message);
    void BridgeMessage(void* context, int level, const char* format, va_list args);
    static bool ShouldDeliver(TLogLevel level, TLogLevel logLevel);

    mutable std::mutex mutex_;
    TLogLevel logLevel_;              // guarded by mutex_; the libraries' level mirrors it
    bool triggerInMainThread_ = true; // guarded by mutex_
    TLogEvent onLog_;                 // guarded by mutex_

    mutable std::mutex linesMutex_;
    std::unordered_map<uint32_t, std::string> pendingLines_; // guarded by linesMutex_
};

inline TFFLogger& Logger() {
    return TFFLogger::Instance();
}

// The calling thread's identifier as the logger reports it.
uint32_t CurrentThreadId();

} // namespace tarnel
