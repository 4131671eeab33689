#pragma once
// What the child targets share: a child bound to a fuzz controller through a
// parent, per child type its parsers, value keys and image layout, and the
// properties every step must keep.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "FuzzController.h"
#include "FuzzInput.h"
#include "Replies.h"
#include "TRM27KAC.h"
#include "TRM27KDC.h"
#include "TRM27KRC.h"

namespace fuzzkit {

template <class Child>
struct Parser {
    const char* name;
    int (Child::*parse)(const uint8_t*, int);
    bool bounded;  // false: the result may announce more than the block holds
};

// The record bytes a child holds: its header record, then its unit records.
template <class Header, class Unit>
Bytes StateOf(const Header& header, const std::vector<Unit>& units) {
    const auto* h = reinterpret_cast<const uint8_t*>(&header);
    Bytes out(h, h + sizeof(Header));
    const auto* u = reinterpret_cast<const uint8_t*>(units.data());
    out.insert(out.end(), u, u + sizeof(Unit) * units.size());
    return out;
}

template <class Child>
struct ChildTraits;

template <>
struct ChildTraits<TRM27KAC> {
    static constexpr int kType = kAcRecord;
    static constexpr size_t kStamp = offsetof(tele_c_trm27k_ac, ttime);
    static constexpr std::array<Parser<TRM27KAC>, 3> kParsers = {{
        {"parse40_41", &TRM27KAC::parse40_41, true},
        {"parse40_43", &TRM27KAC::parse40_43, true},
        {"parse40_44", &TRM27KAC::parse40_44, true},
    }};
    static constexpr std::array<const char*, 9> kKeys = {
        "ia", "ib", "ic", "ia_alert", "ic_alert", "channel_0_a", "channel_1_f", "channel_7_c",
        "channel_0_x"};
    // Gives a fresh child `units` channels, as the first analog block would.
    static void Prime(TRM27KAC& ac, uint8_t units) {
        const Bytes block = AcAnalogBlock(units);
        auto copy = HeapCopy(block.data(), block.size());
        ac.parse40_41(copy.get(), static_cast<int>(block.size()));
    }
    static bool CountsAgree(const TRM27KAC& ac) {
        return ac.channels.size() == ac.tele.channel_count;
    }
    static Bytes State(const TRM27KAC& ac) { return StateOf(ac.tele, ac.channels); }
};

template <>
struct ChildTraits<TRM27KDC> {
    static constexpr int kType = kDcRecord;
    static constexpr size_t kStamp = offsetof(tele_c_trm27k_dc, ttime);
    static constexpr std::array<Parser<TRM27KDC>, 2> kParsers = {{
        {"parse42_41", &TRM27KDC::parse42_41, true},
        {"parse42_44", &TRM27KDC::parse42_44, true},
    }};
    static constexpr std::array<const char*, 3> kKeys = {"v", "i", "ia"};
    // A DC screen has no unit count: its record is filled from a well-formed block.
    static void Prime(TRM27KDC& dc, uint8_t /*units*/) {
        const Bytes block = DcAnalogBlock(6, 6, 55);
        auto copy = HeapCopy(block.data(), block.size());
        dc.parse42_41(copy.get(), static_cast<int>(block.size()));
    }
    static bool CountsAgree(const TRM27KDC& /*dc*/) { return true; }
    static Bytes State(const TRM27KDC& dc) {
        const auto* p = reinterpret_cast<const uint8_t*>(&dc.tele);
        return Bytes(p, p + sizeof(dc.tele));
    }
};

template <>
struct ChildTraits<TRM27KRC> {
    static constexpr int kType = kRcRecord;
    static constexpr size_t kStamp = offsetof(tele_c_trm27k_rc, ttime);
    // The two parameter parsers return the length their reply announces.
    static constexpr std::array<Parser<TRM27KRC>, 5> kParsers = {{
        {"parse41_41", &TRM27KRC::parse41_41, true},
        {"parse41_43", &TRM27KRC::parse41_43, true},
        {"parse41_44", &TRM27KRC::parse41_44, true},
        {"parse40_46", &TRM27KRC::parse40_46, false},
        {"parse42_46", &TRM27KRC::parse42_46, false},
    }};
    static constexpr std::array<const char*, 2> kKeys = {"v", "channel_0_a"};
    static void Prime(TRM27KRC& rc, uint8_t units) {
        const Bytes reply = RcAnalogReply(units);
        auto copy = HeapCopy(reply.data(), reply.size());
        rc.parse41_41(copy.get(), static_cast<int>(reply.size()));
    }
    static bool CountsAgree(const TRM27KRC& rc) {
        return rc.channels.size() == rc.tele.channel_count;
    }
    static Bytes State(const TRM27KRC& rc) { return StateOf(rc.tele, rc.channels); }
};

// A child bound to its own controller through a parent, as the main device binds it.
template <class Child>
struct BoundChild {
    std::shared_ptr<FuzzController> controller = std::make_shared<FuzzController>();
    std::shared_ptr<FuzzParent> parent = std::make_shared<FuzzParent>();
    std::shared_ptr<Child> child = std::make_shared<Child>();  // RoundDone needs shared_from_this

    BoundChild() {
        parent->Init(controller, 1, Json::Value());
        child->InitV(parent.get(), 11, Json::Value(Json::objectValue));
    }
};

// Runs one parser on an exact-size copy of `body`; a negative `size` is passed
// as it is, with the copy's pointer.
template <class Child>
int RunParser(Child& child, const Parser<Child>& parser, const uint8_t* body, size_t bodySize,
              int size) {
    auto copy = HeapCopy(body, bodySize);
    const int result = (child.*parser.parse)(copy.get(), size);
    FUZZ_CHECK(result >= -1, parser.name);
    if (parser.bounded) FUZZ_CHECK(result <= (size > 0 ? size : 0), parser.name);
    FUZZ_CHECK(ChildTraits<Child>::CountsAgree(child), "unit count and unit records disagree");
    return result;
}

// Asks every key; a query may fail only with the out-of-range error.
template <class Child>
void QueryKeys(const Child& child) {
    for (const char* key : ChildTraits<Child>::kKeys) {
        try {
            (void)child.Get_Value(0, key);
        } catch (const std::out_of_range&) {
        }
    }
}

// Ends a cycle and checks that it published one image of this child's type.
template <class Child>
void EndRound(BoundChild<Child>& bound) {
    const size_t before = bound.controller->published;
    bound.child->RoundDone();
    FUZZ_CHECK(bound.controller->published == before + 1, "RoundDone published no image");
    FUZZ_CHECK(bound.controller->lastType == ChildTraits<Child>::kType, "image type");
    FUZZ_CHECK(bound.child->DataReady(), "RoundDone left the data not ready");
}

// Makes the child's data look 61 seconds old.
inline void AgeData(SMDVDevice& device) {
    device.SetUpdateTime(host_local_now() - boost::posix_time::seconds(61));
}

}  // namespace fuzzkit
