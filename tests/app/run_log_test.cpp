// The run log: whole lines from two threads, bounded and single-line text, a cap that drops
// the older half at a line boundary, and a log that cannot be written skipped without harm.
#include "app/run_log.h"

#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <shlwapi.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

using namespace testsupport;

namespace {

std::vector<std::string> Lines(const std::string& path) {
    const std::string text = ReadWholeFile(path);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "a partial last line";
    return lines;
}

// The text after "YYYY-MM-DD hh:mm:ss.mmm [pid:tid] ", or "?" when the line lacks that prefix.
std::string Text(const std::string& line) {
    unsigned y, mo, d, h, mi, s, ms;
    unsigned long pid, tid;
    int length = 0;
    if (std::sscanf(line.c_str(), "%4u-%2u-%2u %2u:%2u:%2u.%3u [%lu:%lu] %n", &y, &mo, &d, &h, &mi,
                    &s, &ms, &pid, &tid, &length) != 9 ||
        length == 0 || line[4] != '-' || line[10] != ' ' || line[19] != '.' ||
        line[length - 2] != ']' || pid != GetCurrentProcessId())
        return "?";
    return line.substr(static_cast<size_t>(length));
}

DWORD SizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
}

} // namespace

TEST(RunLogTest, WholeLinesFromTwoThreadsWithBoundedText) {
    InstallFolder folder{"runlog"};
    CRunLog log(folder / "run.log");
    auto writeLines = [&log](int thread) {
        for (int i = 0; i < 100; ++i)
            log.Write("thread %d line %03d", thread, i);
    };
    std::thread first(writeLines, 1), second(writeLines, 2);
    first.join();
    second.join();
    std::vector<std::string> lines = Lines(log.Path());
    ASSERT_EQ(lines.size(), 200u);
    int next[3] = {0, 0, 0};
    for (const std::string& line : lines) {
        int thread = 0, i = -1;
        ASSERT_EQ(std::sscanf(Text(line).c_str(), "thread %d line %d", &thread, &i), 2) << line;
        ASSERT_TRUE(thread == 1 || thread == 2) << line;
        EXPECT_EQ(i, next[thread]++) << line; // each thread's lines in its order
    }

    const struct {
        std::string format, argument, expected;
    } cases[] = {
        {"manifest: %s", "error 12029\r\nThe attempt to connect failed.\r\n",
         "manifest: error 12029  The attempt to connect failed.  "},
        {"%s", "tab\there", "tab here"},
        {"%s", "下载失败", "下载失败"}, // ANSI text stays as it is
        {"no arguments, 100%% sure", "", "no arguments, 100% sure"},
    };
    for (const auto& c : cases) {
        log.Write(c.format.c_str(), c.argument.c_str());
        EXPECT_EQ(Text(Lines(log.Path()).back()), c.expected);
    }
    const std::string longText(5000, 'x');
    log.Write("%s", longText.c_str());
    const std::string last = Lines(log.Path()).back();
    EXPECT_EQ(last.size(), CRunLog::kMaxLineBytes - 2u);
    EXPECT_EQ(Text(last), longText.substr(0, Text(last).size() - 3) + "...");
}

TEST(RunLogTest, TheCapDropsTheOlderHalfAtALineBoundary) {
    InstallFolder folder{"runlog-cap"};
    CRunLog log(folder / "run.log", CRunLog::kMinCapBytes);
    const std::string padding(60, '-');
    DWORD before = 0;
    int trims = 0;
    for (int i = 0; i < 400; ++i) {
        log.Write("line %04d %s", i, padding.c_str());
        const DWORD size = SizeOf(log.Path());
        ASSERT_LE(size, CRunLog::kMinCapBytes) << i;
        if (size < before) {
            ++trims;
            EXPECT_LE(size, CRunLog::kMinCapBytes / 2 + 120) << i;
            EXPECT_GE(size, CRunLog::kMinCapBytes / 2 - 120) << i;
        }
        before = size;
    }
    EXPECT_GE(trims, 2);
    // Whole lines only, the newest last and none missing after the oldest kept.
    const std::vector<std::string> lines = Lines(log.Path());
    ASSERT_FALSE(lines.empty());
    int first = -1;
    ASSERT_EQ(std::sscanf(Text(lines.front()).c_str(), "line %d", &first), 1) << lines.front();
    EXPECT_GT(first, 0);
    for (size_t i = 0; i < lines.size(); ++i) {
        char expected[16];
        std::snprintf(expected, sizeof(expected), "line %04d ", first + static_cast<int>(i));
        EXPECT_EQ(Text(lines[i]), expected + padding);
    }
    EXPECT_EQ(first + static_cast<int>(lines.size()), 400);
}

TEST(RunLogTest, ALogThatCannotBeWrittenIsSkipped) {
    InstallFolder folder{"runlog-skip"};
    for (const std::string& path : {std::string(), folder / "missing\\run.log", folder.Path(),
                                    std::string("Q:\\no such drive\\run.log")}) {
        CRunLog log(path);
        log.Write("dropped %s", "quietly");
    }
    EXPECT_FALSE(PathFileExistsA((folder / "missing").c_str()) != FALSE);

    // Held by another program without sharing: that line is dropped, later ones are written.
    CRunLog log(folder / "run.log");
    log.Write("first");
    HANDLE holder = CreateFileA(log.Path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    log.Write("while held");
    CloseHandle(holder);
    log.Write("after");
    const std::vector<std::string> lines = Lines(log.Path());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Text(lines[0]), "first");
    EXPECT_EQ(Text(lines[1]), "after");

    // The process's own log is in the temporary folder.
    char temp[MAX_PATH + 1];
    ASSERT_NE(GetTempPathA(sizeof(temp), temp), 0u);
    EXPECT_EQ(RunLog().Path(), std::string(temp) + "Quillmarket-Updater.log");
}
