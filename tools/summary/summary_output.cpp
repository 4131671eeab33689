#include "summary_output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "summary.h"

namespace summary {

// The block is put together in memory and handed to the writer.
void SummaryOutput::OnCycle(const site::SnapshotPtr& snapshot) {
    if (!cycles_) return;
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = ::open_memstream(&text, &size);
    if (out == nullptr) return;
    PrintSummary(out, static_cast<long>(snapshot->counters.cycles), *snapshot);
    std::fclose(out);
    writer_->Write(std::string(text, size));
    std::free(text);
}

// "  11:channel_0_a = 230.1", or the query's error text.
void SummaryOutput::OnEvent(const char* kind, const Json::Value& fields) {
    if (std::strcmp(kind, "value") != 0) return;
    std::string answer = fields["error"].asString();
    if (fields.isMember("value")) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", fields["value"].asDouble());
        answer = text;
    }
    writer_->Write("  " + std::to_string(fields["data_id"].asUInt()) + ":" + fields["key"].asString() +
                   " = " + answer + "\n");
}

}  // namespace summary
