#include "web_assets.h"

namespace web {

const Asset* FindAsset(const std::string& path) {
    const std::string& wanted = path == "/" ? std::string("/index.html") : path;
    for (size_t k = 0; k < kAssetCount; ++k) {
        if (wanted == kAssets[k].path) return &kAssets[k];
    }
    return nullptr;
}

}  // namespace web
