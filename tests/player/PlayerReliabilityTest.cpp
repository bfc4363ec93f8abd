// The player under abuse: many open/close cycles, seek storms, and a reader stuck in a read.
#include "LogCapture.h"
#include "PlayerSupport.h"
#include "TestSupport.h"

#include <fcntl.h>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tarnel {
namespace {

using namespace std::chrono_literals;
using test::Fixtures;
using test::RecordingPlayer;
using test::TempDir;

TEST(PlayerReliability, HundredOpenCloseCyclesWithAndWithoutWaiting) {
    RecordingPlayer rec;
    const std::string files[] = {Fixtures().h264AacMp4, Fixtures().audioOnly, Fixtures().videoOnly};
    for (int cycle = 0; cycle < 100; ++cycle) {
        ASSERT_TRUE(rec.Open(files[cycle % 3])) << "cycle " << cycle << ": " << rec.player.LastError();
        if (cycle % 4 == 3)
            std::this_thread::sleep_for(50ms);
        rec.player.Close(cycle % 2 == 0);
    }
    rec.player.Close(true);
    // Consecutive state events merge (the newest wins), so a slow event thread may see a play and
    // the stop that followed it as one stop. Every cycle still reports, and the last word is a stop.
    ASSERT_TRUE(rec.WaitForLastState(psStop, 10s));
    EXPECT_GE(rec.Count(psPlay) + rec.Count(psStop), 100);
    EXPECT_LE(rec.Count(psPlay), 100);
    EXPECT_TRUE(rec.player.IsPaused());
}

TEST(PlayerReliability, SeekStormWhilePlayingAndWhilePaused) {
    RecordingPlayer rec;
    ASSERT_TRUE(rec.Open(Fixtures().h264AacMp4)) << rec.player.LastError();
    ASSERT_TRUE(rec.WaitForState(psPlay));
    std::mt19937 random(7);
    std::uniform_int_distribution<int64_t> position(-500000, 3500000);
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 60; ++i) {
            rec.player.Seek(position(random), static_cast<uint8_t>(i % 2 ? 4 : 0), i % 10 == 0);
            if (i % 7 == 0)
                std::this_thread::sleep_for(5ms);
        }
        rec.player.Pause();
    }
    EXPECT_TRUE(rec.player.IsPaused());
    rec.player.Seek(2500000, 0, true);
    rec.player.Resume();
    ASSERT_TRUE(rec.WaitForState(psEnd, 15s));
}

// A reader blocked inside a read of a pipe that stays open without data.
TEST(PlayerReliability, CloseReturnsWhileTheReaderIsBlockedInARead) {
    TempDir dir;
    const std::string fifo = (dir / "stream.ts").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::ifstream source(Fixtures().mpeg2Ts, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(source)), std::istreambuf_iterator<char>());

    std::promise<void> release;
    std::thread writer([&] {
        const int fd = open(fifo.c_str(), O_WRONLY);
        if (fd < 0)
            return;
        const size_t half = bytes.size() / 2;
        for (size_t done = 0; done < half;) {
            const ssize_t n = write(fd, bytes.data() + done, half - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        release.get_future().wait(); // keeps the pipe open with no more data
        close(fd);
    });

    test::LogCapture log(llWarning);
    auto rec = std::make_unique<RecordingPlayer>();
    ASSERT_TRUE(rec->Open(fifo)) << rec->player.LastError();
    ASSERT_TRUE(rec->WaitForPosition(300000));
    std::this_thread::sleep_for(1500ms); // the data runs out; the reader waits in read()

    auto closing = std::async(std::launch::async, [&] { rec->player.Close(true); });
    const bool returned = closing.wait_for(30s) == std::future_status::ready;
    release.set_value();
    writer.join();
    EXPECT_TRUE(returned);
    closing.wait();
    EXPECT_TRUE(log.Logged(llWarning, "the reader does not return"));
    EXPECT_TRUE(rec->WaitForState(psStop, 5s));
    rec.reset();
    std::this_thread::sleep_for(300ms); // the reader left behind ends once its read returns
}

} // namespace
} // namespace tarnel
