#include "web_assets.h"

#include <algorithm>
#include <cstdlib>

namespace web {

const Asset* FindAsset(const std::string& path) {
    const std::string& wanted = path == "/" ? std::string("/index.html") : path;
    for (size_t k = 0; k < kAssetCount; ++k) {
        if (wanted == kAssets[k].path) return &kAssets[k];
    }
    return nullptr;
}

// A coding list such as "gzip, deflate, br" or "br;q=1.0, gzip;q=0.8":
// gzip (or "*") named without a weight of zero.
bool AcceptsGzip(const std::string& acceptEncoding) {
    size_t at = 0;
    while (at <= acceptEncoding.size()) {
        size_t end = acceptEncoding.find(',', at);
        if (end == std::string::npos) end = acceptEncoding.size();
        std::string item = acceptEncoding.substr(at, end - at);
        item.erase(std::remove(item.begin(), item.end(), ' '), item.end());
        const size_t semi = item.find(';');
        const std::string coding = item.substr(0, semi);
        const std::string weight = semi == std::string::npos ? "" : item.substr(semi + 1);
        const bool refused = weight.rfind("q=", 0) == 0 && std::strtod(weight.c_str() + 2, nullptr) == 0.0;
        if ((coding == "gzip" || coding == "*") && !refused) return true;
        at = end + 1;
    }
    return false;
}

Body BodyFor(const Asset& asset, const std::string& acceptEncoding) {
    if (asset.gzippedSize > 0 && asset.gzippedSize < asset.size && AcceptsGzip(acceptEncoding)) {
        return {asset.gzipped, asset.gzippedSize, asset.gzippedEtag, true};
    }
    return {asset.data, asset.size, asset.etag, false};
}

}  // namespace web
