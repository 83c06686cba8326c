// Checks the test HTTP server through the client the program itself uses
// (WinInet), plus raw sockets where a client has to misbehave.
#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "test_http_server.h"

namespace {

using testsupport::GeneratedByte;
using testsupport::HttpReply;
using testsupport::TestHttpServer;

struct InetCloser {
    void operator()(void* h) const { InternetCloseHandle(h); }
};
using InetHandle = std::unique_ptr<void, InetCloser>;

InetHandle OpenSession() {
    return InetHandle(InternetOpenA("selftest", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
}

InetHandle OpenUrl(HINTERNET session, const std::string& url) {
    return InetHandle(InternetOpenUrlA(session, url.c_str(), nullptr, 0,
                                       INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
}

struct Fetched {
    DWORD status = 0;
    bool hasLength = false;
    DWORD length = 0;
    DWORD lengthError = 0; // GetLastError() when the length query failed
    bool readsOk = true;   // every InternetReadFile returned TRUE
    std::string body;
};

void QueryHead(HINTERNET request, Fetched& f) {
    DWORD size = sizeof f.status;
    HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &f.status, &size,
                   nullptr);
    size = sizeof f.length;
    f.hasLength = HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                                 &f.length, &size, nullptr) != FALSE;
    if (!f.hasLength)
        f.lengthError = GetLastError();
}

// Reads until the end of the data (a TRUE read of 0 bytes) or a failed read.
void ReadRest(HINTERNET request, Fetched& f) {
    char buf[16384];
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request, buf, sizeof buf, &got)) {
            f.readsOk = false;
            return;
        }
        if (got == 0)
            return;
        f.body.append(buf, got);
    }
}

Fetched Fetch(HINTERNET session, const std::string& url) {
    Fetched f;
    InetHandle request = OpenUrl(session, url);
    if (!request) {
        f.readsOk = false;
        return f;
    }
    QueryHead(request.get(), f);
    ReadRest(request.get(), f);
    return f;
}

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

// A blocking client socket with a receive time-out, so a server fault fails
// the test instead of hanging it.
class RawClient {
public:
    explicit RawClient(unsigned short port) {
        WSADATA data;
        wsaOk_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        s_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        DWORD timeoutMs = 10000;
        setsockopt(s_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
                   sizeof timeoutMs);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        connected_ = s_ != INVALID_SOCKET &&
                     connect(s_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~RawClient() {
        if (s_ != INVALID_SOCKET)
            closesocket(s_);
        if (wsaOk_)
            WSACleanup();
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return connected_; }
    bool Send(const std::string& data) {
        return send(s_, data.data(), static_cast<int>(data.size()), 0) ==
               static_cast<int>(data.size());
    }
    // recv() result: bytes, 0 at the server's close, < 0 on error or time-out.
    int Receive(char* buf, int size) { return recv(s_, buf, size, 0); }
    // Everything until the server closes; false on error or time-out.
    bool ReceiveAll(std::string& out) {
        char buf[4096];
        for (;;) {
            const int n = Receive(buf, sizeof buf);
            if (n == 0)
                return true;
            if (n < 0)
                return false;
            out.append(buf, static_cast<std::size_t>(n));
        }
    }

private:
    bool wsaOk_ = false;
    bool connected_ = false;
    SOCKET s_ = INVALID_SOCKET;
};

class TestHttpServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Start());
        ASSERT_NE(0, server_.Port());
        session_ = OpenSession();
        ASSERT_TRUE(session_);
    }
    Fetched Get(const std::string& path) { return Fetch(session_.get(), server_.Url(path)); }

    TestHttpServer server_;
    InetHandle session_;
};

TEST_F(TestHttpServerTest, ServesStatusLengthAndExactBytes) {
    HttpReply data;
    data.body = Pattern(200000); // several send pieces, every byte value
    server_.Set("/update/a.dat", data);
    HttpReply failing;
    failing.status = 500;
    failing.body = "boom";
    server_.Set("/fail", failing);

    const Fetched ok = Get("/update/a.dat");
    EXPECT_EQ(200u, ok.status);
    ASSERT_TRUE(ok.hasLength);
    EXPECT_EQ(200000u, ok.length);
    EXPECT_TRUE(ok.readsOk);
    EXPECT_TRUE(ok.body == data.body) << "body differs, size " << ok.body.size();

    const Fetched missing = Get("/update/b.dat");
    EXPECT_EQ(404u, missing.status);
    EXPECT_FALSE(missing.body.empty());

    const Fetched fail = Get("/fail");
    EXPECT_EQ(500u, fail.status);
    EXPECT_EQ("boom", fail.body);

    // The same session again: each earlier reply closed its connection.
    EXPECT_EQ(200000u, Get("/update/a.dat").body.size());
}

