// Engine-level helpers for tests: open an image file as the current drive,
// mount one of its volumes, walk every folder, read whole forks, and build
// partitioned images around a bare volume.
// Calls the engine, the drive table and the image drives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hfs/hfs.h"

namespace verrin::testsupport {

// Empties the drive table, opens the image and makes it the current drive
// (scanning it). Returns the drive index, or -1; lastError tells why.
int openImage(const std::string& path, bool writable, uint32_t sectorSize = 512);
// Mounts volume `index` (from 0) of the current drive; false with lastError.
bool mountAt(int index);
// Closes the volume, the image files and the drive table, and clears lastError.
void closeAll();

struct WalkedItem {
    std::string path;  // names joined by ':' in UTF-8, relative to the root
    uint32_t parentId;
    CatalogItem item;
};
// The checker's findings on the mounted volume as lines, the lighter ones
// after "warning: " or "note: "; empty when it finds nothing at all.
std::vector<std::string> checkLines();

// Every item below the root folder, folders before their contents.
// Bounded by `limit` items. False with lastError on a failure.
bool walkVolume(std::vector<WalkedItem>& out, size_t limit = 1000000);

// The whole logical content of one fork; false with lastError.
bool readWholeFork(uint32_t parentId, const uint8_t* name, uint8_t fork, std::string& out);

// A length-prefixed Mac name from plain text (Mac Roman bytes).
std::vector<uint8_t> macName(const std::string& text);

// The life of a drive in the program, through its own operations: formats
// it as "Scratch" (answering the formatter's questions), lists and mounts
// its one volume, writes a file of `bytes` pattern bytes into the root
// folder, flushes, selects the drive again, reads the file back and checks
// the volume. Returns what went wrong, one line each; empty when all went
// well.
std::vector<std::string> formatAndUseDrive(int drive, size_t bytes);

// Builds a partitioned image: a driver descriptor map and an Apple
// partition map of `blockSize`-byte blocks, each given bare volume placed
// as an "Apple_HFS" partition (in the order given), optionally a leading
// non-HFS partition. Returns the image bytes.
struct PartitionSpec {
    std::string type;          // "Apple_HFS", "Apple_Free", ...
    uint32_t startBlock;       // 0: place after the previous one
    std::string volumeBytes;   // contents (a bare volume image) or empty
    uint32_t blocks;           // length in blocks (0: from the contents)
};
std::string buildPartitionedImage(uint32_t blockSize, const std::vector<PartitionSpec>& parts);
// Builds an old-style ("TS") map image holding the given bare volumes.
std::string buildOldMapImage(const std::vector<std::string>& volumes);

}  // namespace verrin::testsupport
