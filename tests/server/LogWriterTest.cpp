#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogWriter.h"
#include "PollLoop.h"
#include "SocketLayer.h"
#include "TestSupport.h"

using namespace std::chrono_literals;

// A reader that stalls: the writer never waits for it. Lines that do not fit
// its buffer are dropped and counted, the notice stands where they were, and
// the loop writes the rest once the reader takes it. On a journal the notice
// carries its priority like any line.
TEST(CLogWriterTest, LinesThatDoNotFitAreCountedWhereTheyWereLost)
{
    ASSERT_FALSE(SocketLayerStartup());
    CPollLoop loop;
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC | O_NONBLOCK), 0);
    ASSERT_GT(::fcntl(pipe[1], F_SETPIPE_SZ, 4096), 0);
    std::vector<std::string> written;
    {
        CLogWriter writer(pipe[1], 1000);
        writer.SetNoticePrefix("<4>");
        // 4096 bytes fill the pipe, 1000 the writer's buffer: 200 lines of
        // 50 bytes cannot all wait.
        for (int i = 0; i < 200; ++i) {
            std::string line = "line " + std::to_string(i);
            line.resize(49, '.');
            writer.WriteLine(line);
        }
        std::string read;
        const auto readUntil = [&](const std::string& end) {
            return PumpUntil(loop, [&] {
                char buf[65536];
                const ssize_t n = ::read(pipe[0], buf, sizeof buf);
                if (n > 0)
                    read.append(buf, static_cast<std::size_t>(n));
                return read.ends_with(end);
            });
        };
        ASSERT_TRUE(readUntil(" log lines dropped\n"));
        writer.WriteLine("after");
        ASSERT_TRUE(readUntil("after\n"));
        for (std::size_t start = 0, end; (end = read.find('\n', start)) != std::string::npos; start = end + 1)
            written.push_back(read.substr(start, end - start));
        EXPECT_EQ(writer.Flush(CEventLoop::Clock::now()), 0u);
    }
    ::close(pipe[0]);
    ::close(pipe[1]);

    // The lines that went, in order, then the notice, then the line after.
    ASSERT_GE(written.size(), 3u);
    const std::size_t kept = written.size() - 2;
    for (std::size_t i = 0; i < kept; ++i)
        EXPECT_TRUE(written[i].starts_with("line " + std::to_string(i) + ".")) << written[i];
    EXPECT_EQ(written[kept], "<4>" + CLogWriter::DroppedNotice(200 - kept));
    EXPECT_EQ(written.back(), "after");
}
