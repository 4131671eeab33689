#pragma once
// Scratch folders for tests.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace testing_support {

// A fresh scratch folder for one test, made by mkdtemp (no name another
// user could have put there first) and removed with everything in it.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& name) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                              "/trm27k-test-" + name + "-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    // Empty when the folder could not be made.
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace testing_support
