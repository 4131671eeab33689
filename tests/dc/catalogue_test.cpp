// The DC alarm catalogue: its invariants as the description states them (not
// a second copy of the table), and the rules DoImpCheckAlert passes from it.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "DcTestKit.h"
#include "dc_alarm_catalogue.h"

using namespace testing_support;

namespace {
const std::string kPrefix = "TRM27KAC_DC_";

int KeyNumber(const dc::CatalogueRow& row) {
    return std::stoi(std::string(row.key).substr(kPrefix.size()));
}

// The value rule as the description states it: 0x80 plus the key number from
// key 2 to 110, 0x81 and 0x80 for keys 0 and 1, 0xEE again for key 112, then
// 0x82 to 0x88 in steps of two for keys 114 to 117 and 0x89 plus one per key
// number from key 118 (keys 133 and 134 are absent, so 0x98 and 0x99 are too).
int ExpectedValue(int key) {
    if (key == 0) return 0x81;
    if (key == 1) return 0x80;
    if (key <= 110) return 0x80 + key;
    if (key == 112) return 0xEE;
    if (key <= 117) return 0x82 + 2 * (key - 114);
    return 0x89 + (key - 118);
}

// The record after one 42/44 block with 151 user-defined alarm bytes, then a cycle.
struct CycledDc : BoundDc {
    explicit CycledDc(const std::map<int, uint8_t>& bytes, uint8_t fuses = 0) {
        Bytes user(151, 0);
        for (const auto& [index, value] : bytes) user[static_cast<size_t>(index)] = value;
        const Bytes block = DcAlarmBlock(0, Bytes(fuses, 0), user);
        Feed44(block);
        dc->RoundDone();
    }
    const std::vector<rule_value>& Rules() const { return controller->batches.at(0).rules; }
    const rule_value* Find(const std::string& key) const {
        for (const auto& r : Rules()) {
            if (r.key == key) return &r;
        }
        return nullptr;
    }
    bool Active(const std::string& key) const {
        const rule_value* r = Find(key);
        return r != nullptr && r->active == 1;
    }
    std::vector<std::string> ActiveKeys() const {
        std::vector<std::string> keys;
        for (const auto& r : Rules()) {
            if (r.active) keys.push_back(r.key);
        }
        return keys;
    }
};

// The active catalogue keys of a cycle whose user-defined alarm bytes are all
// zero but for `bytes`.
std::vector<std::string> ActiveFor(const std::map<int, uint8_t>& bytes) {
    return CycledDc(bytes).ActiveKeys();
}
}  // namespace

TEST(DcCatalogue, KeysRunFromZeroTo140WithTheStatedGaps) {
    ASSERT_EQ(124u, std::size(dc::kCatalogue));
    std::set<int> expected;
    for (int k = 0; k <= 140; ++k) expected.insert(k);
    for (int gap : {109, 111, 113, 133, 134}) expected.erase(gap);
    for (int gap = 82; gap <= 93; ++gap) expected.erase(gap);
    std::vector<int> numbers;
    for (const auto& row : dc::kCatalogue) {
        ASSERT_EQ(0, std::string(row.key).compare(0, kPrefix.size(), kPrefix)) << row.key;
        EXPECT_EQ(row.key, kPrefix + std::to_string(KeyNumber(row)));  // no leading zeros
        numbers.push_back(KeyNumber(row));
    }
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
    EXPECT_EQ(expected, std::set<int>(numbers.begin(), numbers.end()));
}

TEST(DcCatalogue, BytesAndTheirRowCounts) {
    std::map<int, int> rowsPerByte;
    int previous = 0;
    for (const auto& row : dc::kCatalogue) {
        EXPECT_GE(row.byte, previous) << row.key;  // bytes are watched in order
        previous = row.byte;
        ++rowsPerByte[row.byte];
    }
    for (int byte = 0; byte < 151; ++byte) {
        const bool unwatched =
            (byte >= 67 && byte <= 78) || byte == 109 || byte == 110 || byte >= 117;
        const bool twoRows = (byte >= 48 && byte <= 62) || (byte >= 103 && byte <= 108);
        const int expected = unwatched ? 0 : twoRows ? 2 : 1;
        EXPECT_EQ(expected, rowsPerByte.count(byte) ? rowsPerByte[byte] : 0) << byte;
    }
}

