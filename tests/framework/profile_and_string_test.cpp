// The profile reads of the application object and the string formatting the program uses.
#include "framework/cstring.h"
#include "framework/format.h"
#include "framework/win_app.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

using namespace testsupport;

TEST(Profile, DefaultOnlyForAMissingKeyAndLongValuesWhole) {
    InstallFolder folder{"profile"};
    const std::string longValue(3000, 'x');
    ASSERT_TRUE(WriteWholeFile(folder / "Updater.INI",
                               "[messages]\r\nErrorMsg=\r\n[Download]\r\nsite1=" + longValue +
                                   "\r\n[Setup]\r\nTempDir=更新\r\n"));
    CWinApp app;
    app.m_pszProfileName = _strdup((folder / "Updater.INI").c_str());
    EXPECT_STREQ(app.GetProfileString("messages", "ErrorMsg", "default"), "");
    EXPECT_STREQ(app.GetProfileString("MESSAGES", "missing", "default"), "default");
    EXPECT_STREQ(app.GetProfileString("nosection", "ErrorMsg", "default"), "default");
    EXPECT_EQ(std::string(app.GetProfileString("download", "SITE1", "")), longValue);
    EXPECT_STREQ(app.GetProfileString("Setup", "TempDir", "Update"), "更新");
}

TEST(String, FormatGrowsToFitAndKeepsCodePageBytes) {
    CString s;
    const std::string name(1000, 'n');
    s.Format("正在下载 %s ", name.c_str());
    EXPECT_EQ(s.GetLength(), 9 + 1000 + 1); // four GBK characters are 8 bytes
    EXPECT_EQ(s.GetAt(-1), 0);
    EXPECT_EQ(s.GetAt(s.GetLength()), 0);
    // The bounded form: always terminated, and the length the whole text needs.
    char small[6];
    EXPECT_EQ(FormatText(small, sizeof(small), "%s-%lu", "abc", 42ul), 6);
    EXPECT_STREQ(small, "abc-4");
    EXPECT_EQ(FormatText(small, sizeof(small), "%s", "abcde"), 5);
    EXPECT_STREQ(small, "abcde");
    EXPECT_EQ(FormatText(nullptr, 0, "%u", 12345u), 5);
}
