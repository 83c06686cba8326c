#include "tools/mkmanifest/manifest_writer.h"

#include "digest/file_digest.h"
#include "framework/scoped_handle.h"
#include "manifest/file_name_rules.h"
#include "tools/mkmanifest/block_indexes.h"
#include "manifest/update_file.h"
#include "framework/file.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

const char kManifestName[] = "update.xml";
const char kManifestTempName[] = "update.xml.tmp";
const char kSignatureName[] = "update.xml.sig";
const char kSignatureTempName[] = "update.xml.sig.tmp";

namespace {

std::wstring WideFromCodePage(UINT codePage, const std::string& text) {
    if (text.empty())
        return std::wstring();
    const int length =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

// False when some character has no form in the ANSI code page (it would arrive as '?').
bool AnsiFromWide(const std::wstring& wide, std::string& ansi) {
    ansi.clear();
    if (wide.empty())
        return true;
    BOOL usedDefault = FALSE;
    const int length =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                            static_cast<int>(wide.size()), nullptr, 0, nullptr, &usedDefault);
    if (length <= 0)
        return false;
    ansi.assign(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        &ansi[0], length, nullptr, &usedDefault);
    return !usedDefault;
}

std::string Utf8FromWide(const std::wstring& wide) {
    if (wide.empty())
        return std::string();
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::string();
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], length,
                        nullptr, nullptr);
    return utf8;
}

std::string SystemMessage(DWORD error) {
    char text[256] = {};
    if (!FormatSystemMessage(error, nullptr, text, sizeof(text)))
        return "error " + std::to_string(error);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message + " (error " + std::to_string(error) + ")";
}

struct FoundFile {
    std::wstring name; // relative, with backslashes
    DWORD sizeHigh;
    DWORD sizeLow;
};

// The tool's own output is not part of the release it describes.
bool IsManifestOrTemp(const std::wstring& name) {
    for (const char* own : {kManifestName, kManifestTempName, kSignatureName, kSignatureTempName})
        if (lstrcmpiW(name.c_str(), WideFromCodePage(CP_ACP, own).c_str()) == 0)
            return true;
    return false;
}

// A block index the tool wrote (it begins with the index's own mark): not part of the release.
bool IsBlockIndex(const std::wstring& path) {
    const size_t length = path.size();
    if (length < 7 || lstrcmpiW(path.c_str() + length - 7, L".blocks") != 0)
        return false;
    char mark[8] = {};
    DWORD read = 0;
    CKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    return file.IsValid() && ReadFile(file.Get(), mark, sizeof(mark), &read, nullptr) &&
           read == sizeof(mark) && memcmp(mark, "QMBLOCK1", sizeof(mark)) == 0;
}

// Collects the files below root\relative; false with a message when a folder cannot be read,
// so that no file is silently left out of the release.
bool Walk(const std::wstring& root, const std::wstring& relative, std::vector<FoundFile>& found,
          std::string& error) {
    const std::wstring pattern = root + L"\\" + relative + (relative.empty() ? L"*" : L"\\*");
    WIN32_FIND_DATAW data;
    CFindHandle find(FindFirstFileW(pattern.c_str(), &data));
    if (find.Get() == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) // an empty folder
            return true;
        std::string shown;
        AnsiFromWide(relative.empty() ? root : relative, shown);
        error += "cannot list the folder " + shown + ": " + SystemMessage(code) + "\n";
        return false;
    }
    bool ok = true;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A linked folder could lead back to itself; a release is plain folders.
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                ok = Walk(root, path, found, error) && ok;
            continue;
        }
        if ((relative.empty() && IsManifestOrTemp(name)) || IsBlockIndex(root + L"\\" + path))
            continue;
        found.push_back({path, data.nFileSizeHigh, data.nFileSizeLow});
    } while (FindNextFileW(find.Get(), &data));
    return ok;
}

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool NameLess(const ReleaseFile& a, const ReleaseFile& b) {
    return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                        [](char x, char y) {
                                            return static_cast<unsigned char>(FoldCase(x)) <
                                                   static_cast<unsigned char>(FoldCase(y));
                                        });
}

// Why the updater would refuse this name, or "" when it accepts it.
std::string RefusalReason(const std::string& name) {
    if (IsAcceptableFileName(name.c_str()))
        return std::string();
    if (name.size() >= UPDATE_NAME_SIZE)
        return "is " + std::to_string(name.size()) + " characters long; the updater accepts " +
               std::to_string(UPDATE_NAME_SIZE - 1) + " at most (folder names count)";
    return "would lead out of the installation folder, names a device (such as CON, NUL, COM1) "
           "or ends in a dot or a blank";
}

} // namespace

bool ListReleaseFiles(const std::string& folder, std::vector<ReleaseFile>& files,
                      std::string& error) {
    files.clear();
    error.clear();
    std::vector<FoundFile> found;
    if (!Walk(WideFromCodePage(CP_ACP, folder), std::wstring(), found, error))
        return false;

    for (const FoundFile& f : found) {
        ReleaseFile file;
        const bool representable = AnsiFromWide(f.name, file.name);
        file.nameUtf8 = Utf8FromWide(f.name);
        file.size = f.sizeLow;
        if (!representable) {
            error += file.name + ": the name cannot be written in the system's code page (" +
                     std::to_string(GetACP()) + "), which the updater uses\n";
            continue;
        }
        const std::string reason = RefusalReason(file.name);
        if (!reason.empty()) {
            error += file.name + ": the name " + reason + "\n";
            continue;
        }
        if (f.sizeHigh != 0) {
            error += file.name + ": 4 GiB or larger; the manifest's sizes have 32 bits\n";
            continue;
        }
        files.push_back(file);
    }
    if (!error.empty()) {
        files.clear();
        return false;
    }
    std::sort(files.begin(), files.end(), NameLess);
    return true;
}

