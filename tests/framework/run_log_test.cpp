// The run log's own rules; the updater runs read the texts of real runs, and the log's place.
#include "framework/run_log.h"

#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <vector>

using namespace testsupport;

namespace {

// The text of each line after "YYYY-MM-DD hh:mm:ss.mmm [pid:tid] ", or "?" without it.
std::vector<std::string> Texts(const std::string& path) {
    static const std::regex prefix(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[(\d+):\d+\] (.*))");
    const std::string text = ReadWholeFile(path);
    std::vector<std::string> texts;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = text.substr(start, end - start);
        std::smatch m;
        const bool ok =
            std::regex_match(line, m, prefix) && std::stoul(m[1]) == GetCurrentProcessId();
        texts.push_back(ok ? m[2].str() : "?");
    }
    EXPECT_EQ(start, text.size()) << "a partial last line";
    return texts;
}

} // namespace

TEST(RunLogTest, WholeLinesFromTwoThreads) {
    InstallFolder folder{"runlog"};
    CRunLog log(folder / "run.log");
    auto writeLines = [&log](int thread) {
        for (int i = 0; i < 100; ++i)
            log.Write("thread %d line %03d", thread, i);
    };
    std::thread first(writeLines, 1), second(writeLines, 2);
    first.join();
    second.join();
    const std::vector<std::string> texts = Texts(log.Path());
    ASSERT_EQ(texts.size(), 200u);
    int next[3] = {0, 0, 0};
    for (const std::string& text : texts) {
        int thread = 0, i = -1;
        ASSERT_EQ(std::sscanf(text.c_str(), "thread %d line %d", &thread, &i), 2) << text;
        ASSERT_TRUE(thread == 1 || thread == 2) << text;
        EXPECT_EQ(i, next[thread]++) << text; // each thread's lines in its order
    }
}

TEST(RunLogTest, TheCapDropsTheOlderHalfAtALineBoundary) {
    InstallFolder folder{"runlog-cap"};
    CRunLog log(folder / "run.log", CRunLog::kMinCapBytes);
    const std::string padding(60, '-');
    size_t before = 0;
    int trims = 0;
    for (int i = 0; i < 400; ++i) {
        log.Write("line %d %s", i, padding.c_str());
        const size_t size = ReadWholeFile(log.Path()).size();
        ASSERT_LE(size, CRunLog::kMinCapBytes) << i;
        if (size < before) {
            ++trims;
            EXPECT_NEAR(size, CRunLog::kMinCapBytes / 2, 120) << i;
        }
        before = size;
    }
    EXPECT_GE(trims, 2);
    // Whole lines only, the newest last and none missing after the oldest kept.
    const std::vector<std::string> texts = Texts(log.Path());
    ASSERT_GT(texts.size(), 10u);
    for (size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(texts[i], "line " + std::to_string(400 - texts.size() + i) + " " + padding);
}

TEST(RunLogTest, ALogThatCannotBeWrittenIsSkipped) {
    InstallFolder folder{"runlog-skip"};
    for (const std::string& path : {std::string(), folder / "missing\\run.log", folder.Path(),
                                    std::string("Q:\\no such drive\\run.log")})
        CRunLog(path).Write("dropped %s", "quietly");
    EXPECT_FALSE(Exists(folder / "missing"));
    // Held by another program without sharing: that line is dropped, later ones are written.
    CRunLog log(folder / "run.log");
    log.Write("first");
    HANDLE holder = CreateFileA(log.Path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    log.Write("while held");
    CloseHandle(holder);
    log.Write("after");
    EXPECT_EQ(Texts(log.Path()), (std::vector<std::string>{"first", "after"}));
}
