#pragma once
// The texts of an alarm table's rows as strings, built once per table. The
// threshold call takes string references; building them from the rows' C
// strings on every call would allocate for every rule of every cycle.
#include <array>
#include <string>
#include <vector>

namespace child {

struct RuleText {
    std::string key, code, name, detail;
};

// One entry per row of `Table` (a constexpr array of rows with key, code,
// name and detail), in row order; thread-safe to build.
template <const auto& Table>
const std::vector<RuleText>& RuleTextsOf() {
    static const std::vector<RuleText> texts = [] {
        std::vector<RuleText> out;
        out.reserve(Table.size());
        for (const auto& row : Table) out.push_back({row.key, row.code, row.name, row.detail});
        return out;
    }();
    return texts;
}

}  // namespace child