TEST_F(TestHttpServerTest, RoutesExactThenLongestPrefixThenDefaultAndLogsRequests) {
    const auto reply = [](const char* body) {
        HttpReply r;
        r.body = body;
        return r;
    };
    server_.Set("/update.xml?v=1", reply("exact"));
    server_.SetPrefix("/update.xml?", reply("short"));
    server_.SetPrefix("/update.xml?channel=", reply("long"));
    HttpReply gone;
    gone.status = 410;
    gone.body = "gone";
    server_.SetDefault(gone);

    EXPECT_EQ("exact", Get("/update.xml?v=1").body);
    EXPECT_EQ("short", Get("/update.xml?r=0.25").body);
    EXPECT_EQ("long", Get("/update.xml?channel=beta&r=7").body);
    const Fetched other = Get("/update.xml");
    EXPECT_EQ(410u, other.status);
    EXPECT_EQ("gone", other.body);

    const std::vector<std::string> lines = server_.Requests();
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("GET /update.xml?v=1 HTTP/1.1", lines[0]);
    EXPECT_EQ("GET /update.xml?r=0.25 HTTP/1.1", lines[1]);
    EXPECT_EQ("GET /update.xml?channel=beta&r=7 HTTP/1.1", lines[2]);
    EXPECT_EQ("GET /update.xml HTTP/1.1", lines[3]);

    const std::string host = "Host: 127.0.0.1:" + std::to_string(server_.Port());
    bool hostSeen = false;
    for (const std::string& h : server_.RequestHeaders(1))
        hostSeen = hostSeen || h == host;
    EXPECT_TRUE(hostSeen) << host;
    EXPECT_TRUE(server_.RequestHeaders(4).empty());
}

TEST_F(TestHttpServerTest, BodyFramingWithoutLengthCutShortAndGenerated) {
    HttpReply unframed;
    unframed.sendContentLength = false;
    unframed.generatedSize = 300000;
    server_.Set("/unframed", unframed);
    HttpReply cut;
    cut.body = Pattern(1000);
    cut.announcedLength = 5000;
    server_.Set("/cut", cut);
    HttpReply big;
    big.generatedSize = 3 * 1024 * 1024 + 12345; // not a whole number of pieces
    server_.Set("/big", big);

    const Fetched u = Get("/unframed");
    EXPECT_FALSE(u.hasLength);
    EXPECT_EQ(static_cast<DWORD>(ERROR_HTTP_HEADER_NOT_FOUND), u.lengthError);
    EXPECT_TRUE(u.readsOk);
    EXPECT_EQ(300000u, u.body.size());

    const Fetched c = Get("/cut");
    ASSERT_TRUE(c.hasLength);
    EXPECT_EQ(5000u, c.length);
    EXPECT_TRUE(c.readsOk); // the early end is only visible in the count
    EXPECT_TRUE(c.body == cut.body);

    const Fetched b = Get("/big");
    ASSERT_TRUE(b.hasLength);
    EXPECT_EQ(big.generatedSize, b.length);
    ASSERT_EQ(big.generatedSize, b.body.size());
    std::size_t firstBad = b.body.size();
    for (std::size_t i = 0; i < b.body.size() && firstBad == b.body.size(); ++i) {
        if (static_cast<unsigned char>(b.body[i]) != GeneratedByte(i))
            firstBad = i;
    }
    EXPECT_EQ(b.body.size(), firstBad) << "first differing byte";
    // A pattern repeating per send piece would hide a piece sent twice.
    EXPECT_NE(b.body.substr(0, 65536), b.body.substr(65536, 65536));
}

