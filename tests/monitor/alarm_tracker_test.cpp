// The threshold service's rule states and the events they make.
#include <gtest/gtest.h>

#include "alarm_tracker.h"

namespace {
rule_value Rule(const std::string& key, const std::string& detail, bool active, unsigned id = 11) {
    rule_value r;
    r.key = key;
    r.detail = detail;
    r.active = active;
    r.data_id = id;
    return r;
}
}  // namespace

TEST(AlarmTracker, FirstSightRaisesOnlyActiveRules) {
    monitor::AlarmTracker t;
    const auto changes = t.Apply({Rule("AC_0", "d1", false), Rule("AC_6", "d1", true)});
    ASSERT_EQ(1u, changes.size());
    EXPECT_EQ("AC_6", changes[0].rule.key);
    EXPECT_TRUE(changes[0].raised);
    EXPECT_EQ(1u, t.Active().size());
}

TEST(AlarmTracker, RulesSharingAKeyAreToldApartByDetailAndDevice) {
    monitor::AlarmTracker t;
    t.Apply({Rule("DC_3", "直流1", false), Rule("DC_3", "直流2", true), Rule("DC_3", "直流2", false, 22)});
    const auto changes = t.Apply({Rule("DC_3", "直流1", true), Rule("DC_3", "直流2", true),
                                  Rule("DC_3", "直流2", false, 22)});
    ASSERT_EQ(1u, changes.size());
    EXPECT_EQ("直流1", changes[0].rule.detail);
    EXPECT_EQ(2u, t.Active().size());
}

TEST(AlarmTracker, ClearingIsAChangeAndRepeatsAreNot) {
    monitor::AlarmTracker t;
    t.Apply({Rule("AC_6", "d", true)});
    EXPECT_TRUE(t.Apply({Rule("AC_6", "d", true)}).empty());
    const auto changes = t.Apply({Rule("AC_6", "d", false)});
    ASSERT_EQ(1u, changes.size());
    EXPECT_FALSE(changes[0].raised);
    EXPECT_TRUE(t.Active().empty());
}
