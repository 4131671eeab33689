#include "TRM27KDC.h"

#include "RuleTexts.h"
#include "dc_alarm_catalogue.h"

template class PMBusPowerDC<tele_c_trm27k_dc, 5176>;

namespace {
constexpr bool EveryRowWatchesARecordByte() {
    for (const auto& row : dc::kCatalogue) {
        if (row.byte >= tele_c_trm27k_dc::ALERT_P_SIZE()) return false;
    }
    return true;
}
static_assert(EveryRowWatchesARecordByte(), "a catalogue byte lies outside alert_p");
}  // namespace

TRM27KDC::TRM27KDC() {
    deviceType_ = "trm27k-dc";
}
TRM27KDC::TRM27KDC(const std::string& text) : PMBusPowerDC(text) {
    deviceType_ = "trm27k-dc";
}
TRM27KDC::~TRM27KDC() = default;

void TRM27KDC::DoImpCheckAlert() {
    if (tele.alert_p_count != tele_c_trm27k_dc::ALERT_P_SIZE()) return;
    const auto& texts = child::RuleTextsOf<dc::kCatalogue>();
    for (size_t i = 0; i < dc::kCatalogue.size(); ++i) {
        const dc::CatalogueRow& row = dc::kCatalogue[i];
        CheckThresholdBool(dc::kCatalogueLevel, texts[i].key, texts[i].code, texts[i].name,
                           texts[i].detail, tele.alert_p[row.byte] == row.value, ruleSeq_++);
    }
}
