// The batch commands (see batch.h): the two copies and the two deletions,
// their counting and working passes over the selected items and the walks
// through directory and folder trees.
//
// Walk rules kept by every walk:
//   - each level's items are taken from the pane's list once, on entering
//     the level, and that copy is what the level's loop goes through (the
//     pane's arrays are rebuilt by every step down and up);
//   - whatever a walk entered (a PC directory, a Mac folder) it leaves
//     again, with a pending error set aside meanwhile; an error of the
//     climb itself stands when none was pending;
//   - every loop lets the window's messages run and tests lastError before
//     each item, so the first error or a Cancel stops everything;
//   - links to PC directories are never walked into, and a Mac folder that
//     is its own ancestor (a damaged catalog) stops the walk with
//     errBadNode.
// Calls the pane models, the translations and their table, the volume
// engine, the PC file seam, the name mapping, the progress window, the
// error report and the user-interface seam.
#include "app/batch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cctype>
#include <cstring>
#include <vector>

#include "base/progress.h"
#include "base/format.h"
#include "base/profile.h"
#include "base/settings.h"
#include "transfer/translation_table.h"
#include "base/ui.h"
#include "transfer/names.h"
#include "transfer/pcfile.h"
#include "app/report.h"
#include "transfer/streams.h"

namespace verrin {

namespace {

// Changes to the Mac volume (files copied to it, items deleted from it) are
// committed in groups, since each commit waits for the medium: once this
// long has passed since the last commit (at most that much work is lost to
// a crash), or once this many sectors have changed (4 MB of them, held in
// the cache with as much again of before-images until the commit: the
// memory a group takes), and whatever was done when the command stops.
constexpr auto groupTime = std::chrono::milliseconds(500);
constexpr size_t groupSectors = 8192;
// A copy shows the free space of the side it writes to at most this often
// (asking the system costs a call per file otherwise), and once at its end.
constexpr auto labelTime = std::chrono::milliseconds(500);

struct Run {
    bool working = false;  // false: the counting pass
    uint32_t files = 0;
    uint64_t bytes = 0;
    TranslationMode mode = DataFile;
    // When the last commit was.
    std::chrono::steady_clock::time_point committed = std::chrono::steady_clock::now();
    // A copy: the free-space label of the side written to, and when it was
    // last shown.
    void (*showFreeSpace)() = nullptr;
    std::chrono::steady_clock::time_point labelled{};
    std::vector<uint32_t> ancestors;  // Mac folder IDs on the walk's path
};

TranslationMode modeOf(int setting)
{
    return setting >= 0 && setting < translationSlots ? static_cast<TranslationMode>(setting) : DataFile;
}

// Lets the window's messages run before an item; false when the command
// must stop (an error, or Cancel pressed).
bool nextItem()
{
    if (lastError != errNone) return false;
    pumpMessages();
    return lastError == errNone;
}

template <typename Entry> std::vector<Entry> selectedEntries(const std::vector<Entry>& list, std::span<const int> selection)
{
    std::vector<Entry> items;
    for (const int index : selection)
        if (index >= 0 && static_cast<size_t>(index) < list.size()) items.push_back(list[static_cast<size_t>(index)]);
    return items;
}

bool equalsIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// The text after the last "." of a name; false when it has none.
bool extensionOf(const std::string& name, std::string& extension)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    extension = name.substr(dot + 1);
    return true;
}

bool sameMacCode(const uint8_t* code, const std::string& typed)
{
    uint8_t field[32] = {};
    pcNameToMac(field, typed.c_str());
    uint8_t actual[5] = {4};
    std::memcpy(actual + 1, code, 4);
    return compareMacNames(actual, field) == 0;
}

std::string groupedNumber(uint64_t value)
{
    return groupThousands(std::to_string(value));
}

// "Files to copy:\t%lu\nBytes to copy:\t%s" and its deleting twin.
std::string countText(const char* verb, const Run& run)
{
    return std::string("Files to ") + verb + ":\t" + std::to_string(run.files) + "\nBytes to " + verb + ":\t" +
           groupedNumber(run.bytes);
}

// The counting pass's line in the progress window, at each directory.
void showFound(const Run& run)
{
    if (run.working || !progressShown()) return;
    const std::string text = "Files found: " + std::to_string(run.files) +
                             "\nTotal bytes: " + formatSize(static_cast<double>(run.bytes));
    setProgressText(text.c_str());
}

bool confirm(const std::string& text, const char* caption)
{
    return messageBox(text.c_str(), caption, uiOkCancel, uiNoIcon) == uiAnswerOk;
}

// Runs the climb out of a level with the pending error set aside.
template <typename F> void climbBack(F&& climb)
{
    const int32_t kept = lastError;
    lastError = errNone;
    climb();
    if (kept != errNone) lastError = kept;
}

// Walks one selected item's tree with the listings frozen on the top level.
template <typename F> void walkFrozen(F&& walk)
{
    listingVisible = false;
    walk();
    listingVisible = true;
    ui->paneChanged(paneRedrawLists);
}

// Back to the directory a walk left (by its full path, so that the way
// back never depends on how the way in was named).
void returnTo(const std::string& home)
{
    if ((home.empty() || !pcChangeDirectory(home.c_str())) && !pcChangeDirectory("..")) setError(errPcOpen);
}

BatchResult finish(const Run& run)
{
    closeProgress();
    const BatchResult result{1, lastError, run.files, run.bytes};
    reportLastError();
    return result;
}

BatchResult stopped(const Run& run) { return BatchResult{0, errNone, run.files, run.bytes}; }

// A file was copied: the free space shown follows when it is old.
void followFreeSpace(Run& run)
{
    const auto now = std::chrono::steady_clock::now();
    if (lastError != errNone || now - run.labelled < labelTime) return;
    run.showFreeSpace();
    run.labelled = now;
}

// Enters a Mac folder of the shown folder for a walk; true when it became
// the current folder (the caller climbs back out of it).
bool enterMacFolder(const MacEntry& folder, Run& run)
{
    if (std::find(run.ancestors.begin(), run.ancestors.end(), folder.id) != run.ancestors.end()) {
        setError(errBadNode);
        return false;
    }
    openMacFolder(folder);
    if (currentFolderId != folder.id) {
        setError(errBadNode);
        return false;
    }
    run.ancestors.push_back(folder.id);
    return true;
}

void leaveMacFolder(Run& run)
{
    goUpMacFolders(1);
    if (!run.ancestors.empty()) run.ancestors.pop_back();
}

// ---------------------------------------------------------------------------
// Changing the Mac volume in groups.

// One change to the Mac volume within a group: when it fails, only its own
// changes are undone and the changes before it are committed, the failure
// staying the one reported.
template <typename F> void changeMacVolume(F&& change)
{
    markSavepoint();
    change();
    if (lastError == errNone) return;
    const int32_t failure = lastError;
    lastError = errNone;
    revertToSavepoint();
    flushVolume();
    lastError = failure;
}

// An item was changed: the group is committed when it is full or old.
void countChange(Run& run)
{
    const auto now = std::chrono::steady_clock::now();
    if (lastError != errNone || (changedSectors() < groupSectors && now - run.committed < groupTime)) return;
    flushVolume();
    run.committed = now;
}

// Commits the changes since the last commit, after a walk ended for
// whatever reason (every change that failed undid itself).
void commitChanges()
{
    const int32_t outcome = lastError;
    lastError = errNone;
    flushVolume();
    if (outcome != errNone) lastError = outcome;
}

// ---------------------------------------------------------------------------
// Copying from the PC to the Mac.

void copyPcFile(const PcEntry& file, Run& run)
{
    if (!run.working) {
        ++run.files;
        run.bytes += file.size;
        return;
    }
    setProgressText(file.name.c_str());
    const PcToMacRoutine reader = translationTable[run.mode].pcToMac.routine;
    if (!reader) setError(errNotSupported);
    if (lastError == errNone) changeMacVolume([&] { reader(file.name.c_str(), currentFolderId); });
    countChange(run);
    followFreeSpace(run);
}

// Makes the Mac folder for a PC directory in the current folder and enters
// it; true when it was entered. A name in use already stops the copy
// (folders are not merged on the Mac side). The new folder is found by its
// catalog record, not in a listing of the folder that holds it.
bool makeMacFolder(const std::string& pcName)
{
    uint8_t name[32] = {};
    pcNameToMac(name, pcName.c_str());
    changeMacVolume([&] { createFolder(name); });
    CatalogItem made{};
    if (lastError == errNone) {
        const int found = lookupCatalogItem(currentFolderId, name, made);
        if (found == 0 || (found == 1 && made.kind != cdrFolder)) setError(errMacCreate);
    }
    if (lastError != errNone) return false;
    MacEntry folder{};
    makeMacEntry(made, folder);
    const uint32_t outer = currentFolderId;
    openMacFolder(folder);
    return currentFolderId != outer;
}

void visitPcLevel(const std::vector<PcEntry>& items, Run& run, bool top);

void walkPcDirectoryForCopy(const PcEntry& directory, Run& run)
{
    if (lastError != errNone || directory.link) return;
    showFound(run);
    bool macEntered = false;
    if (run.working && settings.pcCopyDir) macEntered = makeMacFolder(directory.name);
    const std::string home = pcCurrentDirectory();
    const bool pcEntered = lastError == errNone && pcChangeDirectory(directory.name.c_str());
    if (pcEntered) {
        rebuildPcPane();
        const std::vector<PcEntry> level = pcPane.entries;
        visitPcLevel(level, run, false);
    }
    climbBack([&] {
        if (macEntered) goUpMacFolders(1);
        if (pcEntered) {
            returnTo(home);
            rebuildPcPane();
        }
    });
}

void visitPcLevel(const std::vector<PcEntry>& items, Run& run, bool top)
{
    for (const PcEntry& item : items) {
        if (!nextItem()) return;
        if (item.kind == pcDirectory) {
            if (top)
                walkFrozen([&] { walkPcDirectoryForCopy(item, run); });
            else
                walkPcDirectoryForCopy(item, run);
        } else if (pcFilterPasses(item.name)) {
            copyPcFile(item, run);
        }
    }
}

// ---------------------------------------------------------------------------
// Copying from the Mac to the PC.

uint32_t translatedBytes(const MacEntry& file, TranslationMode mode)
{
    switch (mode) {
    case ResourceFile:
        return file.secondSize;
    case MacBinary:
    case BinHex:
        return file.firstSize + file.secondSize;
    default:
        return file.firstSize;
    }
}

void copyMacFile(const MacEntry& file, Run& run)
{
    if (!run.working) {
        ++run.files;
        run.bytes += translatedBytes(file, run.mode);
        return;
    }
    setProgressText(macNameToPc(file.name).c_str());
    const MacToPcRoutine writer = translationTable[run.mode].macToPc.routine;
    if (!writer) setError(errNotSupported);
    if (lastError == errNone) writer(file.name, currentFolderId);
    followFreeSpace(run);
}

void visitMacLevel(const std::vector<MacEntry>& items, Run& run, bool top);

void walkMacFolderForCopy(const MacEntry& folder, Run& run)
{
    if (lastError != errNone) return;
    showFound(run);
    bool pcEntered = false;
    std::string home;
    if (run.working && settings.macCopyDir) {
        char pcName[256] = {};
        macNameToPc(pcName, folder.name, true);
        if (resolvePcTarget(pcName, "") != targetGo) return;  // the folder is left out
        pcMakeDirectory(pcName);                               // an existing directory is used as it is
        home = pcCurrentDirectory();
        if (!pcChangeDirectory(pcName)) {
            setError(errPcCreate);
            return;
        }
        pcEntered = true;
        fillPcDirectoryBox();
    }
    const bool macEntered = enterMacFolder(folder, run);
    if (macEntered && lastError == errNone) {
        const std::vector<MacEntry> level = macPane.entries;
        visitMacLevel(level, run, false);
    }
    climbBack([&] {
        if (pcEntered) returnTo(home);
        if (macEntered) leaveMacFolder(run);
        if (pcEntered) fillPcDirectoryBox();
    });
}

void visitMacLevel(const std::vector<MacEntry>& items, Run& run, bool top)
{
    for (const MacEntry& item : items) {
        if (!nextItem()) return;
        if (item.kind == macFolder) {
            if (top)
                walkFrozen([&] { walkMacFolderForCopy(item, run); });
            else
                walkMacFolderForCopy(item, run);
        } else if (item.kind == macFile && macFilterPasses(item)) {
            copyMacFile(item, run);
        }
    }
}

// ---------------------------------------------------------------------------
// The copies' shared course: settings dialog, counting pass, "No files
// marked!", confirmation, copying pass, report.

struct CopyCourse {
    bool macToPc;
    ProgressKind searchKind;
    ProgressKind copyKind;
    const char* caption;
    void (*showFreeSpace)();  // the label of the side written to
};

template <typename Entry>
BatchResult runCopy(const CopyCourse& course, const std::vector<Entry>& list, std::span<const int> selection,
                    void (*visit)(const std::vector<Entry>&, Run&, bool))
{
    Run run;
    if (settings.copyPrefs && !ui->copySettingsDialog(course.macToPc)) return stopped(run);
    run.mode = modeOf(course.macToPc ? settings.macTrans : settings.pcTrans);
    run.ancestors.push_back(currentFolderId);
    const std::vector<Entry> items = selectedEntries(list, selection);

    progressTotal = 0;
    openProgress(course.searchKind);
    visit(items, run, true);
    closeProgress();
    if (lastError != errNone) return finish(run);
    if (run.files == 0) {
        messageBox("No files marked!", "Error", uiOk, uiIconWarning);
        return stopped(run);
    }
    if (!confirm(countText("copy", run), course.caption)) return stopped(run);

    // The type map is checked for changes once, when the copy starts.
    const profile::ReadBatch reads;
    run.working = true;
    run.showFreeSpace = course.showFreeSpace;
    progressTotal = run.bytes;
    openProgress(course.copyKind);
    visit(items, run, true);
    commitChanges();
    course.showFreeSpace();
    return finish(run);
}

// ---------------------------------------------------------------------------
// Deleting.

void removePcEntry(const PcEntry& item)
{
    const bool removed = item.kind == pcDirectory ? pcRemoveDirectory(item.name.c_str()) : pcDelete(item.name.c_str());
    if (!removed) setError(errPcDelete);
}

void walkPcDirectoryForDeletion(const PcEntry& directory, Run& run)
{
    if (lastError != errNone || directory.link) return;
    showFound(run);
    const std::string home = pcCurrentDirectory();
    if (!pcChangeDirectory(directory.name.c_str())) {
        setError(errPcDelete);
        return;
    }
    rebuildPcPane();
    const std::vector<PcEntry> level = pcPane.entries;
    for (const PcEntry& item : level) {
        if (!nextItem()) break;
        if (item.kind == pcDirectory) walkPcDirectoryForDeletion(item, run);
    }
    for (const PcEntry& item : level) {
        if (!nextItem()) break;
        if (!run.working) {
            if (item.kind == pcFile) {
                ++run.files;
                run.bytes += item.size;
            }
            continue;
        }
        removePcEntry(item);
        advanceProgress(1);
    }
    climbBack([&] {
        returnTo(home);
        rebuildPcPane();
    });
}

// Removes one Mac item of the current folder; a folder that is still there
// afterwards (it was not empty) is an error.
void removeMacEntry(const MacEntry& item)
{
    if (item.kind == macFolder) {
        deleteFolder(item.name);
        CatalogItem left;
        if (lastError == errNone && lookupCatalogItem(currentFolderId, item.name, left) == 1) setError(errMacDelete);
    } else {
        deleteFile(item.name);
    }
}

// Removes one Mac item as one change of the deletion's group.
void removeMacItem(const MacEntry& item, Run& run)
{
    changeMacVolume([&] { removeMacEntry(item); });
    advanceProgress(1);
    countChange(run);
}

void walkMacFolderForDeletion(const MacEntry& folder, Run& run)
{
    if (lastError != errNone) return;
    showFound(run);
    const bool entered = enterMacFolder(folder, run);
    if (entered && lastError == errNone) {
        const std::vector<MacEntry> level = macFolderItems(true);
        for (const MacEntry& item : level) {
            if (!nextItem()) break;
            if (item.kind == macFolder) walkMacFolderForDeletion(item, run);
        }
        for (const MacEntry& item : level) {
            if (!nextItem()) break;
            if (!run.working) {
                if (item.kind == macFile) {
                    ++run.files;
                    run.bytes += static_cast<uint64_t>(item.firstSize) + item.secondSize;
                }
                continue;
            }
            removeMacItem(item, run);
        }
    }
    if (entered) climbBack([&] { leaveMacFolder(run); });
}

bool isFolder(const PcEntry& entry) { return entry.kind == pcDirectory; }
bool isFolder(const MacEntry& entry) { return entry.kind == macFolder; }
uint64_t bytesToDelete(const PcEntry& entry) { return entry.size; }
uint64_t bytesToDelete(const MacEntry& entry) { return static_cast<uint64_t>(entry.firstSize) + entry.secondSize; }

struct DeleteCourse {
    ProgressKind searchKind;
    ProgressKind deleteKind;
    const char* warning;
    const char* caption;
    void (*afterRemovals)();  // at the end of the second pass; may be null
};

template <typename Entry>
BatchResult runDelete(const DeleteCourse& course, const std::vector<Entry>& list, std::span<const int> selection,
                      void (*walk)(const Entry&, Run&), void (*remove)(const Entry&, Run&))
{
    Run run;
    if (list.empty()) return stopped(run);
    run.ancestors.push_back(currentFolderId);
    const std::vector<Entry> items = selectedEntries(list, selection);

    progressTotal = 0;
    openProgress(course.searchKind);
    bool foldersSelected = false;
    for (const Entry& item : items) {
        if (!nextItem()) break;
        if (isFolder(item)) {
            foldersSelected = true;
            walkFrozen([&] { walk(item, run); });
        } else {
            ++run.files;
            run.bytes += bytesToDelete(item);
        }
    }
    closeProgress();
    if (lastError != errNone) return finish(run);
    if (foldersSelected && !confirm(course.warning, "WARNING")) return stopped(run);
    if (!confirm(countText("delete", run), course.caption)) return stopped(run);

    run.working = true;
    progressTotal = run.files;
    openProgress(course.deleteKind);
    for (const Entry& item : items) {
        if (!nextItem()) break;
        if (isFolder(item)) walkFrozen([&] { walk(item, run); });
    }
    for (const Entry& item : items) {
        if (!nextItem()) break;
        remove(item, run);
    }
    if (course.afterRemovals) course.afterRemovals();
    return finish(run);
}

}  // namespace

