#pragma once
// A set of rows given as blocks (first to last row, inclusive, in any order and overlapping),
// kept merged and sorted so that asking for one row is a binary search. The grid builds it from
// its selection once per change, so asking IsRowSelected for every row of a large grid stays
// cheap.

#include <utility>
#include <vector>

class CRowSpans {
  public:
    CRowSpans() = default;
    // Blocks of (first, last) rows; empty blocks (last < first) are ignored.
    explicit CRowSpans(std::vector<std::pair<int, int>> blocks);

    bool Contains(int row) const;
    bool IsEmpty() const { return spans_.empty(); }
    // The merged, sorted, disjoint spans.
    const std::vector<std::pair<int, int>>& Spans() const { return spans_; }

  private:
    std::vector<std::pair<int, int>> spans_;
};
