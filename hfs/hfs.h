// The HFS volume engine: public names.
//
// On-disk accessors, the sector cache, volume discovery and mount, flush and
// revert, fork I/O, and the catalog lookups. The engine owns one mounted
// volume at a time, on the current drive of the drive table.
//
// Failures are reported through lastError (base/errors.h): a failing
// operation stores its code (setError keeps the first one of a command)
// and returns a failure value. The operations that change the volume
// (allocation, fork writes, B-tree and catalog changes, enterFolder) and
// flushVolume do nothing while an error is pending; the reading ones
// (sector, node and fork reads, lookups, listFolder) do not look at the
// word, so a caller tests it after them. The engine clears the word only
// where a failure is expected and answered, each said at its declaration:
// the scan's probes (selectDrive, scanVolumes), askReadOnly, mountVolume
// (on entry, and after its root-name lookup) and folderById (a parent
// whose items cannot be listed); the checker turns engine failures into
// problems and the formatters clear the word once they have shown it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/byteorder.h"
#include "base/errors.h"

namespace verrin {

struct DriveEntry;

// ---------------------------------------------------------------------------
// On-disk helpers (the big-endian accessors are in base/byteorder.h).

// The HFS date of "now": the local wall-clock time.
uint32_t macNow();

// Catalog name order: case-insensitive, accents between their base letter
// and the next. Names are length-prefixed Mac Roman.
extern const uint8_t nameOrderTable[256];
int compareMacNames(const uint8_t* a, const uint8_t* b);

// ---------------------------------------------------------------------------
// The sector cache.

enum BufferFlags : uint8_t { bufDirty = 1, bufPinned = 2 };

struct BTree;

// One cached 512-byte sector. The control records of the two B-tree files
// are CacheBuffers too, but live outside the cache list.
struct CacheBuffer {
    uint8_t data[512];
    uint8_t flags;
    bool fromMedium;  // data, while clean, is what the medium holds
    uint32_t sector;  // absolute sector on the drive
    // While dirty: 1 + the slot of the medium's content taken when the
    // buffer became dirty; 0 when the medium's content was never read.
    uint32_t beforeSlot;
    // The tree whose node checks this content passed (null until checked,
    // and again after any change).
    const BTree* checkedAs;
    // While dirty: the number of the savepoint that holds this buffer's
    // content as it was when taken, or that it became dirty under (0: none).
    uint64_t savepointNumber;
    CacheBuffer* next;
    CacheBuffer* prev;
};

// What every change to a buffer goes through before it changes the data:
// marks it dirty, keeps what the medium holds there (the first time) and
// forgets that its node checks passed.
void markDirty(CacheBuffer* b);

// Dirty-marking writes into a cached sector. Offsets and lengths must lie
// inside the 512 bytes.
void putByte(uint8_t value, CacheBuffer* b, uint32_t offset);
void put16(uint16_t value, CacheBuffer* b, uint32_t offset);
void put32(uint32_t value, CacheBuffer* b, uint32_t offset);
void putBytes(CacheBuffer* b, uint32_t offset, const void* source, uint32_t length);
void fillBytes(uint8_t value, CacheBuffer* b, uint32_t offset, uint32_t length);

inline void pinBuffer(CacheBuffer* b)
{
    if (b) b->flags |= bufPinned;
}
inline void unpinBuffer(CacheBuffer* b)
{
    if (b) b->flags &= static_cast<uint8_t>(~bufPinned);
}

// How a fork's file is named by every engine Part: the file ID, the buffer
// holding its catalog file record (a catalog leaf node, or a B-tree file's
// control record) and the offset of the record's data in it.
struct FileRef {
    uint32_t fileId;
    CacheBuffer* buffer;
    uint16_t offset;
};

// The one mounted volume.
struct Volume {
    CacheBuffer* mdb;
    uint16_t spb;          // sectors per allocation block
    uint32_t sizeSectors;  // volume length in sectors
    uint16_t allocStart;   // drAlBlSt
    CacheBuffer* extentsHeader;
    CacheBuffer* catalogHeader;
    FileRef extentsFile;
    FileRef catalogFile;
    uint32_t startSector;  // absolute sector of the volume start
    uint16_t numBlocks;    // drNmAlBlks as checked at mount
    uint16_t bitmapStart;  // drVBMSt as checked at mount
    bool mounted;
};

extern Volume volume;
extern int currentDrive;  // index into the drive table, -1 when none
// Control records of the extents (file 3) and catalog (file 4) B-tree files.
extern CacheBuffer extentsControl;
extern CacheBuffer catalogControl;

// Device access with the transfer clamps (MaxIOBufSzK, transferCap).
// writeSectors is for file data: a short write that continues the one
// before it on the medium is gathered and reaches the drive with it later
// (before an overlapping read, and at the latest when the change is
// committed); it returns the sectors taken.
int32_t readSectors(uint8_t* buffer, uint32_t count, uint32_t sector);
int32_t writeSectors(const uint8_t* buffer, uint32_t count, uint32_t sector);

// Cached access to one absolute sector: count 1 reads it on a miss, count 0
// assigns a buffer without reading (for a sector about to be overwritten
// whole). nullptr with lastError set on failure.
CacheBuffer* getSector(uint32_t sector, uint32_t count = 1);
// Direct read of up to count sectors into the caller's buffer, bypassing the
// cache; returns the sectors read (0 on failure).
int32_t getSector(uint8_t* buffer, uint32_t sector, uint32_t count);
CacheBuffer* getVolumeSector(uint32_t volumeSector, uint32_t count = 1);
int32_t getVolumeSector(uint8_t* buffer, uint32_t volumeSector, uint32_t count);
// Cached access to one volume sector that begins a run of `run` sectors
// likely to be read next (the rest of a B-tree file's extent): a miss reads
// up to readAheadSectors of them in one transfer and caches those not
// cached yet. The read-ahead is best effort; the result is getVolumeSector's.
constexpr uint32_t readAheadSectors = 64;
CacheBuffer* getVolumeSectorReadingAhead(uint32_t volumeSector, uint32_t run);

// Frees every buffer without writing.
void emptyCache();
// Number of buffers in the cache (tests and diagnostics).
size_t cacheSize();
// Visits every buffer in list order (most recently used first).
template <typename F> void forEachCacheBuffer(F&& f);

// ---------------------------------------------------------------------------
// Volume discovery and mount.

struct VolumeEntry {
    uint32_t start;    // absolute sector
    uint32_t sectors;  // length in sectors
    uint8_t name[32];  // length-prefixed
};

constexpr int maxVolumes = 20;
extern VolumeEntry volumeList[maxVolumes];
extern int volumeCount;
extern uint16_t blockRatio;

// Probes sectors 0..8 for the block size of the partition map: 1 for a bare
// volume, b for a map found at 512 × b, 0 for none.
int detectBlockRatio(DriveEntry& entry);
// Makes a drive current: empties the cache, clears the volume, undoes a
// change that was interrupted on the medium (hfs/journal.h), asks the drive
// its sector size, detects the block ratio and scans for volumes.
void selectDrive(int driveIndex);
// Finds every HFS volume on the current drive into volumeList. A probe that
// fails (the block-ratio probe, the medium-size probe, a later session of a
// disc that cannot be read) is not an error: the word is cleared and the
// scan goes on without it. errNoHfsVolume when nothing is found.
void scanVolumes();
// Sets the volume position from a volume entry (start and length).
void setVolumePosition(const VolumeEntry& v);
// Asks "Mount volume read only?" when the alternate MDB is missing; a
// failed read of it counts as missing (the word is cleared).
void askReadOnly();
// Mounts the volume at the current position. Starts afresh (a pending
// error is cleared first); a volume whose MDB or B-tree headers do not hold
// up gives errNoHfsVolume or errBadNode (a failed read its own code).
// Failing to find the root folder's own name is not an error: the MDB's
// name stays.
void mountVolume();
// Why the last mountVolume failed with errBadNode, in one sentence naming
// the structure (and node) at fault; empty after a mount that succeeded or
// failed for another reason.
const char* mountProblem();
// Writes every change since the last flush as one journaled commit, on
// stable storage when it returns without an error; after an error nothing
// of it is on the medium and the changes stay in the cache.
void flushVolume();
// How many sectors have changed since the last flush (each is held in the
// cache, most with its before-image, until the flush).
size_t changedSectors();
// Brings every changed buffer back to what the medium holds.
void revertVolume();
// A step within a flush: markSavepoint notes the changes made so far;
// revertToSavepoint undoes only those made since (the last flush or revert
// forgets the savepoint; without one it is revertVolume). For a caller that
// commits several steps at once and must keep the ones before a failure.
void markSavepoint();
void revertToSavepoint();
// Frees the cache without writing and forgets the volume.
void closeVolume();
// What the mounted volume's master directory block says about it, as the
// volume information shows it.
struct VolumeInfo {
    uint8_t name[32];     // length-prefixed, at most 27 characters
    uint32_t blockSize;   // allocation block size in bytes
    uint32_t blocks;      // allocation blocks
    uint32_t freeBlocks;  // unused allocation blocks
    uint32_t files;       // files on the volume
    uint32_t folders;     // folders on the volume, the root not counted
    uint32_t createDate;  // HFS dates
    uint32_t modifyDate;
};
// The mounted volume's information; all zero when no volume is mounted.
VolumeInfo volumeInfo();

// Runs the drive's formatter after the read-only and support checks and
// returns the outcome. A check that fails (errNotSupported, or
// errVolumeReadOnly for a read-only drive) leaves its code in lastError and
// shows nothing; otherwise the formatter's outcome (hfs/format.h), whose
// failures the format error box has shown, with lastError clear.
int32_t formatDrive(int driveIndex);

// ---------------------------------------------------------------------------
// Fork I/O.

constexpr uint8_t dataFork = 0x00;
constexpr uint8_t resourceFork = 0xFF;

// Maps a file sector of a fork to a volume sector and the count of sectors
// that follow contiguously in the same extent (the sector itself included).
bool mapForkSector(const FileRef& ref, uint8_t forkType, uint32_t fileSector, uint32_t& volumeSector,
                   uint32_t& contiguous);
// One file sector through the cache (count 1 reads it, count 0 assigns).
CacheBuffer* readForkSector(uint32_t fileSector, uint32_t count, uint8_t forkType, const FileRef& ref);
// Up to count sectors straight into buffer; returns the sectors read.
int32_t readFork(uint8_t* buffer, uint32_t fileSector, uint32_t count, uint8_t forkType, const FileRef& ref);

// Position of a fork's extent record: the buffer, the record's offset in it
// and the FABN the record starts at.
struct ExtentRecordPos {
    CacheBuffer* buffer;
    uint16_t offset;
    uint32_t startFabn;
    bool found;
};
ExtentRecordPos findExtentRecord(uint32_t fabn, uint8_t forkType, const FileRef& ref);

// Fork lengths read from the record at ref.
uint32_t forkLogicalLength(const FileRef& ref, uint8_t forkType);
uint32_t forkPhysicalLength(const FileRef& ref, uint8_t forkType);

// ---------------------------------------------------------------------------
// Catalog lookups.

// The current folder, kept by the Mac pane.
extern uint8_t currentFolderName[32];
extern uint32_t parentFolderId;
extern uint32_t currentFolderId;

// Catalog record data types.
enum CatalogRecordType : uint8_t { cdrFolder = 1, cdrFile = 2, cdrFolderThread = 3, cdrFileThread = 4 };

struct RecordPosition {
    uint32_t node;
    CacheBuffer* buffer;
    uint16_t offset;  // of the record (its key) in the node
    uint16_t index;   // record index in the node
    bool found;
};

// The root node of the catalog tree (bthRoot).
uint32_t catalogRoot();
// Finds the leaf record with key (parent, name). Not found: errBadNode.
RecordPosition findCatalogRecord(uint32_t startNode, uint32_t parentId, const uint8_t* name);
// Finds the first leaf record whose parent ID is folderId.
RecordPosition findFolderStart(uint32_t startNode, uint32_t folderId);
// Offset of a leaf record's data in its node (after the key, even).
uint16_t recordDataOffset(const CacheBuffer* node, uint16_t recordOffset);

// One item of a folder listing.
struct CatalogItem {
    uint8_t name[32];
    uint8_t kind;  // cdrFolder or cdrFile
    uint32_t id;
    uint16_t valence;  // folders: items directly inside
    uint32_t createDate;
    uint32_t modifyDate;
    uint32_t dataLength;
    uint32_t rsrcLength;
    // Files: type, creator, Finder flags, location, folder. Folders: the
    // window rectangle, Finder flags, location, view. The Finder flags word
    // is at finder::flags in both.
    uint8_t finderInfo[16];
    uint8_t fileFlags;  // files: filFlags (fil::locked, fil::threadExists)
};

// Lists a folder's items in catalog order. Folder ID 1 gives the root
// folder itself. Returns false with lastError set on failure.
bool listFolder(uint32_t folderId, std::vector<CatalogItem>& items);
// Reads leaf record `index` of a catalog node into an item (false when it
// is neither a file nor a folder record, or too short for its type).
bool readCatalogItem(const CacheBuffer* node, uint16_t index, CatalogItem& item);

FileRef openFileRef(uint32_t parentId, const uint8_t* name);
// The file record at leaf record `index` of a catalog node; errBadNode when
// it is not a file record or too short for one.
FileRef fileRefAt(CacheBuffer* node, uint16_t index);

// Looks up (parent, name) without treating absence as an error: 1 found,
// 0 not found (lastError untouched), -1 on a failure (lastError set).
int lookupCatalogItem(uint32_t parentId, const uint8_t* name, CatalogItem& item);
// The catalog record of a folder named by its ID, found through its thread
// record (by its ID among the parent's items when the thread's name has
// gone astray); parentId receives the folder that holds it. Same results
// as lookupCatalogItem; a damaged node met while listing the parent's
// items in that search is not an error (the word is cleared: 0).
int folderById(uint32_t folderId, CatalogItem& item, uint32_t& parentId);
// Finds an item by a path of names relative to a folder (each name
// length-prefixed); parentId receives the folder that holds the last name.
// An empty path names the starting folder itself. Same results as
// lookupCatalogItem.
int resolvePath(uint32_t startFolder, const std::vector<std::vector<uint8_t>>& names, uint32_t& parentId,
                CatalogItem& item);

// ---------------------------------------------------------------------------
// Writing: allocation, fork writes and catalog changes. Every change stays
// in the cache until flushVolume; after an error revertVolume brings the
// cache back to what the volume holds.

// True when the mounted volume may be changed; otherwise sets
// errVolumeReadOnly (a read-only drive, a drive without write, a volume
// locked in its attributes, or a damaged volume that the checks before the
// first change keep read-only: see guardChanges in hfs/check.h, which runs
// here when nothing ran it before).
bool volumeWritable();

// Searches the bitmap for a free run. start != 0: only the run beginning at
// start (exact mode); start == 0: first fit, else the longest run. Returns
// 0 when `length` blocks were found, 1 when fewer (length and start then
// describe the run found), -1 when none.
int findFreeRun(uint32_t& start, uint32_t& length);
// Set / clear the bits of a run and keep drFreeBks equal to the clear bits.
void markBlocks(uint32_t first, uint32_t count);
void freeBlocks(uint32_t first, uint32_t count);
// Adds up to `count` blocks as one contiguous run to a fork, growing its
// last extent in place when it can; count receives the blocks added.
void extendFork(const FileRef& ref, uint8_t forkType, uint32_t& count);
// Inserts an extents-overflow record whose first descriptor is (start, count).
void addOverflowRecord(const FileRef& ref, uint8_t forkType, uint32_t fabn, uint32_t start, uint32_t count);
// Frees every block of a fork and removes its extents-overflow records.
void releaseFork(const FileRef& ref, uint8_t forkType);

// Writes up to count sectors of data at a file sector of a fork, within one
// extent; returns the sectors written, 0 when the sector is not allocated.
int32_t writeForkRun(const uint8_t* data, uint32_t fileSector, uint32_t count, uint8_t forkType,
                     const FileRef& ref);
// One appending write: `length` bytes of `data` at byte `position` of the
// fork, which grows as needed. The position advances by the bytes written.
struct WriteRequest {
    uint8_t forkType;
    FileRef ref;
    uint32_t position;
    const uint8_t* data;
    uint32_t length;
};
uint32_t appendToFork(WriteRequest& request);

// What createFile needs: the name, the 16 bytes of Finder information
// (type, creator, flags, location, folder) and the two dates (a creation
// date of 0 stamps both with the current time).
struct FileInfo {
    uint8_t name[32];
    uint8_t finderInfo[16];
    uint32_t createDate;
    uint32_t modifyDate;
};

// Makes a folder (named by its ID) the current folder; false with lastError
// set, or errBadNode when there is no such folder.
bool enterFolder(uint32_t folderId);
uint32_t nextCatalogID();
void adjustFolderCount(int delta);
// Creation, deletion, renaming and retyping, all in the current folder.
void createFolder(const uint8_t* name);
// createFile returns the new file's record, unpinned, as openFileRef would
// find it (no buffer after an error).
FileRef createFile(const FileInfo& info);
// Removes an empty folder; a folder that still holds items is left alone.
void deleteFolder(const uint8_t* name);
void deleteFile(const uint8_t* name);
void renameItem(const uint8_t* name, const uint8_t* newName);
void setTypeCreator(const uint8_t* name, const uint8_t* type, const uint8_t* creator);
// Moves an item of the current folder into another folder, keeping its
// name, ID and everything inside it. errNameExists when the target holds
// that name already; errNotSupported when a folder would go into itself or
// a folder inside it.
void moveItem(const uint8_t* name, uint32_t targetFolderId);
// Changes of the Finder's invisible flag (files and folders) and the
// locked flag (files only; errNotSupported for a folder): each is set (1),
// cleared (0) or left alone (-1).
struct AttributeChange {
    int invisible = -1;
    int locked = -1;
};
void setItemAttributes(const uint8_t* name, const AttributeChange& change);

// ---------------------------------------------------------------------------

extern CacheBuffer* cacheHead;  // most recently used first

template <typename F> void forEachCacheBuffer(F&& f)
{
    for (CacheBuffer* b = cacheHead; b; b = b->next) f(b);
}

}  // namespace verrin
