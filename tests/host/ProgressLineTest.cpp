// The progress line of `wavecatch capture` on a terminal: nothing for a
// block that ends within half a second; for a slow one a line redrawn in
// place that ends with the block's total and a line feed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "host/TransferProgress.h"

namespace cvn::host::test {
namespace {

std::string drain(int fd) {
    std::string out;
    char buf[512];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    return out;
}

TEST(ProgressLine, OnlySlowBlocksLeaveALinePerDataSet) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    {
        ProgressLine line(fds[1]);
        line.update("CHAN1", 1000000, 2000000);
        line.update("CHAN1", 2000000, 2000000);
        line.update("CHAN2", 1000000, 16000000);
        std::this_thread::sleep_for(ProgressLine::kShowAfter + std::chrono::milliseconds(50));
        line.update("CHAN2", 8000000, 16000000);
        line.update("CHAN2", 16000000, 16000000);
    }
    ::close(fds[1]);
    const std::string out = drain(fds[0]);
    ::close(fds[0]);
    EXPECT_EQ(out.find("CHAN1"), std::string::npos) << out;
    ASSERT_NE(out.find("\rCHAN2"), std::string::npos) << out;
    EXPECT_NE(out.find("8.0 of 16.0 MB"), std::string::npos) << out;
    EXPECT_NE(out.find("16.0 of 16.0 MB"), std::string::npos) << out;
    EXPECT_NE(out.find("MB/s"), std::string::npos) << out;
    EXPECT_NE(out.find("s left"), std::string::npos) << out;
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
}

}  // namespace
}  // namespace cvn::host::test
