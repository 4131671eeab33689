// The per-cycle summary reads the site model: the values the images carry,
// "—" for what the power system did not provide, and the active alarms only.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <string>

#include "SiteImages.h"
#include "site_model.h"
#include "summary.h"

using namespace testing_support;

TEST(Summary, ShowsTheModelsValuesAndOnlyActiveAlarms) {
    site::SiteModel model("s");
    auto ac = AcImage(11, 2, 230.0f, 5.0f);
    Put(ac, sizeof(tele_c_trm27k_ac) + sizeof(tele_c_trm27k_ac_channel) +
                offsetof(tele_c_trm27k_ac_channel, f), {0, 0, 0, 0});  // not provided, as the parser stores it
    Put(ac, offsetof(tele_c_trm27k_ac, ib), kFillTenth);
    const auto dc = DcImage(21, 53.5f, 12.0f);
    model.OnRecord(11, "trm27k-ac", 5175, ac.data(), ac.size(), "2026-12-09T10:00:00");
    model.OnRecord(21, "trm27k-dc", 5176, dc.data(), dc.size(), "2026-12-09T10:00:00");
    rule_value high;
    high.level = 2;
    high.key = "AC_4";
    high.code = "06014";
    high.name = "high";
    high.detail = "ch0";
    high.active = 1;
    high.data_id = 11;
    rule_value low = high;
    low.key = "AC_5";
    low.name = "low";
    low.active = 0;
    model.OnRules({high, low}, "2026-12-09T10:00:00");
    model.OnCycleEnd(0.01, "2026-12-09T10:00:01");

    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = ::open_memstream(&text, &size);
    summary::PrintSummary(out, 7, *model.Current());
    std::fclose(out);
    const std::string summary(text, size);
    std::free(text);
    EXPECT_EQ("cycle 7 2026-12-09T10:00:01\n"
              "  AC 11: [ch0 230.0/230.0/230.0 V 50.0 Hz] [ch1 230.0/230.0/230.0 V — Hz] I 5.0/—/5.0 A\n"
              "  DC 21: 53.5 V 12.0 A\n"
              "  alarms: \n"
              "    [11 AC_4 06014] high ch0\n",
              summary);
}
