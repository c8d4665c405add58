#include "grid/row_spans.h"

#include <algorithm>
#include <iterator>

CRowSpans::CRowSpans(std::vector<std::pair<int, int>> blocks) {
    std::erase_if(blocks, [](const auto& block) { return block.second < block.first; });
    std::sort(blocks.begin(), blocks.end());
    for (const auto& block : blocks) {
        // Adjacent blocks merge as well as overlapping ones (compared in 64 bits so that a span
        // ending at the largest int does not overflow).
        if (!spans_.empty() && static_cast<long long>(block.first) <=
                                   static_cast<long long>(spans_.back().second) + 1) {
            spans_.back().second = std::max(spans_.back().second, block.second);
        } else {
            spans_.push_back(block);
        }
    }
}

bool CRowSpans::Contains(int row) const {
    // The first span that starts after row; the one before it is the only one that can hold it.
    const auto after =
        std::upper_bound(spans_.begin(), spans_.end(), row,
                         [](int value, const auto& span) { return value < span.first; });
    return after != spans_.begin() && std::prev(after)->second >= row;
}
