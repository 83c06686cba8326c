// One entry of the engine's list: the name it is fetched under and its name on disk.
#pragma once

enum { UPDATE_NAME_SIZE = 32 };   // at most 31 characters and the terminating zero
enum { UPDATE_DIGEST_SIZE = 33 }; // 32 hexadecimal digits and the terminating zero
enum { UPDATE_SHA256_SIZE = 65 }; // 64 hexadecimal digits and the terminating zero

struct CUpdateFile {
    char szRemoteName[UPDATE_NAME_SIZE];
    char szLocalName[UPDATE_NAME_SIZE];
    char szMd5[UPDATE_DIGEST_SIZE]; // what the download must digest to, lower case; "": anything
    // A signed manifest's SHA-256 of the file, which the download must match; "": not signed.
    char szSha256[UPDATE_SHA256_SIZE];
};
