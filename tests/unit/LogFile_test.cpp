// The support log's file on real files: bounded by whole runs, and whole lines from any thread.
#include "log/LogFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <thread>
#include <vector>

#include "TempFolder.h"

namespace {

constexpr uint32_t kLimit = 4096;
const std::string kStamp = "2026-01-01 00:00:00.000 ";

std::string Bytes(const std::wstring& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// A run of an earlier start: its start line, then lines up to about the given size.
std::string OldRun(char mark, size_t bytes) {
    std::string run = kStamp + "=== run start\r\n";
    while (run.size() < bytes)
        run += kStamp + std::string(70, mark) + "\r\n";
    return run;
}

// The file keeps, of the runs before, the newest whole ones that fit in half the limit; the new run
// follows them and stops short of the limit however much it has to say.
TEST(LogFile, OldestRunsGiveWayAndNoRunGrowsPastTheLimit) {
    const struct {
        std::string before, kept;
    } cases[] = {
        {OldRun('a', 900), OldRun('a', 900)},
        {OldRun('a', 900) + OldRun('b', 900) + OldRun('c', 900), OldRun('b', 900) + OldRun('c', 900)},
        {OldRun('a', 900) + OldRun('b', 3000), ""},
    };
    TempFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before.size());
        const std::wstring path = folder.Put(L"run.log", c.before);
        {
            LogFile log(path.c_str(), kLimit);
            for (int line = 0; line < 100; ++line)
                log.WriteLine("new run line " + std::to_string(line));
        }
        const std::string after = Bytes(path);
        EXPECT_EQ(c.kept, after.substr(0, c.kept.size()));
        EXPECT_EQ(after.find("=== run start", c.kept.size()), c.kept.size() + kStamp.size());
        EXPECT_NE(std::string::npos, after.find("new run line 0\r\n"));
        EXPECT_LE(after.size(), kLimit);
        EXPECT_GT(after.size(), kLimit - 64) << "the new run had the rest of the limit";
        EXPECT_EQ("\r\n", after.substr(after.size() - 2));
    }
}

// The page's thread and workers write at once: every line arrives whole, on a line of its own.
TEST(LogFile, LinesOfThreadsNeverMix) {
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 5000;
    TempFolder folder;
    const std::wstring path = folder / L"threads.log";
    {
        LogFile log(path.c_str(), 16 * kLogLimitBytes);
        std::vector<std::thread> threads;
        for (int thread = 0; thread < kThreads; ++thread) {
            threads.emplace_back([&log, thread] {
                for (int n = 0; n < kLinesEach; ++n)
                    log.WriteLine(std::string(40, static_cast<char>('a' + thread)));
            });
        }
        for (std::thread& thread : threads)
            thread.join();
    }
    std::ifstream file(path.c_str(), std::ios::binary);
    std::map<std::string, int> counts;
    for (std::string line; std::getline(file, line);)
        ++counts[line.substr(std::min(line.size(), kStamp.size()))];
    std::map<std::string, int> expected = {{"=== run start\r", 1}};
    for (int thread = 0; thread < kThreads; ++thread)
        expected[std::string(40, static_cast<char>('a' + thread)) + "\r"] = kLinesEach;
    EXPECT_EQ(expected, counts);
}

}  // namespace
