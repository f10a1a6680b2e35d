// Drives backed by a file that holds a disk image: diskettes, hard-disk
// images with a partition map, CD images, raw or as DiskCopy 4.2 images
// (recognised by their header). Each open image is one row of the drive
// table; its `write` exists only when the file could be opened for writing.
// Image drives are formatted as partitioned media; an image of exactly one
// 1.44 MB diskette may be given the diskette formatter instead.
// Calls the drive table, the formatters, the DiskCopy code, the raw file
// functions and the error word.
#pragma once

#include <cstdint>

namespace verrin {

// Opens the image and adds it to the drive table. sectorSize is the device
// sector size the drive reports (512 unless the medium is known to use
// larger sectors, for example 2048 for an optical-disc image; a DiskCopy
// image always has 512). Returns the drive index, or -1 with lastError set
// (errPcOpen when the file cannot be opened, errPcRead when it carries a
// DiskCopy 4.2 header that does not fit the file, errNoMemory when the
// drive table is full).
int openImageDrive(const char* path, bool writable, uint32_t sectorSize = 512);

// Why the last openImageDrive refused a file it could open (empty when it
// did not).
const char* imageOpenProblem();

// Makes the diskette formatter the drive's `format` operation. Only for an
// image drive whose medium is exactly 2880 sectors of 512 bytes; false
// (nothing changed) otherwise.
bool useDisketteFormatter(int driveIndex);

// Closes every image file opened by openImageDrive. The drive table rows
// stay but their operations fail afterwards.
void closeImageDrives();

// Size of the medium behind an image drive, in bytes: the whole file for a
// raw image, the data area for a DiskCopy image (0 for other kinds).
uint64_t imageDriveBytes(int driveIndex);

// The path the drive was opened from (empty for other kinds).
const char* imageDrivePath(int driveIndex);

}  // namespace verrin
