// Names shared by the image drives and the DiskCopy 4.2 code only: large-
// file seeks and lengths, and the file behind an open image drive.
#pragma once

#include <cstdint>
#include <cstdio>

#include "hfs/drive.h"

namespace verrin {

bool seekImage(std::FILE* f, uint64_t offset);
// Length of an open file in bytes (0 when it cannot be told).
uint64_t imageFileLength(std::FILE* f);
// The open file of an image drive, where its medium starts in the file and
// how long the medium is; nullptr for a closed or foreign entry.
std::FILE* imageFileOf(const DriveEntry& entry, uint64_t& dataOffset, uint64_t& dataBytes);

}  // namespace verrin
