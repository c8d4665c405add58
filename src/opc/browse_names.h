#pragma once
// Reading the names of a browse enumerator one at a time, as every browse listing does.

#include <cstddef>
#include <functional>
#include <string>

#include "com/enum.h"
#include "com/hresult.h"

// At most this many names are read from one enumerator, so that a server whose enumerator
// never ends cannot hold the program.
inline constexpr std::size_t kMaxBrowseNames = std::size_t{1} << 20;

// Hands each name to take, in the enumerator's order, freeing the server's copies, and returns
// the answer of Next that ended the listing (S_FALSE when the limit ended it).
HRESULT ReadBrowseNames(IEnumString& names, const std::function<void(std::string name)>& take);
// Shows "Erorr from Next(%lx)" when the answer that ended a listing is a failure code.
void ReportBrowseNamesEnd(HRESULT lastNext);
