// Comparing a volume with what hfsutils sees, and checking its structure.
//
// hlsListing parses `hls -laR`; listingOf turns an engine walk into the same
// form; expectSameAsHfsutils compares the whole tree and every fork that
// hcopy extracts. verifyVolume walks the mounted volume's two B-trees, map
// records, bitmap, extents and counts and reports every broken invariant.
// Calls the engine, the peers and the test helpers.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/peers.h"
#include "support/volumes.h"

namespace verrin::testsupport {

struct ListedItem {
    char kind;  // 'f' or 'd'
    std::string type, creator;
    uint32_t rsrc = 0, data = 0, items = 0;
};
using HlsListing = std::map<std::string, ListedItem>;  // path -> item

HlsListing hlsListing(const std::string& hlsOutput);
HlsListing listingOf(const std::vector<WalkedItem>& items);
std::string describeListing(const HlsListing& l);

// Deterministic bytes for test files.
std::string testPattern(size_t bytes, unsigned seed);

// Runs an hfsutils command (hmount'ed volume in the dir's HOME); adds a
// failure and returns false when it fails.
bool runHfs(const ScratchDir& dir, const std::vector<std::string>& argv);

// Mounts the image with hmount, compares hls with the engine's walk and
// (for files whose path `sample` accepts, all when null) both forks with
// what hcopy extracts. The engine's view is taken read-only; the image is
// closed afterwards.
void expectSameAsHfsutils(const ScratchDir& dir, const std::string& image,
                          bool (*sample)(const std::string&) = nullptr);

// Structural check of the mounted volume; empty when sound, else one line
// per problem.
std::string verifyVolume();
// The same check for one B-tree alone (its structure, map and counts).
std::string verifyTree(bool catalog);
// verifyVolume plus the engine's own checker; empty when both find the
// volume sound.
std::string volumeProblems();

}  // namespace verrin::testsupport
