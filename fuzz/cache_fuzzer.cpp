// A child's LoadFromCache on an arbitrary image, then the value queries and a
// cycle end. Built once per child: FUZZ_CHILD names the child class.
//
// Input: MODE IMAGE...
//   MODE bit 0  the child first goes through a well-formed cycle, so a refused
//               image has live data to leave alone
//   MODE bit 1  the image is offered in its text form
// A refused image must change nothing; an applied one must come back as the
// next published image, unchanged but for the time stamp the cycle end writes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "ChildKit.h"

namespace {
using Traits = fuzzkit::ChildTraits<FUZZ_CHILD>;
constexpr size_t kStampSize = 7;

bool Offer(FUZZ_CHILD& child, uint8_t mode, const uint8_t* image, size_t size) {
    if ((mode & 0x02) != 0) {  // through the interface, as the host offers it
        VDeviceInterface& device = child;
        return device.LoadFromCache(std::string(reinterpret_cast<const char*>(image), size));
    }
    auto copy = fuzzkit::HeapCopy(image, size);
    return child.LoadFromCache(copy.get(), static_cast<int>(size));
}

// The published image equals `image` outside the time stamp.
bool PublishedAsOffered(const fuzzkit::Bytes& published, const uint8_t* image, size_t size) {
    constexpr size_t stamp = Traits::kStamp;
    if (published.size() != size || size < stamp + kStampSize) return false;
    return std::memcmp(published.data(), image, stamp) == 0 &&
           std::memcmp(published.data() + stamp + kStampSize, image + stamp + kStampSize,
                       size - stamp - kStampSize) == 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    fuzzkit::BoundChild<FUZZ_CHILD> bound;
    FUZZ_CHILD& child = *bound.child;
    if ((mode & 0x01) != 0) {
        Traits::Prime(child, 2);
        fuzzkit::EndRound(bound);
    }
    const fuzzkit::Bytes before = Traits::State(child);
    const bool wasReady = child.DataReady();
    const bool applied = Offer(child, mode, data + 1, size - 1);
    FUZZ_CHECK(Traits::CountsAgree(child), "unit count and unit records disagree");
    if (!applied) {
        FUZZ_CHECK(Traits::State(child) == before, "a refused image changed the records");
        FUZZ_CHECK(child.DataReady() == wasReady, "a refused image changed the data-ready flag");
    } else {
        FUZZ_CHECK(child.DataReady(), "an applied image left the data not ready");
    }
    fuzzkit::QueryKeys(child);
    fuzzkit::EndRound(bound);
    if (applied) {
        FUZZ_CHECK(PublishedAsOffered(bound.controller->lastImage, data + 1, size - 1),
                   "the applied image does not come back as the published image");
    }
    return 0;
}