TEST_F(TestHttpServerTest, StallHoldsTheRestUntilReleaseAndStallsAgainLater) {
    HttpReply stalled;
    stalled.body = Pattern(100000);
    stalled.stallAfter = 4096;
    server_.Set("/slow", stalled);
    EXPECT_FALSE(server_.WaitStalled(0));

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        InetHandle request = OpenUrl(session_.get(), server_.Url("/slow"));
        ASSERT_TRUE(request);
        ASSERT_TRUE(server_.WaitStalled(10000));
        // A read returns only when its buffer is full, so ask for exactly the
        // bytes sent before the stall.
        char head[4096];
        DWORD got = 0;
        ASSERT_TRUE(InternetReadFile(request.get(), head, sizeof head, &got));
        ASSERT_EQ(sizeof head, got);
        EXPECT_EQ(stalled.body.substr(0, 4096), std::string(head, got));
        EXPECT_TRUE(server_.WaitStalled(0)); // still held

        server_.Release();
        EXPECT_FALSE(server_.WaitStalled(0));
        Fetched rest;
        ReadRest(request.get(), rest);
        EXPECT_TRUE(rest.readsOk);
        EXPECT_TRUE(rest.body == stalled.body.substr(4096)) << "rest size " << rest.body.size();
    }
}

TEST_F(TestHttpServerTest, RefusesOversizedHeadAndAnswersMalformedLine) {
    RawClient huge(server_.Port());
    ASSERT_TRUE(huge.connected());
    // 70 KiB of header without the blank line that would end it.
    ASSERT_TRUE(huge.Send("GET / HTTP/1.1\r\nX-Fill: " + std::string(70 * 1024, 'a')));
    std::string answer;
    ASSERT_TRUE(huge.ReceiveAll(answer));
    EXPECT_EQ(0u, answer.rfind("HTTP/1.1 431 ", 0)) << answer.substr(0, 40);

    RawClient odd(server_.Port());
    ASSERT_TRUE(odd.connected());
    ASSERT_TRUE(odd.Send("NONSENSE\n\n")); // bare line feeds end a head too
    answer.clear();
    ASSERT_TRUE(odd.ReceiveAll(answer));
    EXPECT_EQ(0u, answer.rfind("HTTP/1.1 400 ", 0)) << answer.substr(0, 40);
    EXPECT_NE(std::string::npos, answer.find("\r\nConnection: close\r\n"));

    const std::vector<std::string> lines = server_.Requests();
    ASSERT_EQ(1u, lines.size()); // the oversized head is not a request
    EXPECT_EQ("NONSENSE", lines[0]);
}

TEST_F(TestHttpServerTest, StopEndsStalledBlockedAndIdleConnectionsPromptly) {
    HttpReply stalled;
    stalled.body = Pattern(50000);
    stalled.stallAfter = 1000;
    server_.Set("/slow", stalled);
    HttpReply huge;
    huge.generatedSize = 256ull * 1024 * 1024;
    server_.Set("/huge", huge);
    server_.Set("/ok", HttpReply());

    // A WinInet download held at its stall point.
    Fetched held;
    std::thread downloader([&] {
        InetHandle session = OpenSession();
        held = Fetch(session.get(), server_.Url("/slow"));
    });
    // Also on a failed assertion: stopping frees the downloader, then join.
    struct StopAndJoin {
        TestHttpServer& server;
        std::thread& thread;
        ~StopAndJoin() {
            server.Stop();
            if (thread.joinable())
                thread.join();
        }
    } guard{server_, downloader};
    const bool stalledSeen = server_.WaitStalled(10000);

    // A client that stops reading a huge body: the server blocks in send.
    RawClient reader(server_.Port());
    ASSERT_TRUE(reader.Send("GET /huge HTTP/1.1\r\nHost: x\r\n\r\n"));
    char first[16];
    EXPECT_GT(reader.Receive(first, sizeof first), 0);

    // A client that never finishes its request. Connections are accepted in
    // order, so once the next one is answered this one has been accepted.
    RawClient idle(server_.Port());
    ASSERT_TRUE(idle.Send("GET /ok HTTP/1.1\r\n"));
    EXPECT_EQ(200u, Get("/ok").status);

    const auto start = std::chrono::steady_clock::now();
    server_.Stop();
    const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count();
    downloader.join();

    EXPECT_TRUE(stalledSeen);
    EXPECT_LT(elapsedMs, 3000);
    EXPECT_EQ(200u, held.status);
    EXPECT_EQ(1000u, held.body.size()); // the rest never came
    char rest[16];
    EXPECT_EQ(0, idle.Receive(rest, sizeof rest)); // closed by the server
    EXPECT_FALSE(server_.WaitStalled(0));
}

} // namespace
