#pragma once
// Scenarios from JSON. Every key is optional: what a document leaves out
// keeps the value the scenario already holds. Unknown keys and values of the
// wrong type or range are refused with a one-line reason naming the key;
// nothing throws, and a refused document leaves the scenario unchanged.
//
// Keys (tools/sim/README.md has the full list with examples):
//   address, version, ac_dataflag, rc_dataflag, dc_dataflag   integers 0-255
//   model                        text of at most 20 bytes, padded with zero bytes
//   ac  [ screen ]               screen: channels [channel], ia ib ic, ia_alert
//                                ib_alert ic_alert, breakers, status
//                                channel: a b c f, a_alert b_alert c_alert
//                                f_alert, user, extra, alarm_user
//   dc  [ screen ]               v i, m n user, v_alarm, fuses, alarm_user
//   rc  { group_value, modules [ module ] }
//                                module: value, analog, status (3 bytes),
//                                status_user, fault, alarm_user
//   ac_param (5 values), ac_param_extra, dc_param (2 values), dc_param_extra
// A value is a JSON number, or a text of 8 hex digits giving its four bytes
// in line order ("20202020": not provided). A group (screens, channels,
// modules, values, bytes) is an array, which replaces the group and sets its
// count, or an object {"index": item}, which changes single items in place.
// New screens, channels and modules start from the defaults.
#include <json/json.h>

#include <string>

#include "scenario.h"

namespace sim {

// Applies `doc` over `out`; on refusal `out` is unchanged.
bool LoadScenario(const Json::Value& doc, Scenario& out, std::string& error);

// Reads a scenario file over DefaultScenario(): the file states what differs
// from the defaults. Refuses unreadable files, bad JSON, bad keys and
// scenarios whose replies do not fit in a frame.
bool LoadScenarioFile(const std::string& path, Scenario& out, std::string& error);

}  // namespace sim
