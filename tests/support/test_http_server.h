// A small HTTP/1.1 server for tests, running inside the test process on
// 127.0.0.1 with an ephemeral port. Every reply ends with "Connection: close"
// and the server closes the connection after it, so WinInet never reuses a
// connection the server has already dropped.
//
// The header deliberately includes no Windows or Winsock headers, so a test
// can include it before or after <windows.h> / <winsock2.h>.
#ifndef TESTS_SUPPORT_TEST_HTTP_SERVER_H
#define TESTS_SUPPORT_TEST_HTTP_SERVER_H

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct HttpReply {
    // Status line code; the reason text is chosen from the code.
    int status = 200;
    // Bytes sent as the body (ignored when generatedSize > 0).
    std::string body;
    // false: no Content-Length; the body ends when the connection closes.
    bool sendContentLength = true;
    // >= 0: announce this Content-Length instead of the real size, e.g. to
    // serve a body that is cut short.
    long long announcedLength = -1;
    // Extra header lines ("Name", "Value"). A Content-Type given here replaces
    // the default application/octet-stream.
    std::vector<std::pair<std::string, std::string>> headers;
    // >= 0: send this many body bytes, then count as stalled until Release()
    // (or Stop()), then send the rest.
    long long stallAfter = -1;
    // > 0: the body is this many bytes of GeneratedByte(i), produced while
    // sending, so huge bodies need no memory.
    unsigned long long generatedSize = 0;
};

// Deterministic, non-constant pattern for generated bodies: no short period,
// so a client that skips or repeats a block reads different bytes.
unsigned char GeneratedByte(unsigned long long index);

class TestHttpServer {
public:
    TestHttpServer();
    ~TestHttpServer(); // Stop()s: releases stalls, closes sockets, joins threads.
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // Binds 127.0.0.1:0 and starts accepting. Returns once the accept thread
    // is running; false when the socket or the thread cannot be set up or the
    // server is already running.
    bool Start();
    // Ends every connection (also stalled ones and ones a client keeps open)
    // and joins all threads. Safe to call twice; Start() may follow.
    void Stop();

    unsigned short Port() const;
    // "http://127.0.0.1:PORT" + path.
    std::string Url(const std::string& path) const;

    // Reply for a request target matching `path` exactly as received in the
    // request line, query string included, e.g. "/update/a.dat?x=1".
    void Set(const std::string& path, HttpReply reply);
    // Reply for targets starting with `prefix` when no exact rule matches; the
    // longest matching prefix wins, e.g. SetPrefix("/update.xml?", reply).
    void SetPrefix(const std::string& prefix, HttpReply reply);
    // Reply when nothing else matches. Initially a 404 with a short text body.
    void SetDefault(HttpReply reply);

    // Request lines in arrival order, e.g. "GET /update/a.dat HTTP/1.1".
    std::vector<std::string> Requests() const;
    // Header lines of request i (empty when i is out of range).
    std::vector<std::string> RequestHeaders(std::size_t i) const;

    // Waits until some reply is stalled (reached its stallAfter point and not
    // yet released). timeoutMs has the type and meaning of a Win32 DWORD
    // time-out; 0xFFFFFFFF (INFINITE) waits without limit.
    bool WaitStalled(unsigned long timeoutMs);
    // Lets every reply that is stalled now continue. Replies reaching their
    // stall point later stall again until the next Release().
    void Release();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace testsupport

#endif // TESTS_SUPPORT_TEST_HTTP_SERVER_H
