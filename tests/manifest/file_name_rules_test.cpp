#include "engine/update_run.h"

#include <gtest/gtest.h>

#include <string>

TEST(RunAddFile, AcceptsOnlyNamesThatStayInsideAndFit) {
    CUpdateRun run;
    // Dots inside a name are no climb; 31 characters fit; device names only as a whole base name.
    for (const char* name :
         {"client.exe", "data\\maps.pak", "a..b.txt", "0123456789012345678901234567890",
          "console.dat", "com10.dat", "lpt.txt", "com1x", "x.con", "data\\auxiliary"})
        EXPECT_TRUE(run.AddFile(name, nullptr)) << name;
    EXPECT_TRUE(run.AddFile("a.dat", "local.dat"));
    ASSERT_EQ(run.Files().size(), 11u);
    EXPECT_STREQ(run.Files()[1].szLocalName, "data\\maps.pak");
    EXPECT_STREQ(run.Files()[10].szLocalName, "local.dat");
    run.SetFiles({});
    const char* refused[] = {
        "01234567890123456789012345678901", // 32 characters: no room for the terminator
        "..\\evil.exe", "data/../x", "..", "\\windows\\evil.exe", "/etc/passwd", "C:\\evil.exe",
        "c:evil.exe", "file.txt:stream", "...\\evil.exe", "data\\. \\x", "",
        // Windows drops a trailing dot or blank: another file under a second name.
        "UPDATER.EXE.", "Updater.exe ", "data.\\x.dat",
        // Devices, in any case and with any extension, in any component.
        "CON", "prn.txt", "Aux.dat", "nul.txt", "com9", "com1.tar.gz", "LPT1", "conin$",
        "CONOUT$.txt", "com1 .txt", "data\\nul\\x.dat",
        // Backslash alone separates, and separates something; no character Windows refuses.
        "data/x.dat", "data\\\\x.dat", "data\\", "a*.dat", "a?.dat", "a|b", "a\"b", "a<b>",
        "tab\there"};
    for (const char* name : refused)
        EXPECT_FALSE(run.AddFile(name, nullptr)) << name;
    EXPECT_FALSE(run.AddFile(nullptr, nullptr));
    EXPECT_FALSE(run.AddFile("ok.txt", "..\\evil.txt")); // the local name is checked too
    // A SHA-256 that the download could never be held to is no file to fetch.
    const std::string sha = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    for (const std::string& digest : {"B" + sha.substr(1), sha.substr(1), sha + "0", "x" + sha})
        EXPECT_FALSE(run.AddFile("ok.txt", nullptr, nullptr, digest.c_str())) << digest;
    EXPECT_EQ(run.Files().size(), 0u);
}
