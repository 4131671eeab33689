#pragma once
// The configuration the monitor uses without --config; it matches the
// built-in simulator: 2 AC screens (ids 11, 12), 2 DC screens (21, 22) and
// the rectifier group, at address 1.
namespace monitor {

constexpr const char* kBuiltinConfig = R"({
  "data_id": 1,
  "address": 1,
  "acSetting": [{"data_id": 11}, {"data_id": 12}],
  "dcSetting": [{"data_id": 21}, {"data_id": 22}],
  "rcSetting": {}
})";

}  // namespace monitor
