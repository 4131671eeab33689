#include "file_mount.h"

#include <array>
#include <filesystem>
#include <fstream>

namespace http {

namespace {
// The types a mounted folder is expected to hold; anything else goes as bytes.
struct TypeRow {
    const char* extension;
    const char* contentType;
};
constexpr std::array<TypeRow, 10> kTypes = {{
    {".html", "text/html"},
    {".css", "text/css"},
    {".js", "text/javascript"},
    {".json", "application/json"},
    {".txt", "text/plain"},
    {".svg", "image/svg+xml"},
    {".png", "image/png"},
    {".jpg", "image/jpeg"},
    {".ico", "image/x-icon"},
    {".woff2", "font/woff2"},
}};

const char* TypeOf(const std::filesystem::path& file) {
    const std::string extension = file.extension().string();
    for (const TypeRow& row : kTypes) {
        if (extension == row.extension) return row.contentType;
    }
    return "application/octet-stream";
}

// A file larger than this is no part of a page a board serves.
constexpr std::uintmax_t kMaxFileBytes = 16u << 20;

// "..", or a second slash that would make the rest an absolute path.
bool ClimbsOut(const std::string& rest) {
    const std::filesystem::path path(rest);
    if (path.has_root_path()) return true;
    for (const auto& part : path) {
        if (part == "..") return true;
    }
    return false;
}

std::string AsFolderPrefix(std::string prefix) {
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    return prefix;
}
}  // namespace

bool FileMounts::Add(const std::string& prefix, const std::string& directory) {
    std::error_code ec;
    if (!std::filesystem::is_directory(directory, ec)) return false;
    mounts_.push_back({AsFolderPrefix(prefix), directory});
    return true;
}

bool FileMounts::Covers(const std::string& path) const {
    for (const Mount& m : mounts_) {
        if (path.compare(0, m.prefix.size(), m.prefix) == 0) return true;
    }
    return false;
}

bool FileMounts::Read(const std::string& path, FileAnswer& out) const {
    for (const Mount& m : mounts_) {
        if (path.compare(0, m.prefix.size(), m.prefix) != 0) continue;
        std::string rest = path.substr(m.prefix.size());
        if (rest.empty() || rest.back() == '/') rest += "index.html";
        if (ClimbsOut(rest)) return false;
        const std::filesystem::path file = std::filesystem::path(m.directory) / rest;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(file, ec)) continue;
        const std::uintmax_t size = std::filesystem::file_size(file, ec);
        if (ec || size > kMaxFileBytes) continue;
        std::ifstream in(file, std::ios::binary);
        out.body.resize(static_cast<size_t>(size));  // no more than the size seen, should the file grow
        in.read(out.body.data(), static_cast<std::streamsize>(size));
        if (in.gcount() != static_cast<std::streamsize>(size)) continue;
        out.contentType = TypeOf(file);
        return true;
    }
    return false;
}

}  // namespace http
