#include <winsock2.h>
#include <windows.h>

#include "test_http_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <thread>

#ifdef _MSC_VER
#pragma comment(lib, "ws2_32.lib")
#endif

namespace testsupport {
namespace {

// A request head larger than this is refused: request data is untrusted.
constexpr std::size_t kMaxHeadBytes = 64 * 1024;
// Bodies go out in pieces of this size; generated bodies never exist whole.
constexpr std::size_t kChunkBytes = 64 * 1024;
// After the reply, how long to wait for the client to close before closing
// anyway (reading its leftovers avoids a reset that could cut the reply).
constexpr DWORD kDrainMs = 1000;
constexpr std::size_t kMaxDrainBytes = 1024 * 1024;

class UniqueSocket {
public:
    UniqueSocket() = default;
    explicit UniqueSocket(SOCKET s) : s_(s) {}
    ~UniqueSocket() { reset(); }
    UniqueSocket(const UniqueSocket&) = delete;
    UniqueSocket& operator=(const UniqueSocket&) = delete;
    SOCKET get() const { return s_; }
    explicit operator bool() const { return s_ != INVALID_SOCKET; }
    SOCKET release() {
        SOCKET s = s_;
        s_ = INVALID_SOCKET;
        return s;
    }
    void reset(SOCKET s = INVALID_SOCKET) {
        if (s_ != INVALID_SOCKET)
            closesocket(s_);
        s_ = s;
    }

private:
    SOCKET s_ = INVALID_SOCKET;
};

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    void reset(HANDLE h = nullptr) {
        if (h_ != nullptr)
            CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_ = nullptr;
};

const char* ReasonText(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 416:
        return "Range Not Satisfiable";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

bool EqualsNoCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

// End of the request head (the blank line), or npos. Bare LF line ends are
// accepted as well as CRLF.
std::size_t HeadLength(const std::string& buf) {
    const std::size_t crlf = buf.find("\r\n\r\n");
    const std::size_t lf = buf.find("\n\n");
    if (crlf == std::string::npos && lf == std::string::npos)
        return std::string::npos;
    if (lf == std::string::npos || (crlf != std::string::npos && crlf < lf))
        return crlf;
    return lf;
}

std::vector<std::string> SplitLines(const std::string& head) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= head.size()) {
        std::size_t end = head.find('\n', start);
        if (end == std::string::npos)
            end = head.size();
        std::string line = head.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> SplitSpaces(const std::string& line) {
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const std::size_t start = line.find_first_not_of(' ', pos);
        if (start == std::string::npos)
            break;
        std::size_t end = line.find(' ', start);
        if (end == std::string::npos)
            end = line.size();
        parts.push_back(line.substr(start, end - start));
        pos = end;
    }
    return parts;
}

enum class WaitResult { kReady, kStopped, kTimedOut };

// One accepted connection: a non-blocking socket whose readiness is waited
// for together with the server's stop event, so no call blocks past Stop().
class Channel {
public:
    Channel(SOCKET s, HANDLE ev, HANDLE stop) : s_(s), ev_(ev), stop_(stop) {}

    bool Stopped() const { return WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0; }

    WaitResult Wait(DWORD ms) {
        HANDLE handles[2] = {stop_, ev_}; // stop first: it wins when both are set
        const DWORD r = WaitForMultipleObjects(2, handles, FALSE, ms);
        if (r == WAIT_OBJECT_0 + 1) {
            WSANETWORKEVENTS events;
            WSAEnumNetworkEvents(s_, ev_, &events); // also resets the event
            return WaitResult::kReady;
        }
        return r == WAIT_TIMEOUT ? WaitResult::kTimedOut : WaitResult::kStopped;
    }

    // Bytes received (> 0), 0 when the peer closed, -1 on error or stop.
    int Recv(char* buf, int size, DWORD waitMs = INFINITE) {
        for (;;) {
            const int n = recv(s_, buf, size, 0);
            if (n >= 0)
                return n;
            if (WSAGetLastError() != WSAEWOULDBLOCK)
                return -1;
            if (Wait(waitMs) != WaitResult::kReady)
                return -1;
        }
    }

