#include <winsock2.h>
#include <windows.h>

#include "replies.h"

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace testsupport {
namespace {

constexpr std::size_t kMaxHead = 64 * 1024;      // request data is untrusted
constexpr unsigned long long kChunk = 64 * 1024; // generated bodies never exist whole

using UniqueHandle = std::unique_ptr<void, decltype(&CloseHandle)>;

UniqueHandle NewEvent() {
    return UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr), &CloseHandle);
}

} // namespace

unsigned char GeneratedByte(unsigned long long index) {
    // splitmix64's finaliser over the 8-byte block number, then one byte of the result.
    unsigned long long x = (index >> 3) + 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return static_cast<unsigned char>((x ^ (x >> 31)) >> ((index & 7u) * 8u));
}

struct TestHttpServer::Impl {
    mutable std::mutex mu; // guards the rules, the log and the stall count
    std::condition_variable cv;
    std::map<std::string, HttpReply> prefixes;
    std::map<std::string, std::vector<HttpReply>> sequences; // for exact targets
    unsigned long long bodyBytes = 0;
    const HttpReply fallback = Body("404 Not Found\n", 404);
    std::vector<std::string> lines;
    int stalled = 0;
    unsigned releases = 0;
    UniqueHandle stopEvent = NewEvent();  // set while stopping
    std::vector<std::thread> connections; // touched by the accept thread, then by Stop()
    SOCKET listener = INVALID_SOCKET;
    sockaddr_in addr = {};
    std::thread acceptor;

    bool Stopping() const { return WaitForSingleObject(stopEvent.get(), 0) == WAIT_OBJECT_0; }

    void Accept() {
        for (;;) {
            const SOCKET s = accept(listener, nullptr, nullptr);
            if (s == INVALID_SOCKET && WSAGetLastError() == WSAECONNRESET)
                continue; // the client gave up before being accepted
            if (s == INVALID_SOCKET || Stopping()) {
                closesocket(s);
                return;
            }
            connections.emplace_back([this, s] {
                Serve(s);
                closesocket(s);
            });
        }
    }

    // One send or receive that Stop() ends early: neither closing nor shutting down the socket
    // ends a blocked send under Wine. The count moved, 0 at the peer's close, -1 on failure.
    int Io(SOCKET s, bool sending, char* data, std::size_t size) {
        WSABUF buf = {static_cast<ULONG>(size), data};
        WSAOVERLAPPED ov = {};
        UniqueHandle done = NewEvent();
        ov.hEvent = done.get();
        DWORD count = 0, flags = 0;
        if (Stopping() || !done ||
            ((sending ? WSASend(s, &buf, 1, &count, 0, &ov, nullptr)
                      : WSARecv(s, &buf, 1, &count, &flags, &ov, nullptr)) != 0 &&
             WSAGetLastError() != WSA_IO_PENDING))
            return -1;
        HANDLE events[2] = {stopEvent.get(), done.get()};
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
            CancelIo(reinterpret_cast<HANDLE>(s));
        return WSAGetOverlappedResult(s, &ov, &count, TRUE, &flags) ? static_cast<int>(count) : -1;
    }

    bool SendAll(SOCKET s, std::string data) {
        int n = 0;
        for (std::size_t sent = 0; sent < data.size(); sent += static_cast<std::size_t>(n))
            if ((n = Io(s, true, &data[sent], data.size() - sent)) <= 0)
                return false;
        return true;
    }

    void Serve(SOCKET s) noexcept try {
        std::string head;
        while (head.find("\r\n\r\n") == std::string::npos) {
            char piece[4096];
            const int n = head.size() < kMaxHead ? Io(s, false, piece, sizeof piece) : 0;
            if (n <= 0)
                return; // closed, failed, stopped or too large: close without a reply
            head.append(piece, static_cast<std::size_t>(n));
        }
        const std::string request = head.substr(0, head.find("\r\n"));
        const std::size_t first = request.find(' '), last = request.rfind(' ');
        HttpReply reply;
        {
            std::lock_guard<std::mutex> lock(mu);
            lines.push_back(request);
            if (first == std::string::npos || first == last)
                return; // not a request line
            reply = Lookup(request.substr(first + 1, last - first - 1));
        }
        if (reply.reset)
            return; // closed before a byte of a reply
        if (!reply.answer) {
            Stall(); // a host that accepted the connection and then went silent
            return;
        }
        const unsigned long long size =
            reply.generatedSize ? reply.generatedSize : reply.body.size();
        unsigned long long from = 0, end = size; // the whole body, or the range asked for
        const bool ranged = Range(head, reply, size, from, end);
        std::string text =
            "HTTP/1.1 " + std::to_string(ranged ? 206 : reply.status) + " Status\r\n";
        if (reply.sendContentLength)
            text += "Content-Length: " + std::to_string(end - from) + "\r\n";
        if (ranged)
            text += "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(end - 1) +
                    "/" + std::to_string(size) + "\r\n";
        if (!reply.etag.empty())
            text += "ETag: " + reply.etag + "\r\n";
        if (reply.dropAfter >= 0)
            end = (std::min)(end, from + reply.dropAfter);
        const unsigned long long stallAt =
            reply.stallAfter < 0 ? end : (std::min)(from + reply.stallAfter, end);
        if (SendAll(s, text + "Connection: close\r\n\r\n") && SendBody(s, reply, from, stallAt) &&
            (reply.stallAfter < 0 || Stall()))
            SendBody(s, reply, stallAt, end);
    } catch (...) {
    }

