#pragma once
// The outbox's tables in the history database. Rows wait here from the moment
// a message is made until the broker acknowledged it; ids give the send order.
// kind: 0 state, 1 active alarms, 2 alarm raise or clear (the order in which
// a full outbox gives rows up). outbox_meta keeps the last sequence number so
// a restart continues it.
namespace mqtt::sql {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS outbox ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, kind INTEGER NOT NULL, topic TEXT NOT NULL,"
    " payload BLOB NOT NULL, retain INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS outbox_kind ON outbox (kind, id);"
    "CREATE TABLE IF NOT EXISTS outbox_meta (key TEXT PRIMARY KEY, value INTEGER NOT NULL);";

constexpr const char* kInsert = "INSERT INTO outbox (kind, topic, payload, retain) VALUES (?, ?, ?, ?)";
constexpr const char* kPending =
    "SELECT id, kind, topic, payload, retain FROM outbox WHERE id > ? ORDER BY id LIMIT ?";
constexpr const char* kDelete = "DELETE FROM outbox WHERE id = ? RETURNING length(payload)";
constexpr const char* kDropOldest =
    "DELETE FROM outbox WHERE id = (SELECT id FROM outbox WHERE kind = ? ORDER BY id LIMIT 1)"
    " RETURNING length(payload)";
constexpr const char* kTotals = "SELECT count(*), coalesce(sum(length(payload)), 0) FROM outbox";
constexpr const char* kSaveSeq =
    "INSERT INTO outbox_meta (key, value) VALUES ('seq', ?)"
    " ON CONFLICT (key) DO UPDATE SET value = max(value, excluded.value)";
constexpr const char* kLoadSeq = "SELECT value FROM outbox_meta WHERE key = 'seq'";

}  // namespace mqtt::sql
