// Collects what the process logger delivers while a test runs, and puts the logger back afterwards.
#pragma once

#include "base/FFmpegLogger.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarnel::test {

struct LogLine {
    const void* sender;
    TLogLevel level;
    std::string text;
};

// While it lives, every line the logger delivers is kept here, delivered in the logging thread.
// On destruction the logger gets back its previous level and thread choice, and no handler.
class LogCapture {
public:
    explicit LogCapture(TLogLevel level = llInfo);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogLine> Lines() const;
    std::vector<LogLine> LinesFrom(const void* sender) const;
    // The lines so far, forgetting them.
    std::vector<LogLine> Take();
    void Clear();
    // Lines containing `text`.
    int Count(const std::string& text) const;
    // Whether a line of `level` contains `text`.
    bool Logged(TLogLevel level, const std::string& text) const;

private:
    // Shared with the handler, so a delivery still running after destruction writes into live memory.
    struct Store {
        std::mutex mutex;
        std::vector<LogLine> lines; // guarded by mutex
    };

    std::shared_ptr<Store> store_ = std::make_shared<Store>();
    TLogLevel savedLevel_;
    bool savedTrigger_;
};

} // namespace tarnel::test
