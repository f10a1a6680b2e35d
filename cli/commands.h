// verrin-cli's commands and the helpers they share: opening an image's
// volume, parsing HFS paths, printing names and errors.
// Calls the engine, the drive table and the image drives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hfs/hfs.h"

namespace verrin::cli {

// One command: its name, entry point and one-line summary for --help.
struct Command {
    const char* name;
    int (*run)(int argc, char** argv);  // argv[0] is the command name
    const char* summary;
};

int cmdVolumes(int argc, char** argv);
int cmdLs(int argc, char** argv);
int cmdCat(int argc, char** argv);
int cmdInfo(int argc, char** argv);
int cmdCheck(int argc, char** argv);
int cmdFormat(int argc, char** argv);
int cmdConvert(int argc, char** argv);

// IMAGE or IMAGE#N (N counts volumes from 1; the default is 1).
bool splitImageSpec(const std::string& spec, std::string& path, int& volumeNumber);
// Opens an image file as the current drive and scans it; false after
// printing the error.
bool openDrive(const std::string& path, bool writable);
// Opens IMAGE[#N] and mounts volume N; false after printing the error.
bool mountSpec(const std::string& spec, bool writable);
// Splits an HFS path ("Folder:Sub:File", relative to the root; a leading
// ':' is allowed) into Mac Roman names. False when a name cannot be given
// in Mac Roman or is longer than 31 characters.
bool parseMacPath(const std::string& path, std::vector<std::vector<uint8_t>>& names);
// Resolves a path from the root; prints "not found" or the engine's error.
bool findItem(const std::string& path, uint32_t& parentId, CatalogItem& item);

// Prints the pending error (the system's own message text) with a context
// and clears it. Returns 1 for use as an exit code.
int failWithError(const char* context);
// Prints a usage or argument error. Returns 2.
int failUsage(const char* command, const char* message);

std::string itemName(const uint8_t* name);
std::string fourChars(const uint8_t* p);
// An HFS date as local wall-clock time, "YYYY-MM-DDTHH:MM:SS".
std::string isoDate(uint32_t hfsDate);
std::string jsonString(const std::string& s);
bool wantsHelp(int argc, char** argv);

}  // namespace verrin::cli
