// Writes the seed corpus of every fuzz target: well-formed replies, a whole
// poll, its encoded frames, published images and value keys, in the input
// layout of each target. Run as: trm27k-fuzz-seeds OUTPUT_FOLDER
// (one sub-folder per target, named as the target).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "ChildKit.h"
#include "FuzzInput.h"
#include "PollRig.h"
#include "Replies.h"
#include "pmbus_frame.h"

using fuzzkit::Bytes;
namespace fs = std::filesystem;

namespace {

class CorpusWriter {
public:
    explicit CorpusWriter(fs::path root) : root_(std::move(root)) {}

    void Put(const std::string& target, const std::string& name, const Bytes& input) {
        const fs::path folder = root_ / target;
        fs::create_directories(folder);
        std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(input.data()),
                  static_cast<std::streamsize>(input.size()));
        ok_ = ok_ && static_cast<bool>(out);
        ++files_;
    }
    // A seed that does not do what it is written for fails the generator.
    void Expect(bool holds, const std::string& what) {
        if (!holds) std::fprintf(stderr, "trm27k-fuzz-seeds: %s does not work\n", what.c_str());
        ok_ = ok_ && holds;
    }
    bool Ok() const { return ok_; }
    int Files() const { return files_; }

private:
    fs::path root_;
    bool ok_ = true;
    int files_ = 0;
};

