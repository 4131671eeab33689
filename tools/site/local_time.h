#pragma once
// The monitor's time texts. Shown times (events, API, MQTT, logs) are local
// with the offset of their moment: "2026-12-08T16:05:09+01:00", so a reader
// knows the instant whatever its own zone. Stored times (the history) are
// UTC: "2026-12-08T15:05:09Z", so texts compare as instants across a change
// of zone or a daylight-saving fall-back. Files of earlier monitors hold local
// times without an offset; those read as local time.
#include <cstdint>
#include <ctime>
#include <string>

namespace site {

std::string LocalIsoTime();
std::string LocalIsoTimeAt(std::time_t when);
std::string UtcIsoTimeAt(std::time_t when);
// Now, in milliseconds since 1970 (UTC): the clock of every age and freshness.
int64_t NowEpochMs();

// Any of the three forms (UTC, with an offset, local without one) to an
// instant; false for anything else.
bool ParseIsoTime(const std::string& text, std::time_t& out);
// A time as it is stored, and as it is shown; a text that is no time is
// returned unchanged, so nothing a file holds is lost on the way.
std::string StoredTime(const std::string& text);
std::string ShownTime(const std::string& text);

}  // namespace site
