#include "tools/mkmanifest/site_check.h"

#include "digest/file_digest.h"
#include "digest/file_sha256.h"
#include "framework/com_error.h"
#include "framework/format.h"
#include "framework/http_fetch.h"
#include "framework/run_log.h"
#include "manifest/manifest_document.h"
#include "manifest/manifest_fetch.h"
#include "manifest/site_url.h"
#include "manifest/update_file.h"

#include <io.h>
#include <stdarg.h>
#include <stdio.h>

namespace {

// As the updater fetches its files: always from the server, never from a cache.
const DWORD kOpenFlags =
    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
// The progress line shows once a run has taken this long, and is renewed this often (on a
// console in place; into a file or a pipe as a line of its own, less often).
const DWORD kProgressAfterMs = 1000;
const DWORD kProgressConsoleMs = 500;
const DWORD kProgressFileMs = 5000;
const int kProgressWidth = 79;

// Problems on stdout, one a line; the progress line on stderr.
class CSiteReport {
public:
    void Problem(const char* pszFormat, ...) FORMAT_TEXT_CHECK(2, 3) {
        ClearProgress();
        char line[1024];
        va_list args;
        va_start(args, pszFormat);
        FormatTextV(line, sizeof(line), pszFormat, args);
        va_end(args);
        printf("%s\n", line);
        fflush(stdout);
        ++m_problems;
    }
    void Progress(const char* pszFormat, ...) FORMAT_TEXT_CHECK(2, 3) {
        const DWORD now = GetTickCount();
        if (now - m_start < kProgressAfterMs ||
            (m_last != 0 && now - m_last < (m_bConsole ? kProgressConsoleMs : kProgressFileMs)))
            return;
        m_last = now ? now : 1;
        char line[kProgressWidth + 1];
        va_list args;
        va_start(args, pszFormat);
        FormatTextV(line, sizeof(line), pszFormat, args);
        va_end(args);
        fprintf(stderr, m_bConsole ? "\r%-*s" : "%.*s\n", kProgressWidth, line);
        fflush(stderr);
        m_bShown = m_bConsole;
    }
    void ClearProgress() {
        if (m_bShown)
            fprintf(stderr, "\r%*s\r", kProgressWidth, "");
        m_bShown = false;
    }
    unsigned Problems() const { return m_problems; }

private:
    const DWORD m_start = GetTickCount();
    const bool m_bConsole = _isatty(_fileno(stderr)) != 0;
    DWORD m_last = 0;
    bool m_bShown = false;
    unsigned m_problems = 0;
};

// A file's body, counted and digested as it arrives.
class CFileBody : public IHttpBodySink {
public:
    CFileBody(CSiteReport& report, const char* pszProgress)
        : m_report(report), m_pszProgress(pszProgress) {}
    BYTE* PieceBuffer() override { return m_piece; }
    bool OnPiece(UINT nCount) override {
        m_size += nCount;
        m_md5.Update(m_piece, nCount);
        m_sha256.Update(m_piece, nCount);
        m_report.Progress("%s, %I64u KB", m_pszProgress, m_size >> 10);
        return true;
    }
    unsigned long long m_size = 0;
    CFileDigest m_md5;
    CSha256 m_sha256;

private:
    CSiteReport& m_report;
    const char* m_pszProgress;
    BYTE m_piece[kHttpPieceSize];
};

bool HasNonAsciiByte(const char* pszText) {
    for (; *pszText; ++pszText)
        if (static_cast<unsigned char>(*pszText) >= 0x80)
            return true;
    return false;
}

CString ErrorText(const CException& e) {
    char text[256] = "";
    e.GetErrorMessage(text, sizeof(text));
    return CString(text);
}

// What the body read is against what the manifest lists: a wrong size says enough.
void CompareFile(CSiteReport& report, const CUpdateFile& file, CFileBody& body) {
    std::string md5 = body.m_md5.Final().GetString(), sha256;
    if (body.m_size != file.dwSize)
        report.Problem("%s: wrong size: the site sends %I64u bytes, the manifest lists %lu",
                       file.szRemoteName, body.m_size, file.dwSize);
    else if (file.szMd5[0] && md5 != file.szMd5)
        report.Problem("%s: wrong digest: md5 %s, the manifest lists %s", file.szRemoteName,
                       md5.c_str(), file.szMd5);
    else if (file.szSha256[0] && (!body.m_sha256.Final(sha256) || sha256 != file.szSha256))
        report.Problem("%s: wrong digest: sha256 %s, the manifest lists %s", file.szRemoteName,
                       sha256.empty() ? "(none)" : sha256.c_str(), file.szSha256);
}

// Fetched as the updater fetches it, from the base URL followed by its name's ANSI bytes.
void CheckFile(CSiteReport& report, CInternetSession& session, const CString& baseUrl,
               const CUpdateFile& file, const char* pszProgress) {
    try {
        CHttpFetch fetch(session, baseUrl + file.szRemoteName, kOpenFlags);
        if (fetch.Status() != HTTP_STATUS_OK) {
            const bool bUnescaped = fetch.Status() == 404 && HasNonAsciiByte(file.szRemoteName);
            report.Problem("%s: missing: HTTP status %lu%s", file.szRemoteName, fetch.Status(),
                           bUnescaped ? "; the name is not plain ASCII: the updater asks for its "
                                        "ANSI bytes, so the server must store it under them"
                                      : "");
            return;
        }
        CFileBody body(report, pszProgress);
        fetch.ReadBody(body);
        CompareFile(report, file, body);
    } catch (CHttpBodyError* e) {
        report.Problem("%s: cut short: the body ends before its announced length",
                       file.szRemoteName);
        e->Delete();
    } catch (CInternetException* e) {
        report.Problem("%s: cannot be fetched: WinInet error %lu: %s", file.szRemoteName,
                       e->m_dwError, ErrorText(*e).GetString());
        e->Delete();
    }
}

// The manifest read as the updater reads it (verified with a key), and what it says of the
// release; false when it cannot be read at all.
bool ReadSiteManifest(CSiteReport& report, const CString& baseUrl, const std::string& publicKey,
                      std::vector<ManifestEntry>& entries) {
    CString url;
    url.Format("%supdate.xml?%lu", baseUrl.GetString(), GetTickCount() % 1000000 + 1);
    try {
        size_t site = 0;
        const std::string bytes = FetchManifestBytes({url}, publicKey.c_str(), site);
        bool complete = false;
        ManifestRelease release;
        entries = ReadManifestEntries(bytes, !publicKey.empty(), complete, release);
        if (HasExpired(release, SecondsSince1970()))
            report.Problem("update.xml: expired at %s: updaters refuse it",
                           UtcTimeText(release.expires).GetString());
        if (!complete)
            report.Problem("update.xml: entry %u is refused by the updater (a missing or "
                           "malformed attribute, a refused name or sha256; %s tells which)",
                           static_cast<unsigned>(entries.size() + 1), RunLog().Path().c_str());
        else if (entries.empty())
            report.Problem("update.xml: lists no file at /manifest/filelist/file");
        return true;
    } catch (CInternetException* e) {
        report.Problem("update.xml: cannot be fetched: WinInet error %lu: %s", e->m_dwError,
                       ErrorText(*e).GetString());
        e->Delete();
    } catch (COleException* e) {
        report.Problem("update.xml: not a manifest the updater reads (%s)",
                       ErrorText(*e).GetString());
        e->Delete();
    } catch (CException* e) { // refused, as the updater would: the reason it would log
        report.Problem("update.xml: %s", ErrorText(*e).GetString());
        e->Delete();
    }
    return false;
}

} // namespace

unsigned VerifyPublishedSite(const std::string& site, const std::string& publicKey) {
    CSiteReport report;
    const CString baseUrl = UpdateBaseUrl(site.c_str());
    std::vector<ManifestEntry> entries;
    if (ReadSiteManifest(report, baseUrl, publicKey, entries)) {
        CInternetSession session;
        for (size_t i = 0; i < entries.size(); ++i) {
            const ManifestEntry& entry = entries[i];
            CUpdateFile file;
            if (!MakeUpdateFile(entry.fileName, nullptr, entry.md5, entry.sha256, entry.fileSize,
                                file)) {
                report.Problem("%s: refused by the updater", entry.fileName.GetString());
                continue;
            }
            char progress[kProgressWidth + 1];
            FormatText(progress, sizeof(progress), "mkmanifest: checking %u of %u, %s",
                       static_cast<unsigned>(i + 1), static_cast<unsigned>(entries.size()),
                       file.szRemoteName);
            CheckFile(report, session, baseUrl, file, progress);
        }
    }
    report.ClearProgress();
    return report.Problems();
}
