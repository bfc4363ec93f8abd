#include "base/FFmpegLogger.h"
#include "base/MainThread.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

using namespace tarnel;

namespace {

struct Line {
    const void* sender;
    uint32_t threadId;
    TLogLevel level;
    std::string text;
    std::thread::id handlerThread;
};

// Captures delivered lines directly in the logging thread, and restores the logger afterwards.
class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Logger().InstallLogBridge();
        Logger().SetLogLevel(llInfo);
        Logger().SetTriggerEventInMainThread(false);
        Logger().SetOnLog(
            [this](const void* sender, uint32_t thread, TLogLevel level, const std::string& text) {
                std::lock_guard lock(mutex_);
                lines_.push_back({sender, thread, level, text, std::this_thread::get_id()});
            });
    }
    void TearDown() override {
        Logger().SetOnLog(nullptr);
        Logger().SetTriggerEventInMainThread(true);
        Logger().SetLogLevel(llInfo);
    }
    std::vector<Line> Lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

    std::mutex mutex_;
    std::vector<Line> lines_;
};

TEST(LogLevelConversion, LibraryLevelsMapToLogLevels) {
    const std::pair<int, TLogLevel> cases[] = {{-8, llQuiet}, {-7, llPanic},   {0, llPanic},  {7, llPanic},
                                               {8, llFatal},  {15, llFatal},   {16, llError}, {24, llWarning},
                                               {32, llInfo},  {40, llVerbose}, {48, llDebug}, {56, llDebug}};
    for (const auto& [library, level] : cases)
        EXPECT_EQ(LibraryToLogLevel(library), level) << "library level " << library;
    EXPECT_EQ(LogLevelToLibrary(llQuiet), -8);
    EXPECT_EQ(LogLevelToLibrary(llWarning), 24);
    EXPECT_EQ(LogLevelToLibrary(llDebug), 48);
}

TEST_F(LoggerTest, DeliveryRuleLetsVerboseThroughUnlessQuiet) {
    Logger().SetLogLevel(llError);
    Logger().Log(this, llVerbose, "stats");
    Logger().Log(this, llInfo, "info is above error");
    Logger().Log(this, llError, "error");
    Logger().SetLogLevel(llQuiet);
    Logger().Log(this, llVerbose, "not when quiet");
    Logger().LogFmt(this, llQuiet, "quiet %d", 7);

    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "stats");
    EXPECT_EQ(lines[0].sender, this);
    EXPECT_EQ(lines[0].threadId, CurrentThreadId());
    EXPECT_EQ(lines[1].text, "error");
    EXPECT_EQ(lines[2].text, "quiet 7");
}

TEST_F(LoggerTest, SetLogLevelByName) {
    Logger().SetLogLevelByName("WARNING");
    EXPECT_EQ(Logger().LogLevel(), llWarning);
    EXPECT_EQ(av_log_get_level(), 24);
    Logger().SetLogLevelByName("20");
    EXPECT_EQ(Logger().LogLevel(), llError);
    Logger().SetLogLevelByName("debug");
    EXPECT_EQ(Logger().LogLevel(), llDebug);
    EXPECT_THROW(Logger().SetLogLevelByName("loud"), std::invalid_argument);
    EXPECT_THROW(Logger().SetLogLevelByName("12x"), std::invalid_argument);
    EXPECT_EQ(Logger().LogLevel(), llDebug);
}

TEST_F(LoggerTest, BridgeFiltersByLibraryLevelAndConvertsLevels) {
    av_log(nullptr, AV_LOG_VERBOSE, "dropped before formatting\n");
    av_log(nullptr, AV_LOG_WARNING, "warned %s\n", "here");

    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "warned here");
    EXPECT_EQ(lines[0].level, llWarning);
    EXPECT_EQ(lines[0].sender, &Logger());
}

TEST_F(LoggerTest, BridgeJoinsFragmentsIntoOneLineWithOnePrefix) {
    AVFormatContext* context = avformat_alloc_context();
    const AVClass* avClass = *reinterpret_cast<AVClass**>(context);
    const std::string name = avClass->item_name(context);
    av_log(context, AV_LOG_INFO, "abc");
    EXPECT_TRUE(Lines().empty());
    av_log(context, AV_LOG_INFO, "def\nrest");
    av_log(nullptr, AV_LOG_INFO, "abc");
    av_log(nullptr, AV_LOG_INFO, "def\n");
    avformat_free_context(context);

    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<void*>(context));
    EXPECT_EQ(lines[0].text, "[" + name + " @ " + address + "] abcdef");
    // The second line continues the pending "rest": the prefix marks only the start of a line.
    EXPECT_EQ(lines[1].text, "restabcdef");
    EXPECT_EQ(Logger().PendingText(CurrentThreadId()), "");
}

TEST_F(LoggerTest, BridgeKeepsEachThreadsFragmentsApart) {
    std::mutex turnMutex;
    std::condition_variable turnChanged;
    int turn = 0;
    auto fragments = [&](int first, const char* a, const char* b) {
        auto takeTurn = [&](int mine, const char* text) {
            std::unique_lock lock(turnMutex);
            turnChanged.wait(lock, [&] { return turn == mine; });
            av_log(nullptr, AV_LOG_INFO, "%s", text);
            ++turn;
            turnChanged.notify_all();
        };
        takeTurn(first, a);
        takeTurn(first + 2, b);
    };
    std::thread one(fragments, 0, "one-a ", "one-b\n");
    std::thread two(fragments, 1, "two-a ", "two-b\n");
    one.join();
    two.join();

    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "one-a one-b");
    EXPECT_EQ(lines[1].text, "two-a two-b");
    EXPECT_NE(lines[0].threadId, lines[1].threadId);
}

TEST_F(LoggerTest, DeliversInTheMainThreadWhenAsked) {
    Logger().SetTriggerEventInMainThread(true);
    std::thread worker([] { Logger().Log(nullptr, llInfo, "from worker"); });
    // The worker blocks until the main thread runs its call.
    while (Lines().empty())
        ProcessMessages();
    worker.join();

    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "from worker");
    EXPECT_NE(lines[0].threadId, CurrentThreadId());
    EXPECT_EQ(lines[0].handlerThread, std::this_thread::get_id());
}

} // namespace
