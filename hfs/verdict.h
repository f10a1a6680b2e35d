// The remembered verdict of the checks before a change: a volume the
// checks found sound, and changed since only by this program's committed
// changes, is not checked again before the next command's first change.
//
// When a volume is closed after the checks found nothing a change could
// spread (guardChanges, or checkVolume with nothing unwritten in the cache)
// and nothing is left unwritten or half-committed, one record is kept in
// `verdictFolder` for the volume: the medium's identity, the volume's
// start, the medium's stamp (hfs/drive.h: for an image file its device,
// file number, length and times), and the volume's master directory block
// and B-tree header nodes as the medium holds them. guardChanges takes the
// record as its verdict only when all of it equals the mounted volume's:
// any write by another program changes the stamp, and hfsutils' writes
// change the master directory block as well. A stamp that a later write
// could repeat (too fresh for the system's clock) is first sealed by the
// drive (an image's modification time set to one no write can give it),
// or else waited for a few milliseconds; one that still could be repeated
// (times coarser than a millisecond) is not recorded; a drive without a
// stamp is always checked; a missing,
// unreadable or different record means the full checks; checks that find
// damage remove the record. Calls the drive table, plain files and the
// engine's volume state.
#pragma once

#include <string>

namespace verrin {

// Where records are kept (the command line and the window set it to
// userCacheFolder()); empty: nothing is remembered, every change is
// preceded by the full checks.
extern std::string verdictFolder;

// True when a record vouches for the mounted volume as it is on the medium.
bool verdictVouchesForVolume();
// Records that the mounted volume is sound, when everything above holds;
// closeVolume calls it before it forgets the volume.
void rememberSoundVolume();
// Removes the mounted volume's record: the checks found damage.
void forgetVolumeVerdict();

}  // namespace verrin
