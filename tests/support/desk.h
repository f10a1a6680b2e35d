// The desk the pane, batch and dialog tests work on: a scratch folder whose
// "pc" subfolder is the PC current directory, a fresh volume made by the
// partitioned formatter (no peer needed, so these tests run on Windows too)
// and shown in the Mac pane, the settings at their defaults with CopyPrefs
// off, the translations installed and the headless seam reset. The current
// directory, the panes and the drive table are put back afterwards.
// Calls the pane models, the formatter, the image drives, the engine and
// the test helpers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/peers.h"

namespace verrin::testsupport {

struct Desk {
    ScratchDir dir;
    std::string pc;     // the PC pane's starting directory
    std::string image;  // the volume's image file
    int drive = -1;
    std::filesystem::path home;

    Desk();
    ~Desk();
    Desk(const Desk&) = delete;
    Desk& operator=(const Desk&) = delete;
    // Formats a blank image of `kilobytes` KiB as one HFS volume, mounts it
    // through the Mac pane and shows its root folder; false on a failure.
    bool mountNew(uint32_t kilobytes, const char* volumeName = "Desk");
};

// A tree of files: relative path ('/' between names) -> contents; a path
// ending in '/' is a directory.
using Tree = std::map<std::string, std::string>;
// Writes a tree under `root` (directories made as needed).
bool writeTree(const std::string& root, const Tree& tree);
// Reads every file and directory under `root`.
Tree readTree(const std::string& root);
// Every item of the mounted volume below folder `folderId`: folders as
// "a/b/", files with their data fork.
Tree macTree(uint32_t folderId = 2);

// Indexes of the named entries in the PC pane and the Mac pane (names the
// pane does not hold are left out).
std::vector<int> pcSelection(const std::vector<std::string>& names);
std::vector<int> macSelection(const std::vector<std::string>& names);

// The texts of the message boxes shown since the last reset, and their
// captions, in order.
std::vector<std::string> shownTexts();
std::vector<std::string> shownCaptions();

}  // namespace verrin::testsupport