bool DigestReleaseFiles(const std::string& folder, std::vector<ReleaseFile>& files,
                        std::string& error) {
    for (ReleaseFile& file : files) {
        const std::string path = folder + "\\" + file.name;
        try {
            file.md5 = CFileDigest::DigestFile(CString(path.c_str())).GetString();
        } catch (CFileException* e) {
            error =
                file.name + ": cannot be read: " + SystemMessage(static_cast<DWORD>(e->m_lOsError));
            e->Delete();
            return false;
        }
    }
    return true;
}

std::string XmlAttributeEscape(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        // A parser turns these into blanks inside an attribute unless they are references.
        case '\t':
            out += "&#9;";
            break;
        case '\n':
            out += "&#10;";
            break;
        case '\r':
            out += "&#13;";
            break;
        default:
            out += c;
            break;
        }
    }
    return out;
}

std::string ManifestXml(const std::vector<ReleaseFile>& files, const std::string& versionUtf8,
                        const ManifestRelease& release) {
    std::string root = "<manifest";
    if (release.bHasSerial)
        root += std::string(" ") + kSerialAttribute + "=\"" + std::to_string(release.serial) + "\"";
    if (release.bHasExpiry)
        root +=
            std::string(" ") + kExpiresAttribute + "=\"" + std::to_string(release.expires) + "\"";
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" + root + ">\r\n  <filelist>\r\n";
    const std::string version = XmlAttributeEscape(versionUtf8);
    for (const ReleaseFile& file : files) {
        xml += "    <file filename=\"" + XmlAttributeEscape(file.nameUtf8) + "\" filesize=\"" +
               std::to_string(file.size) + "\" fileversion=\"" + version + "\" md5=\"" + file.md5 +
               (file.sha256.empty() ? "" : "\" sha256=\"" + file.sha256) + "\"";
        if (!file.indexNameUtf8.empty())
            xml += " blocks=\"" + XmlAttributeEscape(file.indexNameUtf8) +
                   (file.sha256.empty() ? "\" blocksmd5=\"" : "\" blockssha256=\"") +
                   file.indexDigest + "\"";
        xml += "/>\r\n";
    }
    return xml + "  </filelist>\r\n</manifest>\r\n";
}

bool WriteTempFile(const std::string& temp, const std::string& bytes, std::string& error) {
    try {
        CFile file(temp.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary);
        file.Write(bytes.data(), static_cast<UINT>(bytes.size()));
        // On disk before it takes its final name.
        if (!FlushFileBuffers(file.GetHandle()))
            throw new CFileException(CFileException::genericException,
                                     static_cast<LONG>(GetLastError()), temp.c_str());
    } catch (CFileException* e) {
        error = "cannot write " + temp + ": " + SystemMessage(static_cast<DWORD>(e->m_lOsError));
        e->Delete();
        DeleteFileA(temp.c_str());
        return false;
    }
    return true;
}

bool MoveIntoPlace(const std::string& temp, const std::string& target, bool replace,
                   std::string& error) {
    if (!MoveFileExA(temp.c_str(), target.c_str(),
                     (replace ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH)) {
        error = "cannot " + std::string(replace ? "replace " : "create ") + target + ": " +
                SystemMessage(GetLastError());
        DeleteFileA(temp.c_str());
        return false;
    }
    return true;
}

bool ReplaceManifest(const std::string& folder, const std::string& xml, std::string& error) {
    return WriteTempFile(folder + "\\" + kManifestTempName, xml, error) &&
           MoveIntoPlace(folder + "\\" + kManifestTempName, folder + "\\" + kManifestName, true,
                         error);
}

bool PrepareRelease(const std::string& folder, const std::string& versionAnsi,
                    std::vector<ReleaseFile>& files, std::string& versionUtf8, std::string& error) {
    files.clear();
    error.clear();
    if (versionAnsi.empty()) {
        error = "the version is empty";
        return false;
    }
    for (char c : versionAnsi) {
        if (static_cast<unsigned char>(c) < 0x20) {
            error = "the version holds a control character";
            return false;
        }
    }
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = folder + " is not a folder";
        return false;
    }

    std::vector<ReleaseFile> listed;
    if (!ListReleaseFiles(folder, listed, error)) {
        error = "refused; nothing written:\n" + error;
        if (error.back() == '\n')
            error.pop_back();
        return false;
    }
    if (!DigestReleaseFiles(folder, listed, error))
        return false;
    versionUtf8 = Utf8FromWide(WideFromCodePage(CP_ACP, versionAnsi));
    files.swap(listed);
    return true;
}

bool WriteReleaseManifest(const std::string& folder, const std::string& versionAnsi,
                          std::vector<ReleaseFile>& files, std::string& error) {
    files.clear();
    std::vector<ReleaseFile> listed;
    std::string version;
    std::vector<BlockIndexFile> indexes;
    if (!PrepareRelease(folder, versionAnsi, listed, version, error) ||
        !MakeBlockIndexes(folder, listed, indexes, error) || !WriteBlockIndexes(indexes, error) ||
        !ReplaceManifest(folder, ManifestXml(listed, version), error))
        return false;
    files.swap(listed);
    return true;
}
