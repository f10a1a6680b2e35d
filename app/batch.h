// The four commands that act on many items at once: copy from the PC to
// the Mac, copy from the Mac to the PC, delete on the PC, delete on the Mac.
//
// Each works on items of one pane's top-level list (given as indexes into
// pcPane.entries or macPane.entries), walks selected directories or folders
// recursively, first counts what it will do under the progress window,
// asks for confirmation, does the work under the progress window again and
// at its end reports the one error that stopped it (reportLastError). The
// walks move the PC current directory and the Mac current folder and climb
// back level by level, also after an error; the on-screen listings stay
// frozen on the top level meanwhile (listingVisible).
// Everything the commands depend on comes from the Settings record (the
// translations in force macTrans and pcTrans, CopyPrefs, the tree switches
// PCCopyDir and MacCopyDir, the two filters, AutoRename, HideInvisible) and
// the translation table; every question goes through the user-interface
// seam, so the command-line tool runs them with the headless seam.
// Calls the pane models, the translations and their table, the volume
// engine, the PC file seam, the name mapping, the progress window, the
// error report and the user-interface seam.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "app/panes.h"

namespace verrin {

struct BatchResult {
    // 1 when the command went past its first questions (the caller re-reads
    // the target pane), 0 when it stopped before doing anything.
    int ran;
    // The code reportLastError showed at the end: errNone when everything
    // was done, errCancelled when the user cancelled.
    int32_t error;
    uint32_t files;  // files counted
    uint64_t bytes;  // bytes counted
};

// The current directory's selected entries (and the trees below the
// selected directories) into the current Mac folder, through the PC to Mac
// translation in force. Files are committed to the medium in groups, and
// every file copied before a failure or a Cancel is committed; a file that
// fails leaves nothing behind.
BatchResult copyPcToMac(std::span<const int> selection);
// The shown Mac folder's selected entries (and the trees below the
// selected folders) into the current directory, through the Mac to PC
// translation in force.
BatchResult copyMacToPc(std::span<const int> selection);
// Deletes the selected entries, directories with everything below them.
BatchResult deletePcItems(std::span<const int> selection);
// Deletes the selected Mac items, folders with everything inside them
// (invisible files included). As with the copy to the Mac, the deletions
// are committed in groups and every item deleted before a failure or a
// Cancel stays deleted.
BatchResult deleteMacItems(std::span<const int> selection);

// The copy filters of the Settings record.
// A PC file passes when PCCopyFilter is off, PCFilterExt is empty, or the
// text after the last "." of its name equals PCFilterExt ignoring case.
bool pcFilterPasses(const std::string& name);
// A Mac file passes when MacCopyFilter is off or every non-empty field
// matches: type and creator in the catalog's case-blind order, and the text
// after the last "." of its PC name ignoring case (a name without "."
// fails a non-empty extension).
bool macFilterPasses(const MacEntry& entry);

}  // namespace verrin
