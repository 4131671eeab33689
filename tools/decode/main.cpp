// trm27k-decode: decodes data images into JSON with field names.
//   trm27k-decode [--type T] HEX          an image as hex text
//   trm27k-decode [--type T] --file FILE  an image file (raw bytes)
//   trm27k-decode --history DB [--all]    the newest image of every device
//                                          (every image with --all)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "cli.h"
#include "history_store.h"
#include "image_decoder.h"

namespace {
struct Args {
    int type = 0;
    std::vector<std::string> hexParts;
    std::string hex, file, history;
    bool all = false;
};

int Fail(int status, const std::string& reason) {
    std::fprintf(stderr, "trm27k-decode: %s\n", reason.c_str());
    return status;
}

bool FromHex(const std::string& text, std::vector<uint8_t>& out) {
    auto value = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == '\n') continue;
        const int v = value(c);
        if (v < 0) return false;
        if (high < 0) { high = v; } else { out.push_back(static_cast<uint8_t>(high * 16 + v)); high = -1; }
    }
    return high < 0;
}

cli::Outcome ParseArgs(int argc, char** argv, Args& a) {
    CLI::App app("Decodes trm27k data images into JSON with field names.", "trm27k-decode");
    cli::SetUp(app);
    app.add_option("--type", a.type, "record type: 5175 AC, 5176 DC, 5177 rectifiers "
                                     "(default: told by the length)")
        ->check(CLI::IsMember({5175, 5176, 5177}));
    app.add_option("--file", a.file, "an image file of raw bytes")->type_name("FILE");
    app.add_option("--history", a.history, "a history database: the newest image of every "
                                           "device, read-only")->type_name("DB");
    app.add_flag("--all", a.all, "with --history: every image, oldest first");
    app.add_option("hex", a.hexParts, "an image as hex text")->type_name("HEX");
    const cli::Outcome parsed = cli::Parse(app, argc, argv);
    if (!parsed.run) return parsed;
    for (const std::string& part : a.hexParts) a.hex += part;
    const int sources = !a.hexParts.empty() + !a.file.empty() + !a.history.empty();
    if (sources != 1) return cli::Refuse("give exactly one image source: HEX, --file or --history");
    if (a.all && a.history.empty()) return cli::Refuse("--all goes with --history");
    return parsed;
}

void Print(const Json::Value& v) { std::cout << decode::JsonText(v) << "\n"; }

int DecodeOne(int type, const std::vector<uint8_t>& image, Json::Value& out) {
    if (type == 0) type = decode::InferType(image.size());
    if (type == 0) {
        std::fprintf(stderr, "trm27k-decode: cannot tell the record type of %zu bytes; give --type\n", image.size());
        return 1;
    }
    std::string error;
    if (!decode::DecodeImage(type, image.data(), image.size(), out, error)) {
        std::fprintf(stderr, "trm27k-decode: %s\n", error.c_str());
        return 1;
    }
    out["type"] = type;
    return 0;
}

Json::Value RowJson(const history::ImageRow& row, bool& decoded) {
    Json::Value v;
    decoded = DecodeOne(row.recordType, row.image, v) == 0;
    v["time"] = row.time;
    v["data_id"] = row.dataId;
    v["device"] = row.device;
    return v;
}

// Prints a JSON array one row at a time, so --all never holds the whole
// history in memory. Rows that do not decode are reported and left out.
int DecodeHistory(const Args& a) {
    history::HistoryStore store;
    std::string error;
    if (!store.OpenReadOnly(a.history, error)) return Fail(2, error);
    bool first = true;
    std::cout << "[";
    const auto print = [&first](const history::ImageRow& row) {
        bool decoded = false;
        const Json::Value v = RowJson(row, decoded);
        if (!decoded) return;
        std::cout << (first ? "\n" : ",\n") << decode::JsonText(v);
        first = false;
    };
    const bool read = a.all ? store.ForEachImage(print, error)
                            : [&] {
                                  for (const auto& row : store.LatestOfEach()) print(row);
                                  return true;
                              }();
    std::cout << (first ? "]\n" : "\n]\n") << std::flush;
    if (!read) return Fail(1, a.history + ": " + error);
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    Args a;
    const cli::Outcome parsed = ParseArgs(argc, argv, a);
    if (!parsed.run) return cli::Finish("trm27k-decode", parsed);
    if (!a.history.empty()) return DecodeHistory(a);
    std::vector<uint8_t> image;
    if (!a.file.empty()) {
        std::error_code ec;
        if (std::filesystem::is_directory(a.file, ec)) return Fail(2, a.file + ": a directory");
        std::ifstream in(a.file, std::ios::binary);
        if (!in) return Fail(2, "cannot read " + a.file);
        // The largest image (255 AC channels) is about 40 KB; a bigger file is none.
        constexpr std::streamsize kMaxImage = 1 << 20;
        image.resize(kMaxImage + 1);
        in.read(reinterpret_cast<char*>(image.data()), kMaxImage + 1);
        if (in.bad()) return Fail(2, "cannot read " + a.file);
        if (in.gcount() > kMaxImage) return Fail(2, a.file + ": larger than any data image");
        image.resize(static_cast<size_t>(in.gcount()));
    } else if (!FromHex(a.hex, image)) {
        return Fail(2, "the image is not hex text");
    }
    Json::Value out;
    const int status = DecodeOne(a.type, image, out);
    if (status == 0) Print(out);
    return status;
}
