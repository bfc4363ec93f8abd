#include "LogCapture.h"

#include <algorithm>
#include <utility>

namespace tarnel::test {

LogCapture::LogCapture(TLogLevel level)
    : savedLevel_(Logger().LogLevel())
    , savedTrigger_(Logger().TriggerEventInMainThread()) {
    Logger().SetLogLevel(level);
    Logger().SetTriggerEventInMainThread(false);
    Logger().SetOnLog(
        [store = store_](const void* sender, uint32_t, TLogLevel lineLevel, const std::string& text) {
            std::lock_guard lock(store->mutex);
            store->lines.push_back({sender, lineLevel, text});
        });
}

LogCapture::~LogCapture() {
    Logger().SetOnLog(nullptr);
    Logger().SetTriggerEventInMainThread(savedTrigger_);
    Logger().SetLogLevel(savedLevel_);
}

std::vector<LogLine> LogCapture::Lines() const {
    std::lock_guard lock(store_->mutex);
    return store_->lines;
}

std::vector<LogLine> LogCapture::LinesFrom(const void* sender) const {
    std::vector<LogLine> lines = Lines();
    std::erase_if(lines, [sender](const LogLine& line) { return line.sender != sender; });
    return lines;
}

std::vector<LogLine> LogCapture::Take() {
    std::lock_guard lock(store_->mutex);
    return std::exchange(store_->lines, {});
}

void LogCapture::Clear() {
    Take();
}

int LogCapture::Count(const std::string& text) const {
    const std::vector<LogLine> lines = Lines();
    return static_cast<int>(std::ranges::count_if(
        lines, [&](const LogLine& line) { return line.text.find(text) != std::string::npos; }));
}

bool LogCapture::Logged(TLogLevel level, const std::string& text) const {
    const std::vector<LogLine> lines = Lines();
    return std::ranges::any_of(lines, [&](const LogLine& line) {
        return line.level == level && line.text.find(text) != std::string::npos;
    });
}

} // namespace tarnel::test
