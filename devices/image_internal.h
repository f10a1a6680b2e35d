// Names shared by the image drives and the DiskCopy 4.2 code only: the file
// behind an open image drive. Calls the raw file functions of base/rawfile.h.
#pragma once

#include <cstdint>

#include "base/rawfile.h"
#include "hfs/drive.h"

namespace verrin {

// The open file of an image drive, where its medium starts in the file and
// how long the medium is; noRawFile for a closed or foreign entry.
RawFile imageFileOf(const DriveEntry& entry, uint64_t& dataOffset, uint64_t& dataBytes);

}  // namespace verrin
