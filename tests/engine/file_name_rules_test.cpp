#include "engine/update_engine.h"

#include <gtest/gtest.h>

#include <string>

TEST(EngineAddFile, AcceptsNamesThatStayInsideAndFit) {
    CUpdateEngine engine;
    EXPECT_TRUE(engine.AddFile("client.exe", nullptr));
    EXPECT_TRUE(engine.AddFile("data\\maps.pak", nullptr));
    EXPECT_TRUE(engine.AddFile("a..b.txt", nullptr)); // dots inside a name are no climb
    EXPECT_TRUE(engine.AddFile("0123456789012345678901234567890", nullptr)); // 31 characters
    // Device names only as a whole base name.
    for (const char* name : {"console.dat", "com10.dat", "lpt.txt", "nul_.txt", "com1x", "x.con",
                             "comm1.bin", "data\\auxiliary"})
        EXPECT_TRUE(engine.AddFile(name, nullptr)) << name;
    ASSERT_EQ(engine.Files().size(), 12u);
    EXPECT_STREQ(engine.Files()[1].szRemoteName, "data\\maps.pak");
    EXPECT_STREQ(engine.Files()[1].szLocalName, "data\\maps.pak");
}

TEST(EngineAddFile, RefusesNamesThatOverflowOrLeaveTheFolder) {
    CUpdateEngine engine;
    const char* refused[] = {
        "01234567890123456789012345678901", // 32 characters: no room for the terminator
        "..\\evil.exe", "data\\..\\..\\evil.exe", "data/../x", "..", "\\windows\\evil.exe",
        "/etc/passwd", "C:\\evil.exe", "c:evil.exe", "file.txt:stream", ".. \\evil.exe",
        "...\\evil.exe", "data\\. \\x", "",
        // Windows drops a trailing dot or blank: another file under a second name.
        "UPDATER.EXE.", "Updater.exe ", "data.\\x.dat", "data \\x.dat",
        // Devices, in any case and with any extension, in any component.
        "CON", "prn.txt", "Aux.dat", "nul.txt", "NUL", "COM1.bin", "com9", "com1.tar.gz", "LPT1",
        "lpt9.log", "conin$", "CONOUT$.txt", "com1 .txt", "data\\nul\\x.dat", "data/CON/x"};
    for (const char* name : refused)
        EXPECT_FALSE(engine.AddFile(name, nullptr)) << name;
    EXPECT_FALSE(engine.AddFile(nullptr, nullptr));
    EXPECT_FALSE(engine.AddFile("ok.txt", "..\\evil.txt")); // the local name is checked too
    // A SHA-256 that the download could never be held to is no file to fetch.
    const std::string sha = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    std::string upper = sha;
    upper[0] = 'B';
    for (const std::string& digest : {upper, sha.substr(1), sha + "0", std::string("x") + sha})
        EXPECT_FALSE(engine.AddFile("ok.txt", nullptr, nullptr, digest.c_str())) << digest;
    EXPECT_EQ(engine.Files().size(), 0u);
}

TEST(EngineAddFile, KeepsOrderAndDuplicatesAndRemoveAllReleasesStorage) {
    CUpdateEngine engine;
    engine.AddFile("b.dat", nullptr);
    engine.AddFile("a.dat", "local.dat");
    engine.AddFile("b.dat", nullptr, nullptr,
                   "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    ASSERT_EQ(engine.Files().size(), 3u);
    EXPECT_STREQ(engine.Files()[0].szSha256, "");
    EXPECT_STREQ(engine.Files()[2].szSha256,
                 "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_STREQ(engine.Files()[0].szRemoteName, "b.dat");
    EXPECT_STREQ(engine.Files()[1].szLocalName, "local.dat");
    EXPECT_STREQ(engine.Files()[2].szRemoteName, "b.dat");
    engine.RemoveAll();
    EXPECT_EQ(engine.Files().size(), 0u);
    EXPECT_EQ(engine.Files().capacity(), 0u);
    engine.RemoveAll(); // a second time on an empty list does nothing
    EXPECT_EQ(engine.Files().size(), 0u);
}
