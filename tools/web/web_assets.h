#pragma once
// The status page's files, embedded at build time (embed_files.cmake): the
// page itself, its style and script, and the chart library from Debian's
// libjs-dygraphs. Nothing is read from the disk at run time.
#include <cstddef>
#include <string>

namespace web {

struct Asset {
    const char* path;          // URL path, "/index.html"
    const char* contentType;   // every file is UTF-8 text
    const unsigned char* data;
    size_t size;
    const char* etag;          // quoted, from the file's SHA-256
};

extern const Asset kAssets[];
extern const size_t kAssetCount;

// The asset served at a URL path ("/" is the page); null for any other path.
const Asset* FindAsset(const std::string& path);

}  // namespace web
