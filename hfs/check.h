// The consistency checker: an fsck for the mounted HFS volume.
//
// checkVolume reads the volume through the sector cache (the state the
// engine would write at its next flush) and reports every inconsistency it
// finds as one readable sentence. It changes nothing on the volume, and
// lastError is as it was before the call.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace verrin {

// At most this many problems are listed; a last line then says that more
// were found.
constexpr size_t maxCheckProblems = 500;

// Checks the mounted volume: the master directory block against its
// alternate copy, both B-trees (header, node map, key order, index keys,
// sibling links, heights, record counts), the catalog (threads, parents,
// valences, the volume's file and folder counts, catalog IDs) and the
// allocation (fork extents and lengths, blocks owned twice, the bitmap and
// the free block count). Returns the problems found; empty when the volume
// is sound. A volume that is not mounted gives one problem.
std::vector<std::string> checkVolume();

}  // namespace verrin
