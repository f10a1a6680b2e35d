// The consistency checker: an fsck for the mounted HFS volume, and the
// checks that guard the first change to a volume.
//
// checkVolume reads the volume through the sector cache (the state the
// engine would write at its next flush) and reports every inconsistency it
// finds as one readable sentence with its weight and the structure it
// concerns. It changes nothing on the volume, and lastError is as it was
// before the call. guardChanges runs it before a volume is changed and
// keeps a damaged volume from being made worse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace verrin {

// At most this many findings are listed; the report then says that more
// were found.
constexpr size_t maxCheckProblems = 500;

// How much a finding weighs: damage makes the volume unsound; a warning is
// harmless to the data but worth knowing (blocks marked in use that no fork
// owns: wasted space); a note records a difference that changes nothing.
enum class CheckSeverity : uint8_t { note, warning, damage };

// The structure a finding concerns.
enum class CheckArea : uint8_t { medium, masterBlock, extentsTree, catalogTree, catalog, allocation };

struct CheckFinding {
    CheckSeverity severity;
    CheckArea area;
    // A change to the volume could spread it: blocks or IDs handed out
    // twice, records placed by a broken order, counts built on wrong ones.
    bool spreads;
    std::string text;
};

struct CheckReport {
    std::vector<CheckFinding> findings;
    bool truncated;  // more findings were found than listed
};

// Names for the command line's and the window's structured output:
// "damage", "warning", "note"; "medium", "master directory block",
// "extents B-tree", "catalog B-tree", "catalog", "allocation".
const char* checkSeverityName(CheckSeverity severity);
const char* checkAreaName(CheckArea area);

// Checks the mounted volume: the medium's length, the master directory
// block (its name, and its alternate copy), both B-trees (header, node map,
// key order, index keys, sibling links, heights, record counts), the
// catalog (threads, parents, valences, the volume's file and folder counts,
// catalog IDs) and the allocation (fork extents and lengths, blocks owned
// twice, the bitmap and the free block count). A volume that is not mounted
// gives one damage finding. A volume with nothing a change could spread,
// checked with nothing unwritten in the cache, is remembered as sound when
// it is closed (hfs/verdict.h); one with such damage is forgotten.
CheckReport checkVolume();

// Counts of a report's findings by weight.
size_t countFindings(const CheckReport& report, CheckSeverity severity);

// ---------------------------------------------------------------------------
// Before the first change.

// What to do when the checks find a fault that a change could spread.
enum class DamagedVolumeAnswer {
    refuse,  // use the volume read-only
    ask,     // ask the user (damagedVolumeQuestion), refusing on No
    force,   // change it anyway, never touching blocks, nodes or IDs in use
};

struct ChangeGuard {
    bool writable;       // changes may go ahead
    bool damaged;        // a fault a change could spread was found
    bool checked;        // the checks ran (false: a remembered verdict vouched for the volume)
    std::string reason;  // one line: what is wrong (empty when sound)
};

// Runs the checks that matter for writes on the mounted, writable volume
// (the bitmap against the extents, drNxtCNID against the IDs in use, the
// B-tree headers, maps and key order, the master directory block's counts)
// and settles whether it may be changed. A sound volume may. On a damaged
// one the answer decides: refused, the volume is used read-only until it is
// closed (changes fail with errVolumeReadOnly); forced, the allocators are
// told every block, node and catalog ID in use, whatever the bitmap, node
// maps and drNxtCNID say. The command line calls it before the first change
// of a command; the window when it mounts a volume for writing. A change
// made without it runs it with `refuse` first. A volume found sound before,
// and changed since only by this program, is not checked again: a record
// of the verdict (hfs/verdict.h) vouches for it.
ChangeGuard guardChanges(DamagedVolumeAnswer answer);

// The question the window asks before changing a damaged volume, and its
// caption; Yes changes the volume anyway.
std::string damagedVolumeQuestion(const std::string& reason);
constexpr const char* damagedVolumeCaption = "Damaged volume";

}  // namespace verrin
