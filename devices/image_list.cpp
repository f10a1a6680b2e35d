// The program's list of disk-image drives. See image_list.h.
#include "devices/image_list.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "hfs/drive.h"
#include "devices/image_drive.h"
#include "base/errors.h"
#include "base/profile.h"

namespace verrin {

namespace {

std::vector<std::string> images;

std::string imageKey(size_t index) { return "Image" + std::to_string(index + 1); }

// The file's own name, without its folders.
std::string_view baseName(std::string_view path)
{
    const size_t cut = path.find_last_of("\\/");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

int openDrive(const std::string& path)
{
    int drive = openImageDrive(path.c_str(), true);
    if (drive < 0 && lastError == errPcOpen) {
        // A file that may only be read is still a drive, a read-only one.
        lastError = errNone;
        drive = openImageDrive(path.c_str(), false);
    }
    if (drive < 0) return -1;
    // A 1.44 MB image is formatted as a Mac diskette, not partitioned.
    useDisketteFormatter(drive);
    DriveEntry& entry = driveTable[drive];
    std::snprintf(entry.label, sizeof entry.label, "%.*s", static_cast<int>(sizeof entry.label - 1),
                  std::string(baseName(path)).c_str());
    return drive;
}

}  // namespace

int openListedImages(const std::string& iniPath)
{
    images.clear();
    int opened = 0;
    const profile::ReadBatch reads;
    for (size_t i = 0; i < static_cast<size_t>(maxDrives); ++i) {
        const std::string path = profile::readString(iniPath, diskImagesSection, imageKey(i), "", 1024);
        if (path.empty()) break;
        if (std::find(images.begin(), images.end(), path) != images.end()) continue;
        images.push_back(path);
        if (openDrive(path) >= 0) ++opened;
        lastError = errNone;
    }
    return opened;
}

int addImageDrive(const std::string& path)
{
    for (int i = 0; i < driveCount; ++i)
        if (path == imageDrivePath(i)) return i;
    const int drive = openDrive(path);
    if (drive >= 0 && std::find(images.begin(), images.end(), path) == images.end()) images.push_back(path);
    return drive;
}

const char* imageProblem() { return imageOpenProblem(); }

const std::vector<std::string>& listedImages() { return images; }

void saveImageList(const std::string& iniPath)
{
    std::vector<profile::Entry> entries;
    for (size_t i = 0; i < images.size(); ++i) entries.push_back({diskImagesSection, imageKey(i), images[i]});
    if (!entries.empty()) profile::writeStrings(iniPath, entries);
}

}  // namespace verrin