bool pcFilterPasses(const std::string& name)
{
    if (!settings.pcCopyFilter || settings.pcFilterExt.empty()) return true;
    std::string extension;
    return extensionOf(name, extension) && equalsIgnoringCase(extension, settings.pcFilterExt);
}

bool macFilterPasses(const MacEntry& entry)
{
    if (!settings.macCopyFilter) return true;
    if (!settings.macFilterType.empty() && !sameMacCode(entry.type, settings.macFilterType)) return false;
    if (!settings.macFilterCrtr.empty() && !sameMacCode(entry.creator, settings.macFilterCrtr)) return false;
    if (settings.macFilterExt.empty()) return true;
    std::string extension;
    return extensionOf(macNameToPc(entry.name), extension) && equalsIgnoringCase(extension, settings.macFilterExt);
}

BatchResult copyPcToMac(std::span<const int> selection)
{
    static constexpr CopyCourse course{false, progressSearchPc, progressCopyPcToMac, "Ready to copy from PC to Mac",
                                       updateMacDriveLabel};
    const BatchResult result = runCopy<PcEntry>(course, pcPane.entries, selection, visitPcLevel);
    if (result.ran) fillPcDirectoryBox();
    return result;
}

BatchResult copyMacToPc(std::span<const int> selection)
{
    static constexpr CopyCourse course{true, progressSearchMac, progressCopyMacToPc, "Ready to copy from Mac to PC",
                                       updatePcDriveLabel};
    const BatchResult result = runCopy<MacEntry>(course, macPane.entries, selection, visitMacLevel);
    if (result.ran) relistMacFolder();
    return result;
}

BatchResult deletePcItems(std::span<const int> selection)
{
    static constexpr DeleteCourse course{
        progressSearchPc, progressDeletePc,
        "You have selected directories for deletion. All files and\n"
        "subdirectories under these directories will also be deleted.",
        "Ready to delete files from PC disk", nullptr};
    const BatchResult result = runDelete<PcEntry>(
        course, pcPane.entries, selection, walkPcDirectoryForDeletion, [](const PcEntry& item, Run&) {
            removePcEntry(item);
            advanceProgress(1);
        });
    if (result.ran) refreshPcPane();
    return result;
}

BatchResult deleteMacItems(std::span<const int> selection)
{
    static constexpr DeleteCourse course{
        progressSearchMac, progressDeleteMac,
        "You have selected folders for deletion. All files and\n"
        "subfolders under these folders will also be deleted.",
        "Ready to delete files from Mac disk", commitChanges};
    const BatchResult result = runDelete<MacEntry>(course, macPane.entries, selection, walkMacFolderForDeletion,
                                                   removeMacItem);
    if (result.ran) relistMacFolder();
    return result;
}

}  // namespace verrin
