// Drives backed by a file that holds a raw disk image: diskettes, hard-disk
// images with a partition map, CD images. Each open image is one row of the
// drive table; its `write` exists only when the file could be opened for
// writing.
#pragma once

#include <cstdint>

namespace verrin {

// Opens the image and adds it to the drive table. sectorSize is the device
// sector size the drive reports (512 unless the medium is known to use
// larger sectors, for example 2048 for an optical-disc image). Returns the
// drive index, or -1 with lastError set (errPcOpen when the file cannot be
// opened, errNoMemory when the drive table is full).
int openImageDrive(const char* path, bool writable, uint32_t sectorSize = 512);

// Closes every image file opened by openImageDrive. The drive table rows
// stay but their operations fail afterwards.
void closeImageDrives();

// Size of the image file behind a drive, in bytes (0 for other kinds).
uint64_t imageDriveBytes(int driveIndex);

// The path the drive was opened from (empty for other kinds).
const char* imageDrivePath(int driveIndex);

}  // namespace verrin
