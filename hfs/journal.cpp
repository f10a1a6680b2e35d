// The rollback journal: commits, recovery and the capture of a format's
// writes (see journal.h).
//
// A journal file, all numbers big-endian:
//   header (journalHeaderSize bytes): the magic "VRNJRNL1", the medium's
//     size in bytes (two 32-bit halves, high first), its sector size, the
//     unit count n, the volume's start unit and creation date, and 64 bytes
//     of text saying what the change is;
//   n unit addresses (4 bytes each, ascending);
//   n before-images, then n new images (512 bytes each);
//   the checksum of everything before it (FNV-1a, 64 bits, high half
//     first).
// A file of another length, or whose magic or checksum is wrong, is an
// incomplete journal: it was still being written, so the medium was never
// touched.
// Calls the drive table, plain files, the big-endian accessors, the
// user-interface seam and the error word.
#include "hfs/journal.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>
#include <vector>

#include "base/byteorder.h"
#include "base/errors.h"
#include "base/rawfile.h"
#include "base/ui.h"

namespace verrin {

std::string journalFolder;

namespace {

constexpr char journalMagic[8] = {'V', 'R', 'N', 'J', 'R', 'N', 'L', '1'};
namespace jh {
constexpr size_t magic = 0, mediumHigh = 8, mediumLow = 12, sectorSize = 16, units = 20, volumeStart = 24,
                 volumeCreated = 28, what = 32;
}  // namespace jh
constexpr size_t whatBytes = sizeof(JournalLabel::what);
constexpr size_t journalHeaderSize = jh::what + whatBytes;
constexpr size_t checksumBytes = 8;
// Each unit: its address and two images.
constexpr size_t bytesPerUnit = 4 + 2 * 512;
// The MDB of a volume sits in its third unit.
constexpr uint32_t mdbUnit = 2;
constexpr size_t mdbCreatedOffset = 2;

constexpr const char* journalCaption = "Interrupted Change";
// Journals are read whole into memory: a longer file is taken for an
// incomplete one.
constexpr uint64_t maxJournalBytes = SIZE_MAX < UINT64_MAX ? SIZE_MAX / 2 : uint64_t{1} << 40;

// ---------------------------------------------------------------------------
// Moving units.

enum class Direction : uint8_t { read, write };

// Moves `count` units between memory and the drive at `address`, in as
// many calls as the drive's limits and its answers need.
bool moveUnits(DriveEntry& entry, Direction direction, uint8_t* data, uint32_t count, uint32_t address)
{
    while (count > 0) {
        const uint32_t n = transferUnits(entry, count);
        if (n == 0 || (direction == Direction::write ? !entry.write : !entry.read)) {
            setError(direction == Direction::write ? errMacWrite : errMacRead);
            return false;
        }
        const int32_t moved = direction == Direction::write ? entry.write(entry, data, n, address)
                                                            : entry.read(entry, data, n, address);
        if (moved < 1 || static_cast<uint32_t>(moved) > n) {
            setError(direction == Direction::write ? errMacWrite : errMacRead);
            return false;
        }
        data += static_cast<size_t>(moved) * 512;
        count -= static_cast<uint32_t>(moved);
        address += static_cast<uint32_t>(moved);
    }
    return true;
}

// The end of the run of adjacent addresses that starts at units[first].
size_t runEnd(std::span<const JournalUnit> units, size_t first)
{
    size_t last = first + 1;
    while (last < units.size() && units[last].address == units[last - 1].address + 1) ++last;
    return last;
}

// Writes units [0, end) with the images that `image` picks, in runs.
// `reached` receives the end of the last run tried (after a failure, the
// runs before it may be on the medium, the failed one in part).
template <typename Pick>
bool writeRuns(DriveEntry& entry, std::span<const JournalUnit> units, size_t end, Pick image, size_t& reached)
{
    std::vector<uint8_t> run;
    for (size_t first = 0; first < end; first = reached) {
        reached = std::min(runEnd(units, first), end);
        run.resize((reached - first) * 512);
        for (size_t i = first; i < reached; ++i) std::memcpy(run.data() + (i - first) * 512, image(units[i]), 512);
        if (!moveUnits(entry, Direction::write, run.data(), static_cast<uint32_t>(reached - first),
                       units[first].address))
            return false;
    }
    return true;
}

// Reads the units' present contents into `images` (512 bytes per unit, in
// the units' order), in runs.
bool readRuns(DriveEntry& entry, std::span<const JournalUnit> units, std::vector<uint8_t>& images)
{
    images.resize(units.size() * 512);
    for (size_t first = 0; first < units.size();) {
        const size_t last = runEnd(units, first);
        if (!moveUnits(entry, Direction::read, images.data() + first * 512, static_cast<uint32_t>(last - first),
                       units[first].address))
            return false;
        first = last;
    }
    return true;
}

const uint8_t* beforeImage(const JournalUnit& u) { return u.before; }
const uint8_t* afterImage(const JournalUnit& u) { return u.after; }

// A drive whose sectors hold several units writes whole sectors: a write
// torn part-way may damage any unit of its sector, so a commit covers
// every unit of each sector it touches, the ones it does not change with
// no new image (null) yet. `units` ascend.
std::vector<JournalUnit> wholeSectors(const DriveEntry& entry, std::span<const JournalUnit> units)
{
    const uint32_t ratio = std::max<uint32_t>(entry.sectorRatio, 1);
    std::vector<JournalUnit> all;
    all.reserve(units.size());
    for (size_t next = 0; next < units.size();) {
        const uint32_t first = units[next].address - units[next].address % ratio;
        for (uint32_t a = first; a - first < ratio; ++a) {
            if (next < units.size() && units[next].address == a)
                all.push_back(units[next++]);
            else
                all.push_back({a, nullptr, nullptr});
        }
    }
    return all;
}

bool syncDrive(DriveEntry& entry, bool syncs) { return !syncs || !entry.sync || entry.sync(entry); }

// Units [0, end) get their earlier content back and the drive is synced;
// the error that stopped the commit stays the one reported. False when
// that failed too.
bool putBack(DriveEntry& entry, std::span<const JournalUnit> units, size_t end, bool syncs)
{
    const int32_t failure = lastError;
    lastError = errNone;
    size_t reached = 0;
    const bool restored = writeRuns(entry, units, end, beforeImage, reached) && syncDrive(entry, syncs);
    lastError = failure;
    return restored;
}

// ---------------------------------------------------------------------------
// The journal file.

uint64_t checksumOf(const uint8_t* data, size_t bytes)
{
    uint64_t h = 14695981039346656037ull;
    for (size_t i = 0; i < bytes; ++i) {
        h ^= data[i];
        h *= 1099511628211ull;
    }
    return h;
}

// The medium's size in bytes and its sector size, as the drive tells them.
void describeMedium(DriveEntry& entry, uint64_t& bytes, uint32_t& sectorSize)
{
    bytes = 0;
    sectorSize = 512;
    if (!entry.querySectorSize) return;
    const int32_t saved = lastError;
    uint64_t capacity = 0;
    const uint32_t size = entry.querySectorSize(entry, &capacity);
    lastError = saved;
    if (size == 0) return;
    sectorSize = size;
    bytes = capacity * size;
}

std::vector<uint8_t> buildJournal(DriveEntry& entry, std::span<const JournalUnit> units, const JournalLabel& label)
{
    const size_t n = units.size();
    std::vector<uint8_t> j(journalHeaderSize + n * bytesPerUnit + checksumBytes);
    uint64_t mediumBytes;
    uint32_t sectorSize;
    describeMedium(entry, mediumBytes, sectorSize);
    std::memcpy(j.data() + jh::magic, journalMagic, sizeof journalMagic);
    write32(j.data() + jh::mediumHigh, static_cast<uint32_t>(mediumBytes >> 32));
    write32(j.data() + jh::mediumLow, static_cast<uint32_t>(mediumBytes));
    write32(j.data() + jh::sectorSize, sectorSize);
    write32(j.data() + jh::units, static_cast<uint32_t>(n));
    write32(j.data() + jh::volumeStart, label.volumeStart);
    write32(j.data() + jh::volumeCreated, label.volumeCreated);
    std::memcpy(j.data() + jh::what, label.what, whatBytes);
    j[jh::what + whatBytes - 1] = 0;
    uint8_t* addresses = j.data() + journalHeaderSize;
    uint8_t* befores = addresses + 4 * n;
    uint8_t* afters = befores + 512 * n;
    for (size_t i = 0; i < n; ++i) {
        write32(addresses + 4 * i, units[i].address);
        std::memcpy(befores + 512 * i, units[i].before, 512);
        std::memcpy(afters + 512 * i, units[i].after, 512);
    }
    const uint64_t sum = checksumOf(j.data(), j.size() - checksumBytes);
    write32(j.data() + j.size() - 8, static_cast<uint32_t>(sum >> 32));
    write32(j.data() + j.size() - 4, static_cast<uint32_t>(sum));
    return j;
}

// Writes the journal and makes it and its name stable.
bool writeJournal(const std::string& path, const std::vector<uint8_t>& bytes)
{
    const RawFile f = openRawFile(path.c_str(), RawOpen::replace);
    if (f == noRawFile) {
        setError(errPcCreate);
        return false;
    }
    const bool written = writeRawAt(f, bytes.data(), bytes.size(), 0) && syncRawFile(f);
    closeRawFile(f);
    if (written && syncFolderOf(path.c_str())) return true;
    removeRawFile(path.c_str());
    setError(errPcWrite);
    return false;
}

// Deletes a journal and makes its deletion stable, where its return would
// repeat an undo (and its message): after a failed commit put the units
// back, after a rollback, and for an incomplete journal. A finished
// commit's journal is deleted without the folder sync (commitUnits).
bool deleteJournal(const std::string& path)
{
    return removeRawFile(path.c_str()) && syncFolderOf(path.c_str());
}

// A journal read back: its units point into `bytes`.
struct ReadJournal {
    std::vector<uint8_t> bytes;
    std::vector<JournalUnit> units;
    uint64_t mediumBytes;
    uint32_t sectorSize;
    JournalLabel label;
};

// False for an incomplete journal.
bool parseJournal(ReadJournal& j)
{
    const std::vector<uint8_t>& b = j.bytes;
    if (b.size() < journalHeaderSize + checksumBytes || std::memcmp(b.data(), journalMagic, 8) != 0) return false;
    const uint64_t n = read32(b.data() + jh::units);
    if (n == 0 || b.size() != journalHeaderSize + n * bytesPerUnit + checksumBytes) return false;
    const uint64_t stored = uint64_t{read32(b.data() + b.size() - 8)} << 32 | read32(b.data() + b.size() - 4);
    if (checksumOf(b.data(), b.size() - checksumBytes) != stored) return false;
    j.mediumBytes = uint64_t{read32(b.data() + jh::mediumHigh)} << 32 | read32(b.data() + jh::mediumLow);
    j.sectorSize = read32(b.data() + jh::sectorSize);
    j.label.volumeStart = read32(b.data() + jh::volumeStart);
    j.label.volumeCreated = read32(b.data() + jh::volumeCreated);
    std::memcpy(j.label.what, b.data() + jh::what, whatBytes);
    j.label.what[whatBytes - 1] = 0;
    const uint8_t* addresses = b.data() + journalHeaderSize;
    const uint8_t* befores = addresses + 4 * n;
    const uint8_t* afters = befores + 512 * n;
    j.units.resize(static_cast<size_t>(n));  // fits: the journal of n units is in memory
    for (size_t i = 0; i < n; ++i) {
        j.units[i] = {read32(addresses + 4 * i), befores + 512 * i, afters + 512 * i};
        if (i > 0 && j.units[i].address <= j.units[i - 1].address) return false;
    }
    return true;
}

// How a complete journal stands to the medium as it is now.
enum class JournalFit : uint8_t {
    // Changed since by another program (or another medium): never applied.
    foreign,
    // Every unit holds its before-image, its new image, or bytes of the
    // one and the other (a write torn part-way): rolled back.
    torn,
    // Every unit holds its new image: the commit finished, only the
    // journal's deletion was lost (see recoverJournal).
    finished,
};

// The journal belongs to the medium when it has the same size and sector
// size, the volume's creation date where the journal does not cover its
// MDB, and every unit holds its before-image, its new image or a mix.
JournalFit journalFit(DriveEntry& entry, const ReadJournal& j)
{
    uint64_t mediumBytes;
    uint32_t sectorSize;
    describeMedium(entry, mediumBytes, sectorSize);
    if (mediumBytes != j.mediumBytes || sectorSize != j.sectorSize) return JournalFit::foreign;
    std::vector<uint8_t> now;
    if (!readRuns(entry, j.units, now)) return JournalFit::foreign;
    bool finished = true;
    for (size_t i = 0; i < j.units.size(); ++i) {
        const uint8_t* present = now.data() + 512 * i;
        const JournalUnit& u = j.units[i];
        if (std::memcmp(present, u.after, 512) == 0) continue;
        finished = false;
        for (size_t k = 0; k < 512; ++k)
            if (present[k] != u.before[k] && present[k] != u.after[k]) return JournalFit::foreign;
    }
    const uint32_t mdb = j.label.volumeStart + mdbUnit;
    const bool coversMdb = std::any_of(j.units.begin(), j.units.end(), [&](const JournalUnit& u) { return u.address == mdb; });
    if (j.label.volumeCreated != 0 && !coversMdb) {
        const JournalUnit probe{mdb, nullptr, nullptr};
        if (!readRuns(entry, std::span(&probe, 1), now) || read32(now.data() + mdbCreatedOffset) != j.label.volumeCreated)
            return JournalFit::foreign;
    }
    return finished ? JournalFit::finished : JournalFit::torn;
}

void tell(const std::string& text, int icon) { messageBox(text.c_str(), journalCaption, uiOk, icon); }

std::string sanitizedName(const char* identity)
{
    std::string name;
    for (const char* p = identity; *p; ++p) {
        const char c = *p;
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
        name += plain ? c : '_';
    }
    return name;
}

// ---------------------------------------------------------------------------
// The capture of a format's writes.

struct Capture {
    DriveEntry* entry = nullptr;
    DriveReadOp read = nullptr;
    DriveWriteOp write = nullptr;
    std::map<uint32_t, std::array<uint8_t, 512>> units;
};
Capture capture;

int32_t capturedWrite(DriveEntry&, const uint8_t* buffer, uint32_t count, uint32_t address)
{
    for (uint32_t i = 0; i < count; ++i) std::memcpy(capture.units[address + i].data(), buffer + 512 * i, 512);
    return static_cast<int32_t>(count);
}

// Units written since the capture began come from memory, the others from
// the drive.
int32_t capturedRead(DriveEntry& entry, uint8_t* buffer, uint32_t count, uint32_t address)
{
    auto it = capture.units.lower_bound(address);
    if (it != capture.units.end() && it->first == address) {
        uint32_t n = 0;
        for (; n < count && it != capture.units.end() && it->first == address + n; ++it, ++n)
            std::memcpy(buffer + 512 * n, it->second.data(), 512);
        return static_cast<int32_t>(n);
    }
    const uint32_t uncaptured = it == capture.units.end() ? count : std::min(count, it->first - address);
    return capture.read ? capture.read(entry, buffer, uncaptured, address) : 0;
}

}  // namespace

bool journalingSwitchedOff()
{
    static const bool off = std::getenv("VERRIN_BENCH_NO_JOURNAL") != nullptr;
    return off;
}

std::string journalPathBeside(const std::string& imagePath) { return imagePath + "-journal"; }

bool journalPathOf(DriveEntry& entry, std::string& path)
{
    if (!entry.identity) return false;
    char identity[1024];
    const int32_t saved = lastError;
    const bool named = entry.identity(entry, identity, sizeof identity);
    lastError = saved;
    if (!named || !identity[0]) return false;
    if (entry.flags & driveFileBacked) {
        path = journalPathBeside(identity);
        return true;
    }
    if (journalFolder.empty()) return false;
    path = (std::filesystem::path(journalFolder) / (sanitizedName(identity) + ".journal")).string();
    return true;
}

bool commitUnits(DriveEntry& entry, std::span<const JournalUnit> units, const JournalLabel& label,
                 DataOutside data)
{
    if (lastError != errNone) return false;
    if (driveIsReadOnly(entry)) {
        setError(errVolumeReadOnly);
        return false;
    }
    if (units.empty()) return true;
    const bool syncs = !journalingSwitchedOff();
    std::string path;
    const bool journaled = syncs && journalPathOf(entry, path);
    // A change interrupted earlier is undone before this one starts.
    if (journaled && rawFileExists(path.c_str())) {
        recoverJournal(entry);
        if (driveIsReadOnly(entry) || rawFileExists(path.c_str())) {
            setError(errVolumeReadOnly);
            return false;
        }
    }

    // Every before-image is in hand before the first write: the ones the
    // caller does not have are read from the medium. A failed read stops
    // the commit with nothing written.
    std::vector<JournalUnit> all = wholeSectors(entry, units);
    std::vector<JournalUnit> unread;
    for (const JournalUnit& u : all)
        if (!u.before) unread.push_back(u);
    std::vector<uint8_t> read;
    if (!readRuns(entry, unread, read)) return false;
    for (size_t i = 0, k = 0; i < all.size(); ++i) {
        if (!all[i].before) all[i].before = read.data() + 512 * k++;
        if (!all[i].after) all[i].after = all[i].before;
    }

    if (journaled) {
        if (data == DataOutside::written && !syncDrive(entry, syncs)) return false;
        if (!journalFolder.empty() && !(entry.flags & driveFileBacked)) {
            std::error_code ec;
            std::filesystem::create_directories(journalFolder, ec);
        }
        if (!writeJournal(path, buildJournal(entry, all, label))) return false;
    }
    // The units in ascending runs, then the barrier. A failure part-way
    // puts back every run written so far (the failed one included: it may
    // be written in part); the journal goes only when that worked.
    size_t reached = 0;
    bool done = writeRuns(entry, all, all.size(), afterImage, reached);
    if (done) reached = all.size();
    done = done && syncDrive(entry, syncs);
    // Once the barrier has passed, the change is on the medium and the
    // journal is deleted without syncing its folder: should the deletion
    // be lost, the journal that comes back describes a finished commit,
    // which recovery recognises and discards (see recoverJournal). A
    // journal that cannot be deleted is undone now instead, since the
    // next opening would have to judge it while this program still holds
    // the medium.
    if (done && journaled && !removeRawFile(path.c_str())) {
        setError(errPcDelete);
        done = false;
    }
    if (done) return true;
    if (putBack(entry, all, reached, syncs) && journaled) deleteJournal(path);
    return false;
}

// A journal found at opening is one of:
// - incomplete (still being written when the change stopped): no unit was
//   written before the journal and its name were on stable storage, so the
//   medium was never touched; it is deleted.
// - finished: every unit holds its new image. The commit reached the
//   medium and only the deletion of its journal was lost, which is
//   expected: a commit deletes its journal without syncing the folder.
//   The drive is synced (the units reach stable storage if they had not,
//   and derived data such as a DiskCopy image's checksum, which the
//   commit's own sync may not have reached, are brought up to date) and
//   the journal is deleted, again without a folder sync, silently: the
//   change was made as the user asked. This is sound because a journal
//   can only come back while every unit it names still holds its new
//   image. The next commit on this medium creates its journal at the same
//   path and syncs that folder before it writes any unit, so from then on
//   the old journal cannot reappear (the folder holds the new journal or
//   none). Should the machine stop before that folder sync, the old
//   journal may reappear, but the new commit has written nothing yet; fork
//   data written ahead of a commit go only to blocks free in the committed
//   volume (blocks freed since are held until the commit), and no journal
//   names those. Those data are synced before the commit's journal is
//   written (DataOutside::written), so the files a finished commit records
//   hold their data. The only writer that could change the units in between
//   is another program; its change makes the units match neither image
//   (the journal is then foreign, below), or, should every byte it wrote
//   repeat a before- or new image, is undone or kept by the rules below,
//   as with any interrupted commit.
// - torn: every unit holds its before-image, its new image or a mix (a
//   write torn part-way, or writes lost from the system's cache): the
//   before-images are written back, the drive synced and the journal
//   deleted, and the user is told.
// - foreign: the medium changed since; nothing is written, the drive's
//   writes are held off for the session and the user is told why.
void recoverJournal(DriveEntry& entry)
{
    std::string path;
    if (!journalPathOf(entry, path) || !rawFileExists(path.c_str())) return;
    const int32_t saved = lastError;
    lastError = errNone;
    ReadJournal j{};
    const RawFile f = openRawFile(path.c_str(), RawOpen::read);
    if (f != noRawFile) {
        const uint64_t length = rawFileLength(f);
        if (length <= maxJournalBytes) {
            j.bytes.resize(static_cast<size_t>(length));
            if (readRawAt(f, j.bytes.data(), j.bytes.size(), 0) != static_cast<int64_t>(j.bytes.size()))
                j.bytes.clear();
        }
        closeRawFile(f);
    }
    if (!parseJournal(j)) {
        deleteJournal(path);
        lastError = saved;
        return;
    }
    const std::string what = j.label.what;
    const std::string where = " (" + path + ")";
    const JournalFit fit = entry.write ? journalFit(entry, j) : JournalFit::foreign;
    if (!entry.write) {
        tell("An interrupted " + what + " could not be undone: the disk cannot be written" + where + ".",
             uiIconWarning);
    } else if (fit == JournalFit::foreign) {
        entry.flags |= driveWriteHeld;
        tell("An interrupted " + what + " was not undone: the disk has changed since" + where +
                 "; it stays read-only until that file is removed.",
             uiIconWarning);
    } else if (fit == JournalFit::finished) {
        if (!syncDrive(entry, true) || !removeRawFile(path.c_str())) {
            if (lastError == errNone) setError(errPcDelete);
            entry.flags |= driveWriteHeld;
            tell("The journal of a finished " + what + " could not be removed: " + errorText(lastError) + where +
                     ".",
                 uiIconWarning);
        }
    } else {
        size_t reached = 0;
        if (writeRuns(entry, j.units, j.units.size(), beforeImage, reached) &&
            syncDrive(entry, true) && deleteJournal(path)) {
            tell("Undid an interrupted " + what + ": " + std::to_string(j.units.size()) +
                     " sectors are back as they were before it.",
                 uiIconInfo);
        } else {
            entry.flags |= driveWriteHeld;
            tell("An interrupted " + what + " could not be undone: " + errorText(lastError) + where + ".",
                 uiIconWarning);
        }
    }
    lastError = saved;
}

void beginCapturedWrites(DriveEntry& entry)
{
    capture = Capture{};
    capture.entry = &entry;
    capture.read = entry.read;
    capture.write = entry.write;
    entry.read = capturedRead;
    if (entry.write) entry.write = capturedWrite;
}

bool endCapturedWrites(DriveEntry& entry, bool commit, const JournalLabel& label)
{
    if (capture.entry != &entry) return !commit;
    entry.read = capture.read;
    entry.write = capture.write;
    std::vector<JournalUnit> units;
    units.reserve(capture.units.size());
    for (const auto& [address, image] : capture.units) units.push_back({address, nullptr, image.data()});
    const bool done = !commit || commitUnits(entry, units, label, DataOutside::none);
    capture = Capture{};
    return done;
}

}  // namespace verrin