TEST(DcCatalogue, ValuesFollowTheStatedIrregularRule) {
    for (const auto& row : dc::kCatalogue) {
        const int expected = ExpectedValue(KeyNumber(row));
        EXPECT_EQ(expected, row.value) << row.key;
    }
    std::set<int> late;
    for (const auto& row : dc::kCatalogue) {
        if (KeyNumber(row) >= 118) late.insert(row.value);
    }
    EXPECT_EQ(0u, late.count(0x98));
    EXPECT_EQ(0u, late.count(0x99));
    EXPECT_EQ(1u, late.count(0x9F));
}

TEST(DcCatalogue, CodesNamesAndDetails) {
    std::map<std::string, std::set<std::string>> namesPerCode;
    int other = 0;
    for (const auto& row : dc::kCatalogue) {
        const std::string code = row.code;
        ASSERT_EQ(5u, code.size()) << row.key;
        EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos) << row.key;
        EXPECT_FALSE(std::string(row.name).empty()) << row.key;
        if (code == "06029") {
            ++other;
            EXPECT_STREQ("其他告警", row.detail) << row.key;
        } else {
            EXPECT_STRNE("其他告警", row.detail) << row.key;
            namesPerCode[code].insert(row.name);
        }
    }
    EXPECT_EQ(96, other);
    const std::set<std::string> generic = {"06022", "06011", "06007", "06002",
                                           "06004", "06005", "06003"};
    std::set<std::string> seen;
    for (const auto& [code, names] : namesPerCode) {
        seen.insert(code);
        EXPECT_EQ(1u, names.size()) << code;  // one generic name per code
    }
    EXPECT_EQ(generic, seen);
}

TEST(DcCatalogue, AllZeroBytesPass124InactiveRulesInOrder) {
    CycledDc b({});
    const auto& rules = b.Rules();
    ASSERT_EQ(2u + 124u, rules.size());
    for (size_t k = 0; k < 124; ++k) {
        const rule_value& r = rules[2 + k];
        const dc::CatalogueRow& row = dc::kCatalogue[k];
        EXPECT_EQ(2, r.level);
        EXPECT_EQ(row.key, r.key);
        EXPECT_EQ(row.code, r.code);
        EXPECT_EQ(row.name, r.name);
        EXPECT_EQ(row.detail, r.detail);
        EXPECT_EQ(0, r.active);
        EXPECT_EQ(static_cast<int>(3 + k), r.sequence);  // 3 to 126 without fuses
    }
}

TEST(DcCatalogue, WithFusesTheCatalogueIsNumbered9To132) {
    CycledDc b({}, 6);
    const auto& rules = b.Rules();
    ASSERT_EQ(132u, rules.size());
    EXPECT_EQ("TRM27KAC_DC_0", rules[8].key);
    EXPECT_EQ(9, rules[8].sequence);
    EXPECT_EQ("TRM27KAC_DC_140", rules[131].key);
    EXPECT_EQ(132, rules[131].sequence);
}

TEST(DcCatalogue, AUserCountOtherThan151PassesNoRule) {
    for (size_t count : {0u, 150u, 152u, 255u}) {
        BoundDc b;
        b.Feed44(DcAlarmBlock(0, Bytes(6, 0), Bytes(count, 0x81)));
        b.dc->RoundDone();
        EXPECT_EQ(8u, b.controller->batches.at(0).rules.size()) << count;
    }
}

TEST(DcCatalogue, EdgeRows) {
    EXPECT_EQ((std::vector<std::string>{"TRM27KAC_DC_48"}), ActiveFor({{48, 0xB0}}));
    EXPECT_EQ((std::vector<std::string>{"TRM27KAC_DC_49"}), ActiveFor({{48, 0xB1}}));
    EXPECT_EQ((std::vector<std::string>{"TRM27KAC_DC_122"}), ActiveFor({{103, 0x8D}}));
    EXPECT_EQ((std::vector<std::string>{"TRM27KAC_DC_121"}), ActiveFor({{103, 0x8C}}));
    EXPECT_EQ((std::vector<std::string>{"TRM27KAC_DC_110", "TRM27KAC_DC_112"}),
              ActiveFor({{94, 0xEE}, {95, 0xEE}}));
    EXPECT_TRUE(ActiveFor({{0, 0x80}}).empty());  // key 0 needs 0x81
    EXPECT_EQ((std::vector<std::string>{"TRM27KAC_DC_0"}), ActiveFor({{0, 0x81}}));
    EXPECT_EQ((std::vector<std::string>{"TRM27KAC_DC_1"}), ActiveFor({{1, 0x80}}));
    EXPECT_EQ((std::vector<std::string>{"TRM27KAC_DC_140"}), ActiveFor({{116, 0x9F}}));
    // Unwatched bytes raise nothing, whatever they hold.
    EXPECT_TRUE(ActiveFor({{67, 0xC3}, {110, 0xEE}, {117, 0x9F}, {150, 0xFF}}).empty());
}

