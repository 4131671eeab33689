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
    const unsigned char* gzipped;  // the same bytes gzipped at build time
    size_t gzippedSize;
    const char* gzippedEtag;   // the file's tag with "-gz": a cache keeps both apart
};

// What to send for an asset: the gzipped copy when the client accepts gzip
// and it is the smaller, else the file itself.
struct Body {
    const unsigned char* data;
    size_t size;
    const char* etag;
    bool gzip;  // send "Content-Encoding: gzip"
};

extern const Asset kAssets[];
extern const size_t kAssetCount;

// The asset served at a URL path ("/" is the page); null for any other path.
const Asset* FindAsset(const std::string& path);
// `acceptEncoding` is the request's Accept-Encoding header ("" when none).
Body BodyFor(const Asset& asset, const std::string& acceptEncoding);
bool AcceptsGzip(const std::string& acceptEncoding);

}  // namespace web