    bool SendAll(const char* data, std::size_t size) {
        while (size > 0) {
            if (Stopped())
                return false;
            const int piece = static_cast<int>((std::min<std::size_t>)(size, kChunkBytes));
            const int n = send(s_, data, piece, 0);
            if (n > 0) {
                data += n;
                size -= static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK)
                return false;
            if (Wait(INFINITE) != WaitResult::kReady)
                return false;
        }
        return true;
    }

    // Ends our side, then reads what the client still sends until it closes,
    // for a bounded time and amount.
    void Finish() {
        shutdown(s_, SD_SEND);
        const DWORD start = GetTickCount();
        std::size_t drained = 0;
        char buf[4096];
        while (drained < kMaxDrainBytes) {
            const DWORD spent = GetTickCount() - start;
            if (spent >= kDrainMs)
                break;
            const int n = Recv(buf, static_cast<int>(sizeof buf), kDrainMs - spent);
            if (n <= 0)
                break;
            drained += static_cast<std::size_t>(n);
        }
    }

private:
    SOCKET s_;
    HANDLE ev_;
    HANDLE stop_;
};

struct RequestRecord {
    std::string line;
    std::vector<std::string> headers;
};

} // namespace

unsigned char GeneratedByte(unsigned long long index) {
    // Mixes every bit of the 64-bit block number (splitmix64 finaliser), so no
    // two nearby 8-byte blocks share content, then picks one of its bytes.
    std::uint64_t x = (static_cast<std::uint64_t>(index) >> 3) + 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return static_cast<unsigned char>(x >> ((index & 7u) * 8u));
}

struct TestHttpServer::Impl {
    struct Connection {
        std::thread thread;
        std::atomic<bool> done{false};
    };

    mutable std::mutex mu;
    std::condition_variable cv;
    // Guarded by mu.
    std::map<std::string, HttpReply> exact;
    std::map<std::string, HttpReply> prefixes;
    HttpReply fallback;
    std::vector<RequestRecord> log;
    int stalledNow = 0;
    unsigned releaseGeneration = 0;
    bool stopping = false;
    int acceptState = 0; // 0 starting, 1 accepting, -1 failed

    // Owned by the thread calling Start()/Stop(); the accept thread reads them.
    bool running = false;
    bool wsaStarted = false;
    unsigned short port = 0;
    UniqueSocket listener;
    UniqueHandle stopEvent;
    std::thread acceptThread;
    // Touched by the accept thread while it runs, by Stop() after joining it.
    std::list<std::unique_ptr<Connection>> connections;

    Impl() {
        fallback.status = 404;
        fallback.body = "404 Not Found\n";
        fallback.headers.emplace_back("Content-Type", "text/plain");
    }

    void SetAcceptState(int state) {
        {
            std::lock_guard<std::mutex> lock(mu);
            acceptState = state;
        }
        cv.notify_all();
    }

