#include "digest/file_digest.h"

#include <memory>

#include <string.h>

namespace {

inline DWORD Rotl(DWORD v, int s) {
    return (v << s) | (v >> (32 - s));
}

// Little-endian word i of the block; compilers turn this into one load on x86.
inline DWORD Word(const BYTE* p, int i) {
    p += 4 * i;
    return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 |
           static_cast<DWORD>(p[2]) << 16 | static_cast<DWORD>(p[3]) << 24;
}

// The four round functions in forms that need fewer operations than RFC 1321's text; the
// results are identical. G's two terms never share a set bit, so they may be added apart.
inline void StepF(DWORD& a, DWORD b, DWORD c, DWORD d, DWORD x, DWORD t, int s) {
    a += (d ^ (b & (c ^ d))) + x + t;
    a = Rotl(a, s) + b;
}
inline void StepG(DWORD& a, DWORD b, DWORD c, DWORD d, DWORD x, DWORD t, int s) {
    a += (~d & c) + x + t;
    a += d & b;
    a = Rotl(a, s) + b;
}
inline void StepH(DWORD& a, DWORD b, DWORD c, DWORD d, DWORD x, DWORD t, int s) {
    a += (b ^ c ^ d) + x + t;
    a = Rotl(a, s) + b;
}
inline void StepI(DWORD& a, DWORD b, DWORD c, DWORD d, DWORD x, DWORD t, int s) {
    a += (c ^ (b | ~d)) + x + t;
    a = Rotl(a, s) + b;
}

void EncodeWords(BYTE* pOut, const DWORD* pWords, int nWords) {
    for (int i = 0; i < nWords; ++i) {
        pOut[4 * i] = static_cast<BYTE>(pWords[i]);
        pOut[4 * i + 1] = static_cast<BYTE>(pWords[i] >> 8);
        pOut[4 * i + 2] = static_cast<BYTE>(pWords[i] >> 16);
        pOut[4 * i + 3] = static_cast<BYTE>(pWords[i] >> 24);
    }
}

// Large reads: each read is a system call, and under Wine a round trip to its server.
const UINT kReadSize = 64 * 1024;

} // namespace

CFileDigest::CFileDigest() {
    memset(m_buffer, 0, sizeof(m_buffer));
    m_bitCount[0] = m_bitCount[1] = 0;
    m_state[0] = 0x67452301;
    m_state[1] = 0xefcdab89;
    m_state[2] = 0x98badcfe;
    m_state[3] = 0x10325476;
}

CString CFileDigest::DigestFile(const CString& strPath) {
    // The file object closes the file also when a read exception passes through.
    CFile file(strPath, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary);
    return DigestOpenFile(file);
}

CString CFileDigest::DigestOpenFile(CFile& file) {
    CFileDigest context;
    std::unique_ptr<BYTE[]> block(new BYTE[kReadSize]);
    // A read error's CFileException* passes on to the caller as it is.
    for (;;) {
        const UINT count = file.Read(block.get(), kReadSize);
        if (count == 0)
            break;
        context.Update(block.get(), count);
    }
    return context.Final();
}

void CFileDigest::Update(const BYTE* pInput, DWORD dwLength) {
    DWORD index = (m_bitCount[0] >> 3) & 0x3F;
    const DWORD bits = dwLength << 3;
    m_bitCount[0] += bits;
    if (m_bitCount[0] < bits)
        ++m_bitCount[1];
    m_bitCount[1] += dwLength >> 29;

    DWORD done = 0;
    const DWORD room = 64 - index;
    if (dwLength >= room) {
        memcpy(&m_buffer[index], pInput, room);
        Transform(m_buffer);
        for (done = room; dwLength - done >= 64; done += 64)
            Transform(pInput + done);
        index = 0;
    }
    memcpy(&m_buffer[index], pInput + done, dwLength - done);
}

void CFileDigest::Final(BYTE (&digest)[16]) {
    static const BYTE kPadding[64] = {0x80};
    BYTE length[8];
    EncodeWords(length, m_bitCount, 2);

    const DWORD index = (m_bitCount[0] >> 3) & 0x3F;
    Update(kPadding, index < 56 ? 56 - index : 120 - index);
    Update(length, 8);
    EncodeWords(digest, m_state, 4);
}

CString CFileDigest::Final() {
    BYTE digest[16];
    Final(digest);
    static const char kHex[] = "0123456789abcdef";
    char text[32];
    for (int i = 0; i < 16; ++i) {
        text[2 * i] = kHex[digest[i] >> 4];
        text[2 * i + 1] = kHex[digest[i] & 0x0F];
    }
    return CString(text, 32);
}

