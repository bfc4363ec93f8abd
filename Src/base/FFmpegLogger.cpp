#include "base/FFmpegLogger.h"

#include "base/MainThread.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

namespace tarnel {

namespace {

constexpr size_t kLibraryMessageBytes = 2048;

std::string Lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// "[name @ address] " for a library context object; its class supplies the name.
std::string ContextPrefix(void* context) {
    if (!context)
        return {};
    const AVClass* avClass = *static_cast<AVClass**>(context);
    const char* name = avClass && avClass->item_name ? avClass->item_name(context) : "?";
    char prefix[128];
    std::snprintf(prefix, sizeof prefix, "[%s @ %p] ", name, context);
    return prefix;
}

} // namespace

int LogLevelToLibrary(TLogLevel level) {
    return (static_cast<int>(level) - 1) * 8;
}

TLogLevel LibraryToLogLevel(int libraryLevel) {
    const int v = libraryLevel / 8 + 1;
    if (v < 0)
        return llQuiet;
    if (v >= 7)
        return llDebug;
    return static_cast<TLogLevel>(v);
}

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(::syscall(SYS_gettid));
}

TFFLogger::TFFLogger()
    : logLevel_(LibraryToLogLevel(av_log_get_level())) {}

// Never destroyed: the libraries may log from other threads while the process exits.
TFFLogger& TFFLogger::Instance() {
    static TFFLogger* const logger = new TFFLogger;
    return *logger;
}

TLogLevel TFFLogger::LogLevel() const {
    std::lock_guard lock(mutex_);
    return logLevel_;
}

void TFFLogger::SetLogLevel(TLogLevel level) {
    std::lock_guard lock(mutex_);
    if (level == logLevel_)
        return;
    logLevel_ = level;
    av_log_set_level(LogLevelToLibrary(level));
}

void TFFLogger::SetLogLevelByName(const std::string& name) {
    static const std::pair<const char*, int> kNames[] = {
        {"quiet", -8},   {"panic", 0}, {"fatal", 8},    {"error", 16},
        {"warning", 24}, {"info", 32}, {"verbose", 40}, {"debug", 48},
    };
    const std::string lower = Lowercase(name);
    for (const auto& [known, level] : kNames) {
        if (lower == known) {
            SetLogLevel(LibraryToLogLevel(level));
            return;
        }
    }
    size_t used = 0;
    int level = 0;
    try {
        level = std::stoi(name, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != name.size())
        throw std::invalid_argument("'" + name + "' is not a valid integer value");
    SetLogLevel(LibraryToLogLevel(level));
}

bool TFFLogger::TriggerEventInMainThread() const {
    std::lock_guard lock(mutex_);
    return triggerInMainThread_;
}

void TFFLogger::SetTriggerEventInMainThread(bool value) {
    std::lock_guard lock(mutex_);
    triggerInMainThread_ = value;
}

void TFFLogger::SetOnLog(TLogEvent handler) {
    std::lock_guard lock(mutex_);
    onLog_ = std::move(handler);
}

bool TFFLogger::ShouldDeliver(TLogLevel level, TLogLevel logLevel) {
    return level <= logLevel || (level == llVerbose && logLevel != llQuiet);
}

void TFFLogger::Log(const void* sender, TLogLevel level, const std::string& message) {
    if (!ShouldDeliver(level, LogLevel()))
        return;
    Deliver(sender, CurrentThreadId(), level, message);
}

void TFFLogger::LogFmt(const void* sender, TLogLevel level, const char* format, ...) {
    if (!ShouldDeliver(level, LogLevel()))
        return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string message(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(message.data(), message.size() + 1, format, args);
    va_end(args);
    Deliver(sender, CurrentThreadId(), level, message);
}

void TFFLogger::LogLine(uint32_t threadId, TLogLevel level, const std::string& line) {
    Deliver(this, threadId, level, line);
}

// Each delivery hands the handler its own copies, so concurrent deliveries never share fields.
void TFFLogger::Deliver(const void* sender, uint32_t threadId, TLogLevel level, const std::string& message) {
    TLogEvent handler;
    bool inMainThread;
    {
        std::lock_guard lock(mutex_);
        if (!onLog_)
            return;
        handler = onLog_;
        inMainThread = triggerInMainThread_;
    }
    if (inMainThread)
        CallInMainThread([&] { handler(sender, threadId, level, message); });
    else
        handler(sender, threadId, level, message);
}

void TFFLogger::InstallLogBridge() {
    std::lock_guard lock(mutex_);
    av_log_set_level(LogLevelToLibrary(logLevel_));
    av_log_set_callback(&TFFLogger::LibraryLogCallback);
}

void TFFLogger::LibraryLogCallback(void* context, int level, const char* format, va_list args) {
    Instance().BridgeMessage(context, level, format, args);
}

void TFFLogger::BridgeMessage(void* context, int level, const char* format, va_list args) {
    if (av_log_get_level() < level)
        return;
    char message[kLibraryMessageBytes] = {};
    std::vsnprintf(message, sizeof message, format, args);

    const uint32_t threadId = CurrentThreadId();
    std::vector<std::string> lines;
    {
        std::lock_guard lock(linesMutex_);
        std::string& pending = pendingLines_[threadId];
        if (pending.empty())
            pending = ContextPrefix(context);
        pending += message;
        size_t lineFeed;
        while ((lineFeed = pending.find('\n')) != std::string::npos) {
            lines.push_back(pending.substr(0, lineFeed));
            pending.erase(0, lineFeed + 1);
        }
    }
    for (const std::string& line : lines)
        LogLine(threadId, LibraryToLogLevel(level), line);
}

std::string TFFLogger::PendingText(uint32_t threadId) const {
    std::lock_guard lock(linesMutex_);
    auto found = pendingLines_.find(threadId);
    return found == pendingLines_.end() ? std::string() : found->second;
}

} // namespace tarnel
