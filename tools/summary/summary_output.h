#pragma once
// The readable summary on standard output, a listener of the site model: a
// block per completed cycle (unless quiet) and a line per answered value
// query, handed to the writer's own thread so a reader that stops reading
// never holds up the poll.
#include <memory>

#include "site_model.h"
#include "summary_writer.h"

namespace summary {

class SummaryOutput : public site::SiteListener {
public:
    // `cycles` false: only the value queries are written (--quiet).
    SummaryOutput(std::unique_ptr<SummaryWriter> writer, bool cycles)
        : writer_(std::move(writer)), cycles_(cycles) {}

    void OnCycle(const site::SnapshotPtr& snapshot) override;
    void OnEvent(const char* kind, const Json::Value& fields) override;

private:
    std::unique_ptr<SummaryWriter> writer_;
    bool cycles_;
};

}  // namespace summary
