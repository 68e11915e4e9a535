#pragma once

// One zlib stream made of stripes deflated side by side: each stripe of rows is
// compressed on its own (no match reaches back into the one before), ends on a byte
// boundary with a sync flush, and the checksums combine. A standard inflater reads
// the result as any other zlib stream, a few bytes larger than one pass over all.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace zoba::platform::image {

using StripeBytes = std::vector<std::uint8_t>;

// Appends the uncompressed bytes of rows [begin, end) to `out`.
using RowWriter = std::function<void(std::int64_t begin, std::int64_t end, StripeBytes& out)>;

// The zlib stream of `rows` rows cut into `stripes` stripes; stripes past the first
// are written and compressed on threads of their own. The rows are asked for a few
// at a time into one small buffer, so that no large buffer is touched afresh (page
// faults cost more than the compression here). Nothing on an error of zlib.
std::optional<StripeBytes> zlibStripes(std::int64_t rows, std::size_t stripes, int level,
                                       const RowWriter& write);

}  // namespace zoba::platform::image
