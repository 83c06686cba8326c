// An engine wired to the test server and a fresh installation folder, run on a real worker.
#pragma once

#include "engine/update_engine.h"
#include "tests/support/notify_recorder.h"
#include "tests/support/test_files.h"
#include "tests/support/test_http_server.h"

#include <gtest/gtest.h>

#include <string>

namespace testsupport {

inline HttpReply Body(const std::string& body, int status = 200) {
    HttpReply reply;
    reply.body = body;
    reply.status = status;
    return reply;
}

inline HttpReply Generated(unsigned long long size) {
    HttpReply reply;
    reply.generatedSize = size;
    return reply;
}

inline std::string GeneratedContent(size_t size, size_t from = 0) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>(GeneratedByte(from + i));
    return data;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(engine.Init(&recorder, server.Url("/update").c_str(), TempDir().c_str(),
                                folder.Path().c_str()));
    }

    std::string TempDir() const { return folder / "Update"; }
    std::string TempFile(const std::string& name) const { return TempDir() + "\\" + name + ".dtm"; }

    // Starts the worker as the window does and waits for it; the thread's exit code.
    DWORD RunWorker() {
        engine.m_dwReceived = 0;
        engine.m_hThread = CreateThread(nullptr, 0, &WorkerProc, &engine, 0, nullptr);
        SetEvent(engine.m_hStartEvent);
        EXPECT_EQ(WaitForSingleObject(engine.m_hThread, 60000), WAIT_OBJECT_0);
        DWORD code = 0xFFFF;
        GetExitCodeThread(engine.m_hThread, &code);
        return code;
    }

    InstallFolder folder{"engine"};
    TestHttpServer server;
    NotifyRecorder recorder;
    CUpdateEngine engine;
};

} // namespace testsupport