// Every row is raised by its own byte and value and by nothing else.
TEST(DcCatalogue, EachRowIsRaisedByItsByteAndValueAlone) {
    for (const auto& row : dc::kCatalogue) {
        EXPECT_EQ((std::vector<std::string>{row.key}), ActiveFor({{row.byte, row.value}}))
            << row.key;
    }
}

// Full texts of rows chosen for risk, written out from the description rather
// than taken from the table: first and last, one per code, the rows sharing a
// byte, the 0xEE pair, the restart of the values at key 114 and the rows
// around each gap of the keys.
TEST(DcCatalogue, RowsChosenForRiskCarryTheirFullTexts) {
    struct Expected {
        int byte;
        uint8_t value;
        const char* key;
        const char* code;
        const char* name;
        const char* detail;
    };
    const Expected rows[] = {
        {0, 0x81, "TRM27KAC_DC_0", "06022", "防雷器故障告警", "交流防雷器断故障告警状态"},
        {1, 0x80, "TRM27KAC_DC_1", "06011", "直流屏通讯中断告警", "直流屏通讯中断告警状态"},
        {2, 0x82, "TRM27KAC_DC_2", "06029", "负载熔丝断(合路)", "其他告警"},
        {8, 0x88, "TRM27KAC_DC_8", "06007", "负载熔丝故障告警", "负载熔丝6故障告警"},
        {9, 0x89, "TRM27KAC_DC_9", "06002", "电池充电过流告警", "电池组1充电过流"},
        {20, 0x94, "TRM27KAC_DC_20", "06004", "电池放电不平衡告警", "电池组6不平衡"},
        {46, 0xAE, "TRM27KAC_DC_46", "06005", "电池供电告警", "开关电源处于电池供电中"},
        {48, 0xB0, "TRM27KAC_DC_48", "06003", "电池温度过高告警", "电池组温度高于设定告警阈值"},
        {48, 0xB1, "TRM27KAC_DC_49", "06029", "电池温度过低告警", "其他告警"},
        {54, 0xBC, "TRM27KAC_DC_60", "06003", "电池温度过高告警", "电池温度传感器6异常"},
        {62, 0xCD, "TRM27KAC_DC_77", "06029", "环境湿度传感器3故障", "其他告警"},
        {66, 0xD1, "TRM27KAC_DC_81", "06029", "红外告警", "其他告警"},
        {79, 0xDE, "TRM27KAC_DC_94", "06029", "风扇组1风扇1告警", "其他告警"},
        {93, 0xEC, "TRM27KAC_DC_108", "06029", "扩展柜2温控高温告警", "其他告警"},
        {94, 0xEE, "TRM27KAC_DC_110", "06029", "温控传感器1故障", "其他告警"},
        {95, 0xEE, "TRM27KAC_DC_112", "06029", "温控传感器2故障", "其他告警"},
        {96, 0x82, "TRM27KAC_DC_114", "06029", "扩展柜1温控传感器1故障", "其他告警"},
        {100, 0x89, "TRM27KAC_DC_118", "06029", "温控设备1通信中断-告警", "其他告警"},
        {108, 0x97, "TRM27KAC_DC_132", "06029", "电池组6电压欠压", "其他告警"},
        {111, 0x9A, "TRM27KAC_DC_135", "06029", "加热器告警", "其他告警"},
        {116, 0x9F, "TRM27KAC_DC_140", "06029", "锂电池故障", "其他告警"},
    };
    for (const auto& e : rows) {
        const CycledDc b({{e.byte, e.value}});
        EXPECT_EQ((std::vector<std::string>{e.key}), b.ActiveKeys()) << e.key;
        const rule_value* r = b.Find(e.key);
        ASSERT_NE(nullptr, r) << e.key;
        EXPECT_EQ(2, r->level) << e.key;
        EXPECT_EQ(e.code, r->code) << e.key;
        EXPECT_EQ(e.name, r->name) << e.key;
        EXPECT_EQ(e.detail, r->detail) << e.key;
    }
}
