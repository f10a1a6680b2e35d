// Records of volumes the checks found sound (see verdict.h).
//
// A record file, named by a hash of the medium's identity and the volume's
// start, all numbers big-endian:
//   the magic "VRNVRD" and two digits of the checks' revision;
//   the volume's start unit (4 bytes);
//   the medium's stamp: device, file number, length, modification and
//     change times (8 bytes each);
//   the master directory block, the extents and the catalog B-tree header
//     nodes (512 bytes each);
//   the medium's identity text.
// A record is trusted only when it equals, byte for byte, the one the
// mounted volume would get now, so nothing in it is parsed.
#include "hfs/verdict.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <system_error>
#include <vector>

#include "base/byteorder.h"
#include "base/errors.h"
#include "base/rawfile.h"
#include "hfs/drive.h"
#include "hfs/internal.h"
#include "hfs/journal.h"

namespace verrin {

std::string verdictFolder;

namespace {

// The last two characters count the checks' revisions: raised whenever the
// checks learn to find something new, so that records made by older checks
// are not trusted.
constexpr char recordMagic[8] = {'V', 'R', 'N', 'V', 'R', 'D', '0', '1'};
constexpr size_t identityCapacity = 1024;

struct VolumeRecord {
    std::string path;  // the record's file
    FileStamp stamp;
    std::vector<uint8_t> bytes;
};

void append64(std::vector<uint8_t>& bytes, uint64_t value)
{
    uint8_t word[8];
    write32(word, static_cast<uint32_t>(value >> 32));
    write32(word + 4, static_cast<uint32_t>(value));
    bytes.insert(bytes.end(), word, word + 8);
}

// The record the mounted volume would get now; false when it can have
// none (nowhere to keep it, no volume, or a drive without identity or
// stamp).
bool describeVolume(VolumeRecord& record)
{
    if (verdictFolder.empty() || !volume.mounted || !volume.mdb || !volume.extentsHeader || !volume.catalogHeader ||
        currentDrive < 0 || currentDrive >= driveCount)
        return false;
    DriveEntry& entry = driveTable[currentDrive];
    char identity[identityCapacity];
    if (!entry.identity || !entry.stamp || !entry.identity(entry, identity, sizeof identity) ||
        !entry.stamp(entry, record.stamp))
        return false;
    std::vector<uint8_t>& b = record.bytes;
    b.assign(recordMagic, recordMagic + sizeof recordMagic);
    uint8_t start[4];
    write32(start, volume.startSector);
    b.insert(b.end(), start, start + 4);
    const FileStamp& s = record.stamp;
    for (const uint64_t value : {s.device, s.file, s.bytes, static_cast<uint64_t>(s.modified),
                                 static_cast<uint64_t>(s.changed)})
        append64(b, value);
    for (const CacheBuffer* sector : {volume.mdb, volume.extentsHeader, volume.catalogHeader})
        b.insert(b.end(), sector->data, sector->data + 512);
    b.insert(b.end(), identity, identity + std::strlen(identity));

    char name[40];
    const size_t key = std::hash<std::string>{}(std::string(identity) + "#" + std::to_string(volume.startSector));
    std::snprintf(name, sizeof name, "%016llx.verdict", static_cast<unsigned long long>(key));
    record.path = (std::filesystem::path(verdictFolder) / name).string();
    return true;
}

// The longest wait for the file system's clock to pass a stamp the drive
// cannot seal.
constexpr int maxSettlePause = 10;  // milliseconds

// True when the next write to the medium, by any program, is sure to
// change the record's stamp, so that a record cannot vouch for a medium
// written after it:
// - the clock the system stamps files with has already passed the stamp
//   (a medium this session did not write, or not lately): any later write
//   gets a later time. Nothing is touched.
// - else (this session has just written and synced the medium) the drive
//   seals the stamp: the file's modification time is set just before the
//   one it has, an instant the clock has already passed, so any later
//   write sets another one, even within the same tick of a coarse clock.
//   Our own setting moves the change time too, which is why the record is
//   described again after it. A seal that could not be made, or that the
//   file system rounded, is never trusted (sealRawFileStamp checks the
//   times it reads back); the stamp then has to settle as below. A stamp
//   that differs from the one the seal gave means another write came in
//   between: no record.
// - else the clock is waited for, a few milliseconds at most.
// Drives without a stamp (devices) have no record at all.
bool stampWillChange(DriveEntry& entry, VolumeRecord& record)
{
    if (rawFileStampSettled(record.stamp, 0)) return true;
    if (!entry.seal || driveIsReadOnly(entry)) return rawFileStampSettled(record.stamp, maxSettlePause);
    FileStamp sealed;
    const bool isSealed = entry.seal(entry, sealed);
    if (!describeVolume(record)) return false;
    return isSealed ? record.stamp == sealed : rawFileStampSettled(record.stamp, maxSettlePause);
}

}  // namespace

bool verdictVouchesForVolume()
{
    VolumeRecord now;
    if (!describeVolume(now)) return false;
    const RawFile file = openRawFile(now.path.c_str(), RawOpen::read);
    if (file == noRawFile) return false;
    std::vector<uint8_t> stored(now.bytes.size() + 1);  // one more: a longer record differs
    const int64_t got = readRawAt(file, stored.data(), stored.size(), 0);
    closeRawFile(file);
    return got == static_cast<int64_t>(now.bytes.size()) &&
           std::memcmp(stored.data(), now.bytes.data(), now.bytes.size()) == 0;
}

void rememberSoundVolume()
{
    VolumeRecord now;
    if (!allocation.verifiedSound || !describeVolume(now)) return;
    // A commit that could not finish leaves its journal: the medium is
    // not in a state the checks saw.
    const int32_t pending = lastError;
    std::string journal;
    const bool unfinished = journalPathOf(driveTable[currentDrive], journal) && rawFileExists(journal.c_str());
    lastError = pending;
    if (unfinished || !stampWillChange(driveTable[currentDrive], now)) return;
    std::error_code ec;
    std::filesystem::create_directories(verdictFolder, ec);
    // Written whole under another name, then put in place: a record is
    // never seen half-written.
    const std::string fresh = now.path + ".new";
    const RawFile file = openRawFile(fresh.c_str(), RawOpen::replace);
    if (file == noRawFile) return;
    const bool written = writeRawAt(file, now.bytes.data(), now.bytes.size(), 0);
    closeRawFile(file);
    if (written) std::filesystem::rename(fresh, now.path, ec);
    if (!written || ec) removeRawFile(fresh.c_str());
}

void forgetVolumeVerdict()
{
    VolumeRecord now;
    if (describeVolume(now)) removeRawFile(now.path.c_str());
}

}  // namespace verrin