    void AcceptLoop() {
        // A plain manual-reset event is what WSACreateEvent makes; this one
        // closes with CloseHandle like every other handle here.
        UniqueHandle evOwner(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        HANDLE ev = evOwner.get();
        if (ev == nullptr) {
            SetAcceptState(-1);
            return;
        }
        if (WSAEventSelect(listener.get(), ev, FD_ACCEPT) != 0) {
            SetAcceptState(-1);
            return;
        }
        SetAcceptState(1);
        HANDLE handles[2] = {stopEvent.get(), ev};
        for (;;) {
            ReapFinished();
            const SOCKET s = accept(listener.get(), nullptr, nullptr);
            if (s != INVALID_SOCKET) {
                StartConnection(s);
                continue;
            }
            // Would-block, or a client that gave up before being accepted: wait.
            if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
                return;
            WSANETWORKEVENTS events;
            WSAEnumNetworkEvents(listener.get(), ev, &events);
        }
    }

    void ReapFinished() {
        for (auto it = connections.begin(); it != connections.end();) {
            if ((*it)->done) {
                (*it)->thread.join();
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
    }

    void StartConnection(SOCKET raw) {
        UniqueSocket s(raw);
        try {
            auto conn = std::make_unique<Connection>();
            Connection* c = conn.get();
            conn->thread = std::thread([this, c, raw] {
                Serve(raw);
                c->done = true;
            });
            s.release(); // the thread owns it now
            connections.push_back(std::move(conn));
        } catch (...) {
            // No thread: the socket closes here and the client sees the close.
        }
    }

    // Thread entry for one connection; nothing may escape it.
    void Serve(SOCKET raw) {
        try {
            UniqueSocket s(raw);
            UniqueHandle evOwner(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            HANDLE ev = evOwner.get();
            if (ev == nullptr)
                return;
            if (WSAEventSelect(s.get(), ev, FD_READ | FD_WRITE | FD_CLOSE) != 0)
                return;
            Channel ch(s.get(), ev, stopEvent.get());
            Handle(ch);
            if (!ch.Stopped())
                ch.Finish();
        } catch (...) {
        }
    }

    void Handle(Channel& ch) {
        std::string buf;
        char piece[4096];
        std::size_t headLength = std::string::npos;
        while (headLength == std::string::npos) {
            if (buf.size() >= kMaxHeadBytes) {
                HttpReply tooLarge;
                tooLarge.status = 431;
                SendReply(ch, tooLarge, false);
                return;
            }
            const std::size_t room = kMaxHeadBytes - buf.size();
            const int n = ch.Recv(piece, static_cast<int>((std::min)(room, sizeof piece)));
            if (n <= 0)
                return; // closed, failed or stopping before a full head
            buf.append(piece, static_cast<std::size_t>(n));
            headLength = HeadLength(buf);
        }
        std::vector<std::string> lines = SplitLines(buf.substr(0, headLength));
        RequestRecord record;
        record.line = lines.front();
        record.headers.assign(lines.begin() + 1, lines.end());
        while (!record.headers.empty() && record.headers.back().empty())
            record.headers.pop_back();
        const std::vector<std::string> parts = SplitSpaces(record.line);

        HttpReply reply;
        {
            std::lock_guard<std::mutex> lock(mu);
            log.push_back(std::move(record));
            if (parts.size() != 3) {
                reply.status = 400;
            } else {
                reply = Lookup(parts[1]);
            }
        }
        SendReply(ch, reply, parts.size() == 3 && parts[0] == "HEAD");
    }

    // Requires mu.
    const HttpReply& Lookup(const std::string& target) const {
        const auto hit = exact.find(target);
        if (hit != exact.end())
            return hit->second;
        const HttpReply* best = nullptr;
        std::size_t bestLength = 0;
        for (const auto& rule : prefixes) {
            if (target.compare(0, rule.first.size(), rule.first) == 0 &&
                (best == nullptr || rule.first.size() > bestLength)) {
                best = &rule.second;
                bestLength = rule.first.size();
            }
        }
        return best != nullptr ? *best : fallback;
    }

    void SendReply(Channel& ch, const HttpReply& reply, bool headOnly) {
        const unsigned long long size =
            reply.generatedSize > 0 ? reply.generatedSize : reply.body.size();
        std::string head =
            "HTTP/1.1 " + std::to_string(reply.status) + " " + ReasonText(reply.status) + "\r\n";
        if (reply.sendContentLength) {
            const unsigned long long announced =
                reply.announcedLength >= 0 ? static_cast<unsigned long long>(reply.announcedLength)
                                           : size;
            head += "Content-Length: " + std::to_string(announced) + "\r\n";
        }
        bool hasType = false;
        for (const auto& h : reply.headers)
            hasType = hasType || EqualsNoCase(h.first, "Content-Type");
        if (!hasType)
            head += "Content-Type: application/octet-stream\r\n";
        for (const auto& h : reply.headers)
            head += h.first + ": " + h.second + "\r\n";
        head += "Connection: close\r\n\r\n";
        if (!ch.SendAll(head.data(), head.size()) || headOnly)
            return;

        if (reply.stallAfter < 0) {
            SendBody(ch, reply, 0, size);
            return;
        }
        const unsigned long long stallAt =
            (std::min)(static_cast<unsigned long long>(reply.stallAfter), size);
        if (SendBody(ch, reply, 0, stallAt) && StallPoint())
            SendBody(ch, reply, stallAt, size);
    }

    bool SendBody(Channel& ch, const HttpReply& reply, unsigned long long from,
                  unsigned long long to) {
        if (reply.generatedSize == 0) {
            return ch.SendAll(reply.body.data() + from, static_cast<std::size_t>(to - from));
        }
        std::vector<char> chunk(kChunkBytes);
        while (from < to) {
            const std::size_t n =
                static_cast<std::size_t>((std::min<unsigned long long>)(to - from, kChunkBytes));
            for (std::size_t i = 0; i < n; ++i)
                chunk[i] = static_cast<char>(GeneratedByte(from + i));
            if (!ch.SendAll(chunk.data(), n))
                return false;
            from += n;
        }
        return true;
    }

    // Counts this reply as stalled and waits for Release(); false when the
    // server stops first.
    bool StallPoint() {
        std::unique_lock<std::mutex> lock(mu);
        if (stopping)
            return false;
        const unsigned generation = releaseGeneration;
        ++stalledNow;
        cv.notify_all();
        cv.wait(lock, [&] { return stopping || releaseGeneration != generation; });
        if (releaseGeneration != generation)
            return true;
        --stalledNow; // stopped while still counted
        return false;
    }

    // Undoes whatever Start() set up; used by Stop() and by a failed Start().
    void Teardown() {
        {
            std::lock_guard<std::mutex> lock(mu);
            stopping = true;
        }
        cv.notify_all();
        if (stopEvent)
            SetEvent(stopEvent.get());
        if (acceptThread.joinable())
            acceptThread.join();
        for (auto& c : connections)
            c->thread.join();
        connections.clear();
        listener.reset();
        stopEvent.reset();
        {
            std::lock_guard<std::mutex> lock(mu);
            stopping = false;
            stalledNow = 0;
            acceptState = 0;
        }
        port = 0;
        running = false;
        if (wsaStarted)
            WSACleanup();
        wsaStarted = false;
    }

    bool Start() {
        if (running)
            return false;
        running = true; // Teardown() below resets it on failure
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            running = false;
            return false;
        }
        wsaStarted = true;
        listener.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        int addrLength = sizeof addr;
        stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!listener || !stopEvent ||
            bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(listener.get(), SOMAXCONN) != 0 ||
            getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &addrLength) != 0) {
            Teardown();
            return false;
        }
        port = ntohs(addr.sin_port);
        try {
            acceptThread = std::thread([this] {
                try {
                    AcceptLoop();
                } catch (...) {
                    SetAcceptState(-1);
                }
            });
        } catch (...) {
            Teardown();
            return false;
        }
        std::unique_lock<std::mutex> lock(mu);
        cv.wait(lock, [&] { return acceptState != 0; });
        const bool ok = acceptState == 1;
        lock.unlock();
        if (!ok)
            Teardown();
        return ok;
    }
};

TestHttpServer::TestHttpServer() : impl_(std::make_unique<Impl>()) {}

TestHttpServer::~TestHttpServer() {
    Stop();
}

bool TestHttpServer::Start() {
    return impl_->Start();
}

void TestHttpServer::Stop() {
    if (impl_->running)
        impl_->Teardown();
}

unsigned short TestHttpServer::Port() const {
    return impl_->port;
}

std::string TestHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(impl_->port) + path;
}

void TestHttpServer::Set(const std::string& path, HttpReply reply) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->exact[path] = std::move(reply);
}

void TestHttpServer::SetPrefix(const std::string& prefix, HttpReply reply) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->prefixes[prefix] = std::move(reply);
}

void TestHttpServer::SetDefault(HttpReply reply) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->fallback = std::move(reply);
}

std::vector<std::string> TestHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    std::vector<std::string> lines;
    lines.reserve(impl_->log.size());
    for (const auto& r : impl_->log)
        lines.push_back(r.line);
    return lines;
}

std::vector<std::string> TestHttpServer::RequestHeaders(std::size_t i) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (i >= impl_->log.size())
        return {};
    return impl_->log[i].headers;
}

bool TestHttpServer::WaitStalled(unsigned long timeoutMs) {
    std::unique_lock<std::mutex> lock(impl_->mu);
    const auto stalled = [&] { return impl_->stalledNow > 0; };
    if (timeoutMs == INFINITE) {
        impl_->cv.wait(lock, stalled);
        return true;
    }
    return impl_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), stalled);
}

void TestHttpServer::Release() {
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        ++impl_->releaseGeneration;
        impl_->stalledNow = 0;
    }
    impl_->cv.notify_all();
}

} // namespace testsupport
