#include "replies.h"

#include <algorithm>

namespace sim {

void InfoWriter::Count(size_t n) {
    if (n > 255) clamped_ = true;
    Byte(static_cast<uint8_t>(std::min<size_t>(n, 255)));
}

void InfoWriter::Bytes(const std::vector<uint8_t>& group) {
    const size_t n = std::min<size_t>(group.size(), 255);
    Count(group.size());
    out_.insert(out_.end(), group.begin(), group.begin() + static_cast<std::ptrdiff_t>(n));
}

void InfoWriter::Values(const std::vector<Wire4>& group) {
    const size_t n = std::min<size_t>(group.size(), 255);
    Count(group.size());
    for (size_t k = 0; k < n; ++k) Value(group[k]);
}

namespace {

// Screens and modules beyond what a count byte announces are not sent.
template <class T>
size_t Sent(const std::vector<T>& units) {
    return std::min<size_t>(units.size(), 255);
}

// 40/41: DATAFLAG, M, then per screen N, per channel a b c f and the user
// values, then the phase currents.
void PutAcAnalog(const Scenario& s, InfoWriter& w) {
    w.Byte(s.acDataFlag);
    w.Count(s.ac.size());
    for (size_t k = 0; k < Sent(s.ac); ++k) {
        const AcScreen& screen = s.ac[k];
        w.Count(screen.channels.size());
        for (size_t c = 0; c < Sent(screen.channels); ++c) {
            const AcChannel& ch = screen.channels[c];
            for (const Wire4* v : {&ch.a, &ch.b, &ch.c, &ch.f}) w.Value(*v);
            w.Values(ch.user);
        }
        for (const Wire4* v : {&screen.ia, &screen.ib, &screen.ic}) w.Value(*v);
    }
}

// 40/43: DATAFLAG, M, then per screen the breaker states and the status bytes.
void PutAcStatus(const Scenario& s, InfoWriter& w) {
    w.Byte(s.acDataFlag);
    w.Count(s.ac.size());
    for (size_t k = 0; k < Sent(s.ac); ++k) {
        w.Bytes(s.ac[k].breakers);
        w.Bytes(s.ac[k].status);
    }
}

// 40/44: DATAFLAG, M, then per screen N, per channel four alarm states, the
// extra item states and the user alarm bytes, then the current alarm states.
void PutAcAlarms(const Scenario& s, InfoWriter& w) {
    w.Byte(s.acDataFlag);
    w.Count(s.ac.size());
    for (size_t k = 0; k < Sent(s.ac); ++k) {
        const AcScreen& screen = s.ac[k];
        w.Count(screen.channels.size());
        for (size_t c = 0; c < Sent(screen.channels); ++c) {
            const AcChannel& ch = screen.channels[c];
            for (uint8_t state : {ch.aAlert, ch.bAlert, ch.cAlert, ch.fAlert}) w.Byte(state);
            w.Bytes(ch.extra);
            w.Bytes(ch.alarmUser);
        }
        for (uint8_t state : {screen.iaAlert, screen.ibAlert, screen.icAlert}) w.Byte(state);
    }
}

// 40/46: five AC parameters, then the counted further ones.
void PutAcParams(const Scenario& s, InfoWriter& w) {
    for (const Wire4& v : s.acParam) w.Value(v);
    w.Values(s.acParamExtra);
}

// 40/51: the 20-byte model text.
void PutModel(const Scenario& s, InfoWriter& w) {
    for (uint8_t b : s.model) w.Byte(b);
}

// 41/41: DATAFLAG, the group value, M, then per module its value and analog values.
void PutRcAnalog(const Scenario& s, InfoWriter& w) {
    w.Byte(s.rcDataFlag);
    w.Value(s.groupValue);
    w.Count(s.modules.size());
    for (size_t k = 0; k < Sent(s.modules); ++k) {
        w.Value(s.modules[k].value);
        w.Values(s.modules[k].analog);
    }
}

// 41/43: DATAFLAG, M, then per module three status bytes and the user status bytes.
void PutRcStatus(const Scenario& s, InfoWriter& w) {
    w.Byte(s.rcDataFlag);
    w.Count(s.modules.size());
    for (size_t k = 0; k < Sent(s.modules); ++k) {
        for (uint8_t b : s.modules[k].status) w.Byte(b);
        w.Bytes(s.modules[k].statusUser);
    }
}

// 41/44: DATAFLAG, M, then per module the fault byte and the alarm bytes.
void PutRcAlarms(const Scenario& s, InfoWriter& w) {
    w.Byte(s.rcDataFlag);
    w.Count(s.modules.size());
    for (size_t k = 0; k < Sent(s.modules); ++k) {
        w.Byte(s.modules[k].fault);
        w.Bytes(s.modules[k].alarmUser);
    }
}

// Where the first DC screen's block starts when there are more than three
// screens: the driver hands the count byte to the first screen, so its block
// begins AT the count byte. The count then stands in for the least
// significant byte of the first screen's voltage, which is left out.
constexpr size_t kDcCountInBlockAbove = 3;

// 42/41: DATAFLAG, count, then per screen v, i, m values, n values, user values.
void PutDcAnalog(const Scenario& s, InfoWriter& w) {
    w.Byte(s.dcDataFlag);
    w.Count(s.dc.size());
    for (size_t k = 0; k < Sent(s.dc); ++k) {
        const DcScreen& screen = s.dc[k];
        w.Value(screen.v);
        w.Value(screen.i);
        w.Values(screen.m);
        w.Values(screen.n);
        w.Values(screen.user);
    }
    std::vector<uint8_t>& out = w.Out();
    if (s.dc.size() > kDcCountInBlockAbove) out.erase(out.begin() + 2);
}

// 42/44: DATAFLAG, count, then per screen the voltage alarm, fuse states and
// user alarm bytes.
void PutDcAlarms(const Scenario& s, InfoWriter& w) {
    w.Byte(s.dcDataFlag);
    w.Count(s.dc.size());
    for (size_t k = 0; k < Sent(s.dc); ++k) {
        w.Byte(s.dc[k].vAlarm);
        w.Bytes(s.dc[k].fuses);
        w.Bytes(s.dc[k].alarmUser);
    }
}

// 42/46: two DC parameters, then the counted further ones.
void PutDcParams(const Scenario& s, InfoWriter& w) {
    for (const Wire4& v : s.dcParam) w.Value(v);
    w.Values(s.dcParamExtra);
}

}  // namespace

// The eleven commands of the poll, in poll-step order (model query last).
const std::array<CommandRow, 11> kCommands = {{
    {0x40, 0x41, "AC analog", &PutAcAnalog, 1},
    {0x40, 0x43, "AC status", &PutAcStatus, 1},
    {0x40, 0x44, "AC alarm", &PutAcAlarms, 1},
    {0x40, 0x46, "AC parameter", &PutAcParams, -1},
    {0x41, 0x41, "rectifier analog", &PutRcAnalog, 5},
    {0x41, 0x43, "rectifier status", &PutRcStatus, 1},
    {0x41, 0x44, "rectifier alarm", &PutRcAlarms, 1},
    {0x42, 0x41, "DC analog", &PutDcAnalog, 1},
    {0x42, 0x44, "DC alarm", &PutDcAlarms, 1},
    {0x42, 0x46, "DC parameter", &PutDcParams, -1},
    {0x40, 0x51, "device model", &PutModel, -1},
}};

const CommandRow* FindCommand(uint8_t cid1, uint8_t cid2) {
    for (const CommandRow& row : kCommands) {
        if (row.cid1 == cid1 && row.cid2 == cid2) return &row;
    }
    return nullptr;
}

bool BuildInfo(const Scenario& s, uint8_t cid1, uint8_t cid2, std::vector<uint8_t>& out,
               bool* clamped) {
    out.clear();
    const CommandRow* row = FindCommand(cid1, cid2);
    if (row == nullptr) return false;
    InfoWriter writer(out);
    row->build(s, writer);
    if (clamped != nullptr) *clamped = writer.Clamped();
    return true;
}

std::vector<uint8_t> BuildInfo(const Scenario& s, uint8_t cid1, uint8_t cid2, bool& known) {
    std::vector<uint8_t> out;
    known = BuildInfo(s, cid1, cid2, out);
    return out;
}

}  // namespace sim
