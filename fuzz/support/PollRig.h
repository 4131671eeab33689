#pragma once
// A configured TRM27K main device (2 AC screens, 2 DC screens and the
// rectifier group) on a fuzz controller, with the properties every reply must
// keep: a valid step, unit counts that agree with the unit records, and images
// published by whole cycles only (every child once per cycle end).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "ChildKit.h"
#include "FuzzController.h"
#include "FuzzInput.h"
#include "PMBusProtocol.h"
#include "TRM27K.h"

namespace fuzzkit {

inline const Json::Value& PollSetting() {
    static const Json::Value setting = [] {
        Json::Value s(Json::objectValue);
        const auto child = [](unsigned id) {
            Json::Value entry(Json::objectValue);
            entry["data_id"] = id;
            return entry;
        };
        s["acSetting"].append(child(11));
        s["acSetting"].append(child(12));
        s["dcSetting"].append(child(21));
        s["dcSetting"].append(child(22));
        s["rcSetting"] = Json::Value(Json::objectValue);
        return s;
    }();
    return setting;
}

struct PollRig {
    static constexpr size_t kChildren = 5;

    std::shared_ptr<FuzzController> controller = std::make_shared<FuzzController>();
    std::shared_ptr<TRM27K> power = std::make_shared<TRM27K>();

    PollRig() {
        power->Init(controller, 1, PollSetting());
        FUZZ_CHECK(power->InitSetting(PollSetting()), "the poll setting was refused");
        FUZZ_CHECK(power->GetAllChildVDevices().size() == kChildren, "children");
    }
    // The host's poll timer: with `age`, the last update is made 3 seconds old.
    void Refresh(bool age) {
        if (age) power->SetUpdateTime(host_local_now() - boost::posix_time::seconds(3));
        power->RefreshStatus();
    }
    void Check() const {
        const int step = power->Step();
        FUZZ_CHECK(step == 0 || power::FindStep(step) != nullptr, "step outside the poll table");
        for (const auto& ac : power->AcDevices()) {
            FUZZ_CHECK(ChildTraits<TRM27KAC>::CountsAgree(*ac), "AC unit count");
        }
        FUZZ_CHECK(ChildTraits<TRM27KRC>::CountsAgree(*power->RcDevice()), "rectifier unit count");
        FUZZ_CHECK(controller->published % kChildren == 0, "a cycle end left a child out");
    }
    void QueryAll() const {
        for (const auto& ac : power->AcDevices()) QueryKeys(*ac);
        for (const auto& dc : power->DcDevices()) QueryKeys(*dc);
        QueryKeys(*power->RcDevice());
    }
};

// VER ADR CID1 RTN LENID(le16) INFO for one poll record, in an exact-size heap block.
inline std::unique_ptr<uint8_t[]> DecodedReply(const Record& r, size_t& length) {
    length = PMBusProtocol::kReplyHeader + r.size;
    std::unique_ptr<uint8_t[]> reply(new uint8_t[length]);
    size_t lenid = 2 * r.size;
    if ((r.ctl & 0x08) != 0) lenid += 2;
    if ((r.ctl & 0x10) != 0) lenid += 1;
    reply[0] = 0x21;
    reply[1] = 0x01;
    reply[2] = r.tag;
    reply[3] = (r.ctl & 0x04) != 0 ? static_cast<uint8_t>(1 + (r.ctl >> 4)) : 0;
    reply[4] = static_cast<uint8_t>(lenid & 0xFF);
    reply[5] = static_cast<uint8_t>((lenid >> 8) & 0xFF);
    if (r.size > 0) std::memcpy(reply.get() + PMBusProtocol::kReplyHeader, r.body, r.size);
    return reply;
}

// Decoded replies through HandleReply. Input: records (FuzzInput.h), one reply
// each: TAG is the reply's CID1, BODY its INFO. CTL:
//   bit 0  the poll timer fires first (last update made 3 seconds old)
//   bit 1  the exchange ends first as if the reply never came (process_error)
//   bit 2  RTN is not 0 (1 plus CTL's high nibble)
//   bit 3  LENID announces one INFO byte more than the reply holds
//   bit 4  LENID is odd (one hex character more than the bytes sent)
inline void RunPoll(PollRig& rig, const uint8_t* data, size_t size) {
    rig.Refresh(false);
    RecordReader reader(data, size);
    Record r;
    while (reader.Next(r)) {
        if ((r.ctl & 0x02) != 0) rig.power->process_error();
        if ((r.ctl & 0x01) != 0) rig.Refresh(true);
        size_t length = 0;
        const auto reply = DecodedReply(r, length);
        rig.power->HandleReply(reply.get(), length);
        rig.Check();
    }
    rig.QueryAll();
}

// Line bytes through PMBusProtocol::process. Input: CHUNK STREAM...
//   CHUNK   bytes per process() call, 1 to 256, so frames also arrive in pieces
//   STREAM  the line bytes; after each call the poll timer fires (last update
//           made 3 seconds old) when no exchange is pending
// A call ends at a frame's end ('\r') as a read on a real line does: the next
// reply only comes after the next command, and the host drops what arrived
// before that command went out.
inline void RunLine(PollRig& rig, const uint8_t* data, size_t size) {
    if (size == 0) return;
    const size_t chunk = static_cast<size_t>(data[0]) + 1;
    rig.Refresh(false);
    for (size_t at = 1, n = 0; at < size; at += n) {
        n = size - at < chunk ? size - at : chunk;
        const void* end = std::memchr(data + at, '\r', n);
        if (end != nullptr) n = static_cast<size_t>(static_cast<const uint8_t*>(end) - (data + at)) + 1;
        auto piece = HeapCopy(data + at, n);
        rig.power->process(piece.get(), static_cast<unsigned int>(n));
        rig.Check();
        if (!rig.power->IsProcessing()) rig.Refresh(true);
    }
    rig.QueryAll();
}

}  // namespace fuzzkit
