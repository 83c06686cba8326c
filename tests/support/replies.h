// Short ways to script the test server's replies, and the content a generated reply carries.
#pragma once

#include "tests/support/test_http_server.h"

#include <string>
#include <vector>

namespace testsupport {

inline HttpReply Body(const std::string& body, int status = 200) {
    HttpReply reply;
    reply.body = body, reply.status = status;
    return reply;
}

inline HttpReply Generated(unsigned long long size, long long stallAfter = -1) {
    HttpReply reply;
    reply.generatedSize = size, reply.stallAfter = stallAfter;
    return reply;
}

inline HttpReply Silent() {
    HttpReply reply;
    reply.answer = false;
    return reply;
}

inline HttpReply Trickle(const std::string& body, unsigned bytes, unsigned everyMs) {
    HttpReply reply = Body(body);
    reply.trickleBytes = bytes, reply.trickleMs = everyMs;
    return reply;
}

// Replies for one path in turn (TestHttpServer::SetSequence).
template <typename... Replies> std::vector<HttpReply> Seq(const Replies&... replies) {
    return {replies...};
}

inline std::string GeneratedContent(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>(GeneratedByte(i));
    return data;
}

} // namespace testsupport