Bytes With(uint8_t first, const Bytes& rest) {
    Bytes out{first};
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The single-parser targets: SETUP (units to prime) and the block.
void ParserSeeds(CorpusWriter& w) {
    using namespace fuzzkit;
    w.Put("fuzz_ac_parse40_41", "three-channels", With(0x00, AcAnalogBlock(3)));
    w.Put("fuzz_ac_parse40_41", "same-count-again", With(0x02, AcAnalogBlock(2)));
    w.Put("fuzz_ac_parse40_43", "status", With(0x02, AcStatusBlock()));
    w.Put("fuzz_ac_parse40_44", "two-channels", With(0x02, AcAlarmBlock(2, 1)));
    w.Put("fuzz_ac_parse40_44", "no-channels", With(0x00, AcAlarmBlock(0, 3)));
    w.Put("fuzz_dc_parse42_41", "full", With(0x00, DcAnalogBlock(6, 6, 55)));
    w.Put("fuzz_dc_parse42_41", "small", With(0x00, DcAnalogBlock(2, 2, 3)));
    w.Put("fuzz_dc_parse42_44", "full", With(0x01, DcAlarmBlock(1)));
    w.Put("fuzz_rc_parse41_41", "four-modules", With(0x00, RcAnalogReply(4)));
    w.Put("fuzz_rc_parse41_43", "four-modules", With(0x04, RcStatusReply(4)));
    w.Put("fuzz_rc_parse41_44", "four-modules", With(0x04, RcAlarmReply(4, 1)));
    w.Put("fuzz_rc_parse40_46", "no-extra", With(0x00, AcParamReply(0)));
    w.Put("fuzz_rc_parse40_46", "extra", With(0x00, AcParamReply(3)));
    w.Put("fuzz_rc_parse42_46", "full", With(0x00, DcParamReply(67)));
}

// A child through one cycle of `blocks` (one per parser, in table order):
// the image its cycle end published.
template <class Child>
Bytes CycleImage(const std::vector<Bytes>& blocks) {
    using Traits = fuzzkit::ChildTraits<Child>;
    fuzzkit::BoundChild<Child> bound;
    for (size_t k = 0; k < blocks.size(); ++k) {
        auto copy = fuzzkit::HeapCopy(blocks[k].data(), blocks[k].size());
        ((*bound.child).*Traits::kParsers[k].parse)(copy.get(), static_cast<int>(blocks[k].size()));
    }
    bound.child->RoundDone();
    return bound.controller->lastImage;
}

// The sequence targets: every parser in table order, a cycle end, a value
// query, the published image offered back, and the parsers once more.
template <class Child>
void ChildSeeds(CorpusWriter& w, const std::string& name, const std::vector<Bytes>& blocks,
                const std::string& key) {
    const auto parsers = static_cast<uint8_t>(fuzzkit::ChildTraits<Child>::kParsers.size());
    const Bytes image = CycleImage<Child>(blocks);
    fuzzkit::BoundChild<Child> fresh;
    w.Expect(fresh.child->LoadFromCache(image.data(), static_cast<int>(image.size())),
             "the " + name + " image seed");
    Bytes cycle;
    for (size_t k = 0; k < blocks.size(); ++k) {
        fuzzkit::AppendRecord(cycle, static_cast<uint8_t>(k), 0, blocks[k]);
    }
    Bytes sequence = cycle;
    fuzzkit::AppendRecord(sequence, parsers, 0, {});
    fuzzkit::AppendRecord(sequence, parsers + 1, 0, Text(key));
    fuzzkit::AppendRecord(sequence, parsers + 2, 0, image);
    sequence.insert(sequence.end(), cycle.begin(), cycle.end());
    fuzzkit::AppendRecord(sequence, parsers, 1, {});
    w.Put("fuzz_" + name + "_sequence", "cycle-cache-cycle", sequence);
    w.Put("fuzz_" + name + "_cache", "image", With(0x00, image));
    w.Put("fuzz_" + name + "_cache", "image-over-live-data", With(0x01, image));
    w.Put("fuzz_" + name + "_cache", "image-as-text", With(0x02, image));
}

void SequenceAndCacheSeeds(CorpusWriter& w) {
    using namespace fuzzkit;
    ChildSeeds<TRM27KAC>(w, "ac", {AcAnalogBlock(3), AcStatusBlock(), AcAlarmBlock(3, 2)},
                         "channel_2_a");
    ChildSeeds<TRM27KDC>(w, "dc", {DcAnalogBlock(6, 6, 55), DcAlarmBlock(2)}, "v");
    ChildSeeds<TRM27KRC>(w, "rc",
                         {RcAnalogReply(4), RcStatusReply(4), RcAlarmReply(4, 1), AcParamReply(0),
                          DcParamReply(67)},
                         "v");
}

// One poll of the configured main device (2 AC, 2 DC screens, the rectifiers):
// (CID1, INFO) of each reply in the order the poll asks for them. A compact
// poll has one channel and one module and short value groups.
std::vector<std::pair<uint8_t, Bytes>> PollReplies(bool withModel, bool compact) {
    using namespace fuzzkit;
    const uint8_t units = compact ? 1 : 3;
    const uint8_t modules = compact ? 1 : 4;
    std::vector<std::pair<uint8_t, Bytes>> replies;
    if (withModel) replies.emplace_back(0x40, ModelReply());
    replies.emplace_back(0x40, GroupReply(0x11, 2, AcAnalogBlock(units)));
    replies.emplace_back(0x40, GroupReply(0x11, 2, AcStatusBlock()));
    replies.emplace_back(0x40, GroupReply(0x11, 2, AcAlarmBlock(units, 1)));
    replies.emplace_back(0x41, RcAnalogReply(modules));
    replies.emplace_back(0x41, RcStatusReply(modules));
    replies.emplace_back(0x41, RcAlarmReply(modules, 0));
    replies.emplace_back(0x42, GroupReply(0x11, 2, compact ? DcAnalogBlock(1, 1, 1)
                                                           : DcAnalogBlock(6, 6, 55)));
    replies.emplace_back(0x42, GroupReply(0x11, 2, DcAlarmBlock(1)));
    replies.emplace_back(0x40, AcParamReply(0));
    replies.emplace_back(0x42, DcParamReply(compact ? 0 : 67));
    return replies;
}

// Cycles a seed completes when replayed as its target replays it.
template <class Run>
size_t PollsCompleted(const Bytes& seed, Run run) {
    fuzzkit::PollRig rig;
    run(rig, seed.data(), seed.size());
    return rig.controller->published / fuzzkit::PollRig::kChildren;
}

// Two polls as decoded replies, the second after the poll timer fires.
Bytes DecodedPolls(bool compact) {
    Bytes decoded;
    for (bool first : {true, false}) {
        bool timer = !first;
        for (const auto& [cid1, info] : PollReplies(first, compact)) {
            fuzzkit::AppendRecord(decoded, cid1, timer ? 0x01 : 0x00, info);
            timer = false;
        }
    }
    return decoded;
}

// One compact poll as line bytes (two characters a byte), and its frame bodies.
std::string LinePoll(CorpusWriter& w) {
    std::string line;
    std::string frame;
    for (const auto& [cid1, info] : PollReplies(true, true)) {
        host::EncodeFrame(0x21, 0x01, cid1, 0x00, info.data(), info.size(), frame);
        line += frame;
        const std::string name =
            "reply-" + std::to_string(cid1) + "-" + std::to_string(info.size());
        w.Put("fuzz_frame_decode", name, Text(frame.substr(1, frame.size() - 2)));
    }
    return line;
}

void PollSeeds(CorpusWriter& w) {
    const Bytes full = DecodedPolls(false);
    const Bytes compact = DecodedPolls(true);
    w.Put("fuzz_poll", "two-polls", full);
    w.Put("fuzz_poll", "two-compact-polls", compact);
    w.Expect(PollsCompleted(full, fuzzkit::RunPoll) == 2, "the decoded poll seed");
    w.Expect(PollsCompleted(compact, fuzzkit::RunPoll) == 2, "the compact poll seed");
    const std::string line = LinePoll(w);
    w.Put("fuzz_frame_receiver", "poll-whole", With(0xFF, Text(line)));
    w.Put("fuzz_frame_receiver", "poll-in-pieces", With(0x10, Text(line)));
    w.Put("fuzz_frame_receiver", "noise-then-poll", With(0x40, Text("\r~zz~2101" + line)));
    w.Expect(PollsCompleted(With(0x10, Text(line)), fuzzkit::RunLine) == 1, "the line seed");
}

void KeySeeds(CorpusWriter& w) {
    const char* keys[] = {"channel_0_a", "xchannel_1_b", "channel_1_b_total", "channel_0_frequency",
                          "channel_99999999999_a", "channel__a", "channel_a", "channel_1_\n",
                          "channel_channel_2_c", "ia_alert"};
    int k = 0;
    for (const char* key : keys) {
        w.Put("fuzz_ac_channel_key", "key-" + std::to_string(k++), Text(key));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    CorpusWriter w{fs::path(argv[1])};
    ParserSeeds(w);
    SequenceAndCacheSeeds(w);
    PollSeeds(w);
    KeySeeds(w);
    if (!w.Ok()) {
        std::fprintf(stderr, "trm27k-fuzz-seeds: seeds under %s incomplete\n", argv[1]);
        return 1;
    }
    // Standard error: standard output carries the parsers' own lines.
    std::fprintf(stderr, "trm27k-fuzz-seeds: %d seeds under %s\n", w.Files(), argv[1]);
    return 0;
}