void CFileDigest::Transform(const BYTE* p) {
    DWORD a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];

    StepF(a, b, c, d, Word(p, 0), 0xd76aa478, 7);
    StepF(d, a, b, c, Word(p, 1), 0xe8c7b756, 12);
    StepF(c, d, a, b, Word(p, 2), 0x242070db, 17);
    StepF(b, c, d, a, Word(p, 3), 0xc1bdceee, 22);
    StepF(a, b, c, d, Word(p, 4), 0xf57c0faf, 7);
    StepF(d, a, b, c, Word(p, 5), 0x4787c62a, 12);
    StepF(c, d, a, b, Word(p, 6), 0xa8304613, 17);
    StepF(b, c, d, a, Word(p, 7), 0xfd469501, 22);
    StepF(a, b, c, d, Word(p, 8), 0x698098d8, 7);
    StepF(d, a, b, c, Word(p, 9), 0x8b44f7af, 12);
    StepF(c, d, a, b, Word(p, 10), 0xffff5bb1, 17);
    StepF(b, c, d, a, Word(p, 11), 0x895cd7be, 22);
    StepF(a, b, c, d, Word(p, 12), 0x6b901122, 7);
    StepF(d, a, b, c, Word(p, 13), 0xfd987193, 12);
    StepF(c, d, a, b, Word(p, 14), 0xa679438e, 17);
    StepF(b, c, d, a, Word(p, 15), 0x49b40821, 22);

    StepG(a, b, c, d, Word(p, 1), 0xf61e2562, 5);
    StepG(d, a, b, c, Word(p, 6), 0xc040b340, 9);
    StepG(c, d, a, b, Word(p, 11), 0x265e5a51, 14);
    StepG(b, c, d, a, Word(p, 0), 0xe9b6c7aa, 20);
    StepG(a, b, c, d, Word(p, 5), 0xd62f105d, 5);
    StepG(d, a, b, c, Word(p, 10), 0x02441453, 9);
    StepG(c, d, a, b, Word(p, 15), 0xd8a1e681, 14);
    StepG(b, c, d, a, Word(p, 4), 0xe7d3fbc8, 20);
    StepG(a, b, c, d, Word(p, 9), 0x21e1cde6, 5);
    StepG(d, a, b, c, Word(p, 14), 0xc33707d6, 9);
    StepG(c, d, a, b, Word(p, 3), 0xf4d50d87, 14);
    StepG(b, c, d, a, Word(p, 8), 0x455a14ed, 20);
    StepG(a, b, c, d, Word(p, 13), 0xa9e3e905, 5);
    StepG(d, a, b, c, Word(p, 2), 0xfcefa3f8, 9);
    StepG(c, d, a, b, Word(p, 7), 0x676f02d9, 14);
    StepG(b, c, d, a, Word(p, 12), 0x8d2a4c8a, 20);

    StepH(a, b, c, d, Word(p, 5), 0xfffa3942, 4);
    StepH(d, a, b, c, Word(p, 8), 0x8771f681, 11);
    StepH(c, d, a, b, Word(p, 11), 0x6d9d6122, 16);
    StepH(b, c, d, a, Word(p, 14), 0xfde5380c, 23);
    StepH(a, b, c, d, Word(p, 1), 0xa4beea44, 4);
    StepH(d, a, b, c, Word(p, 4), 0x4bdecfa9, 11);
    StepH(c, d, a, b, Word(p, 7), 0xf6bb4b60, 16);
    StepH(b, c, d, a, Word(p, 10), 0xbebfbc70, 23);
    StepH(a, b, c, d, Word(p, 13), 0x289b7ec6, 4);
    StepH(d, a, b, c, Word(p, 0), 0xeaa127fa, 11);
    StepH(c, d, a, b, Word(p, 3), 0xd4ef3085, 16);
    StepH(b, c, d, a, Word(p, 6), 0x04881d05, 23);
    StepH(a, b, c, d, Word(p, 9), 0xd9d4d039, 4);
    StepH(d, a, b, c, Word(p, 12), 0xe6db99e5, 11);
    StepH(c, d, a, b, Word(p, 15), 0x1fa27cf8, 16);
    StepH(b, c, d, a, Word(p, 2), 0xc4ac5665, 23);

    StepI(a, b, c, d, Word(p, 0), 0xf4292244, 6);
    StepI(d, a, b, c, Word(p, 7), 0x432aff97, 10);
    StepI(c, d, a, b, Word(p, 14), 0xab9423a7, 15);
    StepI(b, c, d, a, Word(p, 5), 0xfc93a039, 21);
    StepI(a, b, c, d, Word(p, 12), 0x655b59c3, 6);
    StepI(d, a, b, c, Word(p, 3), 0x8f0ccc92, 10);
    StepI(c, d, a, b, Word(p, 10), 0xffeff47d, 15);
    StepI(b, c, d, a, Word(p, 1), 0x85845dd1, 21);
    StepI(a, b, c, d, Word(p, 8), 0x6fa87e4f, 6);
    StepI(d, a, b, c, Word(p, 15), 0xfe2ce6e0, 10);
    StepI(c, d, a, b, Word(p, 6), 0xa3014314, 15);
    StepI(b, c, d, a, Word(p, 13), 0x4e0811a1, 21);
    StepI(a, b, c, d, Word(p, 4), 0xf7537e82, 6);
    StepI(d, a, b, c, Word(p, 11), 0xbd3af235, 10);
    StepI(c, d, a, b, Word(p, 2), 0x2ad7d2bb, 15);
    StepI(b, c, d, a, Word(p, 9), 0xeb86d391, 21);

    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
}
