#pragma once
// The monitor's start from its history: the newest image of every child,
// if it is fresh enough to be answered as current, and the alarms that were
// active at the last stop.
#include <memory>

#include "SMDSPDevice.h"
#include "history_store.h"

namespace monitor {

// A restored image counts as "now" to the child, so only one saved (or
// confirmed by a cycle) less than this many seconds ago is offered.
constexpr long kRestoreMaxAgeSeconds = 60;

// Offers every child its newest image if it is younger than
// kRestoreMaxAgeSeconds; an older one is skipped with a log line saying its age.
void RestoreImages(history::HistoryStore& store, SMDSPDevice& device);

}  // namespace monitor