    // The range "Range: bytes=FIRST-[LAST]" asks for, when the reply allows ranges and the
    // If-Range (if any) names its ETag: [from, end).
    static bool Range(const std::string& head, const HttpReply& reply, unsigned long long size,
                      unsigned long long& from, unsigned long long& end) {
        const std::size_t range = head.find("\r\nRange: bytes=");
        if (reply.etag.empty() || reply.ignoreRange || range == std::string::npos)
            return false;
        const std::size_t ifRange = head.find("\r\nIf-Range: ");
        if (ifRange != std::string::npos &&
            head.compare(ifRange + 12, reply.etag.size() + 2, reply.etag + "\r\n") != 0)
            return false;
        char* rest = nullptr;
        from = std::strtoull(head.c_str() + range + 15, &rest, 10);
        const unsigned long long last = *rest == '-' && rest[1] >= '0' && rest[1] <= '9'
                                            ? std::strtoull(rest + 1, nullptr, 10)
                                            : size - 1;
        end = (std::min)(last + 1, size);
        return from < end;
    }

    HttpReply Lookup(const std::string& target) { // requires mu
        const auto sequence = sequences.find(target);
        if (sequence != sequences.end() && !sequence->second.empty()) {
            const HttpReply next = sequence->second.front();
            if (sequence->second.size() > 1)
                sequence->second.erase(sequence->second.begin());
            return next;
        }
        // Matching prefixes are prefixes of each other: the longest comes last in the map.
        const HttpReply* best = &fallback;
        for (const auto& rule : prefixes)
            if (target.compare(0, rule.first.size(), rule.first) == 0)
                best = &rule.second;
        return *best;
    }

    bool SendBody(SOCKET s, const HttpReply& reply, unsigned long long at, unsigned long long to) {
        const unsigned long long piece = reply.trickleBytes ? reply.trickleBytes : kChunk;
        for (std::string chunk; at < to; at += chunk.size()) {
            if (reply.trickleBytes && at > 0 &&
                WaitForSingleObject(stopEvent.get(), reply.trickleMs) != WAIT_TIMEOUT)
                return false; // stopping
            chunk.resize(static_cast<std::size_t>((std::min)(to - at, piece)));
            for (std::size_t i = 0; i < chunk.size(); ++i)
                chunk[i] = reply.generatedSize ? static_cast<char>(GeneratedByte(at + i))
                                               : reply.body[static_cast<std::size_t>(at + i)];
            if (!SendAll(s, chunk))
                return false;
            std::lock_guard<std::mutex> lock(mu);
            bodyBytes += chunk.size();
        }
        return true;
    }

    // Counts this reply as stalled until the next Release(); false when the server stops first.
    bool Stall() {
        std::unique_lock<std::mutex> lock(mu);
        const unsigned seen = releases;
        ++stalled;
        cv.notify_all();
        cv.wait(lock, [&] { return Stopping() || releases != seen; });
        return releases != seen;
    }
};

TestHttpServer::TestHttpServer() : impl_(std::make_unique<Impl>()) {}

TestHttpServer::~TestHttpServer() {
    Stop();
}

bool TestHttpServer::Start() {
    Impl& m = *impl_;
    WSADATA data;
    if (m.listener != INVALID_SOCKET || !m.stopEvent || WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    m.listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    m.addr.sin_family = AF_INET;
    m.addr.sin_port = 0; // any free port
    m.addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof m.addr;
    sockaddr* addr = reinterpret_cast<sockaddr*>(&m.addr);
    if (m.listener != INVALID_SOCKET && bind(m.listener, addr, length) == 0 &&
        listen(m.listener, SOMAXCONN) == 0 && getsockname(m.listener, addr, &length) == 0) {
        m.acceptor = std::thread([&m] { m.Accept(); });
        return true;
    }
    closesocket(m.listener);
    m.listener = INVALID_SOCKET;
    WSACleanup();
    return false;
}

void TestHttpServer::Stop() {
    Impl& m = *impl_;
    if (m.listener == INVALID_SOCKET)
        return;
    {
        std::lock_guard<std::mutex> lock(m.mu);
        SetEvent(m.stopEvent.get()); // under mu: a stall cannot miss it
    }
    m.cv.notify_all();
    // A connection of our own wakes the accept thread, which then sees the stop.
    const SOCKET wake = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    connect(wake, reinterpret_cast<sockaddr*>(&m.addr), sizeof m.addr);
    closesocket(wake);
    m.acceptor.join();
    for (std::thread& t : m.connections)
        t.join();
    m.connections.clear();
    m.stalled = 0;
    ResetEvent(m.stopEvent.get());
    closesocket(m.listener);
    m.listener = INVALID_SOCKET;
    WSACleanup();
}

std::string TestHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(ntohs(impl_->addr.sin_port)) + path;
}

void TestHttpServer::Set(const std::string& path, HttpReply reply) {
    SetSequence(path, {std::move(reply)});
}

void TestHttpServer::SetPrefix(const std::string& prefix, HttpReply reply) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->prefixes[prefix] = std::move(reply);
}

void TestHttpServer::SetSequence(const std::string& path, std::vector<HttpReply> replies) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->sequences[path] = std::move(replies);
}

unsigned long long TestHttpServer::BodyBytesSent() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->bodyBytes;
}

std::vector<std::string> TestHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->lines;
}

bool TestHttpServer::WaitStalled(unsigned long timeoutMs) {
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return impl_->stalled > 0; });
}

void TestHttpServer::Release() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    ++impl_->releases;
    impl_->stalled = 0;
    impl_->cv.notify_all();
}

} // namespace testsupport
