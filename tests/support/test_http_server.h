// A small HTTP/1.1 server for tests on 127.0.0.1 with an ephemeral port. Every reply carries
// "Connection: close" and its connection is closed after it, so WinInet never reuses a
// connection the server has dropped. No Windows headers here: include it in any order.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

struct HttpReply {
    int status = 200;
    std::string body; // ignored when generatedSize > 0
    // false: no Content-Length; the body ends when the connection closes.
    bool sendContentLength = true;
    long long stallAfter = -1; // >= 0: send this many body bytes, then stall until Release()
    unsigned long long generatedSize = 0; // > 0: the body is GeneratedByte(0 .. size - 1)
    bool answer = true; // false: read the request, send nothing, stall until Release()
    bool reset = false; // read the request, then close the connection without a reply
    unsigned trickleBytes = 0, trickleMs = 0; // > 0: trickleBytes at a time, trickleMs apart
    // Set: sent as the ETag, and a request for "Range: bytes=N-" whose If-Range (if any) names
    // it gets a 206 with the rest, unless ignoreRange.
    std::string etag;
    bool ignoreRange = false;
    long long dropAfter = -1; // >= 0: close the connection after this many body bytes
};

// The byte at `index` of a generated body: no short period, so a client that skips or
// repeats a block reads different bytes.
unsigned char GeneratedByte(unsigned long long index);

class TestHttpServer {
public:
    TestHttpServer();
    ~TestHttpServer(); // Stop()s

    bool Start(); // false on failure or when already running
    // Ends every connection (stalled ones too) and joins all threads. Start() may follow.
    void Stop();
    std::string Url(const std::string& path) const; // "http://127.0.0.1:PORT" + path

    // Reply for a request target equal to `path`, query string included; else for the longest
    // matching prefix; else a 404 with a short text body.
    void Set(const std::string& path, HttpReply reply);
    void SetPrefix(const std::string& prefix, HttpReply reply);
    // Replies for `path` in turn, one a request; the last one answers every later request.
    void SetSequence(const std::string& path, std::vector<HttpReply> replies);

    // Request lines in arrival order ("GET /update/a.dat HTTP/1.1").
    std::vector<std::string> Requests() const;
    // The bytes of every body sent so far.
    unsigned long long BodyBytesSent() const;

    // Waits until some reply is stalled and not yet released.
    bool WaitStalled(unsigned long timeoutMs);
    // Lets the replies stalled now continue; one reaching its stall point later stalls again.
    void Release();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace testsupport
