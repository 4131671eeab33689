#pragma once
// The JSON answers of the API, built from a snapshot of the site model and,
// for the history, from the history database. Requests are checked here;
// a bad one gets its status and a one-line reason.
#include <map>
#include <string>

#include <json/json.h>

#include "history_reader.h"
#include "site_snapshot.h"

namespace http {

struct Answer {
    int status = 200;
    Json::Value body;
};

Json::Value StateJson(const site::Snapshot& snapshot);
Json::Value AlarmsJson(const site::Snapshot& snapshot);
// The newest alarm raises and clears from the history, newest first; empty
// when it cannot be read.
Json::Value RecentAlarmsJson(history::HistoryReader* reader, int limit);
// One field of one child over time: ?data_id=&field=&since=&until=&limit=&step=.
// `field` names a header field ("v", "ia") or a channel field as
// "channels.N.a" / "modules.N.module_value"; at most `maxRows` rows; with
// step=S one row per S seconds.
Answer HistoryAnswer(history::HistoryReader* reader, const std::multimap<std::string, std::string>& params,
                     int maxRows);

}  // namespace http
