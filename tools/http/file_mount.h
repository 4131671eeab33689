#pragma once
// Folders of files served at URL prefixes, read from disk at each request.
// A path that climbs out of its folder ("..") or names no regular file is
// not served, so the routes after the mounts get their turn.
#include <string>
#include <vector>

namespace http {

struct FileAnswer {
    std::string body;
    const char* contentType = nullptr;
};

class FileMounts {
public:
    // False when `directory` is no folder.
    bool Add(const std::string& prefix, const std::string& directory);
    bool Covers(const std::string& path) const;
    // True with the file's bytes and type when `path` names a file under a mount.
    bool Read(const std::string& path, FileAnswer& out) const;

private:
    struct Mount {
        std::string prefix;  // ends with '/'
        std::string directory;
    };
    std::vector<Mount> mounts_;
};

}  // namespace http
