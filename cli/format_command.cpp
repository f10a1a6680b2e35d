// verrin-cli format: makes a new HFS volume on a disk image, creating or
// resizing the image file first when asked. Runs the same formatters as the
// Format command, answering their confirmations itself (the command line is
// the confirmation); their messages go to standard error.
// Calls the formatters, the image drives, the DiskCopy code and the engine's
// format dispatch.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "base/macroman.h"
#include "base/ui_headless.h"
#include "cli/commands.h"
#include "devices/dc42_drive.h"
#include "devices/image_drive.h"
#include "hfs/drive.h"
#include "hfs/format.h"

namespace verrin::cli {

namespace {

constexpr uint64_t disketteBytes = uint64_t{disketteSectors} * 512;

const char* const formatHelp =
    "usage: verrin-cli format IMAGE --name NAME [--bare] [--size SIZE] [--sector-size BYTES]\n"
    "       verrin-cli format IMAGE --name NAME --diskette [--dc42]\n"
    "Makes a new, empty HFS volume named NAME (1 to 27 Mac Roman characters) on\n"
    "IMAGE. Everything on the image is lost.\n"
    "\n"
    "Without --diskette the image becomes a partitioned disk: a driver descriptor\n"
    "map, an Apple partition map with two entries, and one HFS volume that fills\n"
    "the rest (hfsutils mounts it as partition 1: 'hmount IMAGE 1').\n"
    "  --size SIZE         create IMAGE, or grow or shrink it, to SIZE bytes first\n"
    "                      (suffix K, M, G or T for binary multiples: 20M, 1G);\n"
    "                      the file is sparse where the file system allows.\n"
    "                      Without --size IMAGE must exist and keeps its size.\n"
    "  --bare              no partition map: the HFS volume fills the image from\n"
    "                      its first sector, as on 400K and 800K diskettes and in\n"
    "                      many emulators' images (at least 400K).\n"
    "  --sector-size BYTES treat the image as a medium of BYTES-byte sectors\n"
    "                      (512, 1024, 2048 or 4096; default 512), as for an\n"
    "                      optical disc; the image size must be a multiple of it.\n"
    "\n"
    "With --diskette the image becomes a 1.44 MB HFS diskette (2880 sectors, no\n"
    "partition map), the fixed diskette layout with the invisible Desktop file.\n"
    "IMAGE is created or resized to 1,474,560 bytes. An existing DiskCopy 4.2\n"
    "image is formatted in place (it must hold a 1.44 MB disk for --diskette)\n"
    "and its checksum brought up to date; it is never resized.\n"
    "  --dc42              write IMAGE as a new DiskCopy 4.2 image (84-byte header,\n"
    "                      no tags) holding the diskette; implies --diskette.\n"
    "\n"
    "Exit status 0 on success, 1 when the format failed, 2 for bad arguments.";

// Parses "123", "20M", "1G", "1440K" (binary multiples).
bool parseSize(const std::string& text, uint64_t& bytes)
{
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    size_t pos = 0;
    uint64_t value = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
        if (value > (UINT64_MAX - 9) / 10) return false;
        value = value * 10 + static_cast<uint64_t>(text[pos++] - '0');
    }
    std::string suffix = text.substr(pos);
    for (char& c : suffix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (suffix == "B") suffix.clear();
    if (suffix.size() == 2 && suffix[1] == 'B') suffix.resize(1);
    int shift = 0;
    if (suffix.empty())
        shift = 0;
    else if (suffix == "K")
        shift = 10;
    else if (suffix == "M")
        shift = 20;
    else if (suffix == "G")
        shift = 30;
    else if (suffix == "T")
        shift = 40;
    else
        return false;
    if (shift && value > (UINT64_MAX >> shift)) return false;
    bytes = value << shift;
    return true;
}

// Creates the file when missing, then sets its length.
bool sizeImageFile(const std::string& path, uint64_t bytes)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) {
            std::fprintf(stderr, "%s: cannot create the image file\n", path.c_str());
            return false;
        }
        std::fclose(f);
    }
    std::filesystem::resize_file(path, bytes, ec);
    if (ec) {
        std::fprintf(stderr, "%s: cannot set the image size: %s\n", path.c_str(), ec.message().c_str());
        return false;
    }
    return true;
}

// What the command line asked for.
struct FormatRequest {
    std::string image;
    uint64_t bytes = 0;  // with sizeGiven: the image's new size
    bool sizeGiven = false;
    uint32_t sectorSize = 512;
    bool diskette = false;
    bool dc42 = false;
    bool bare = false;
};

int formatImage(const FormatRequest& request);

}  // namespace

int cmdFormat(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts(formatHelp);
        return 0;
    }
    FormatRequest request;
    std::string name, sizeText;
    bool haveName = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        if (a == "--name") {
            if (!value(name)) return failUsage("format", "--name needs a volume name");
            haveName = true;
        } else if (a == "--size") {
            if (!value(sizeText)) return failUsage("format", "--size needs a size");
        } else if (a == "--sector-size") {
            std::string text;
            uint64_t v = 0;
            if (!value(text)) return failUsage("format", "--sector-size needs a number of bytes");
            if (!parseSize(text, v) || (v != 512 && v != 1024 && v != 2048 && v != 4096))
                return failUsage("format", "--sector-size must be 512, 1024, 2048 or 4096");
            request.sectorSize = static_cast<uint32_t>(v);
        } else if (a == "--diskette") {
            request.diskette = true;
        } else if (a == "--dc42") {
            request.dc42 = request.diskette = true;
        } else if (a == "--bare") {
            request.bare = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return failUsage("format", ("unknown option " + a).c_str());
        } else if (request.image.empty()) {
            request.image = a;
        } else {
            return failUsage("format", "give one image");
        }
    }
    const std::string& image = request.image;
    if (image.empty()) return failUsage("format", "give the image to format");
    if (!haveName) return failUsage("format", "give the volume name with --name");
    const std::string problem = macNameProblem(name, maxVolumeNameLength);
    if (!problem.empty()) {
        std::fprintf(stderr, "%s: %s\n", image.c_str(), problem.c_str());
        return 1;
    }
    std::vector<uint8_t> chars;
    utf8ToMacRoman(name, chars);
    if (request.diskette && !sizeText.empty()) return failUsage("format", "--size does not go with --diskette");
    if (request.diskette && request.sectorSize != 512) return failUsage("format", "a diskette has 512-byte sectors");
    if (request.diskette && request.bare) return failUsage("format", "--bare does not go with --diskette");
    if (!sizeText.empty()) {
        if (!parseSize(sizeText, request.bytes) || request.bytes == 0)
            return failUsage("format", "bad --size (e.g. 20M, 1G)");
        if (request.bytes % request.sectorSize != 0)
            return failUsage("format", "--size must be a multiple of the sector size");
        request.sizeGiven = true;
    }
    setNewVolumeName(chars.data(), static_cast<uint32_t>(chars.size()));

    // A format that fails leaves no image file behind that it created.
    std::error_code ec;
    const bool createdHere = !std::filesystem::exists(image, ec);
    const int status = formatImage(request);
    if (status != 0 && createdHere) {
        closeImageDrives();
        clearDrives();
        std::filesystem::remove(image, ec);
    }
    return status;
}

namespace {

int formatImage(const FormatRequest& request)
{
    const std::string& image = request.image;
    const bool diskette = request.diskette;
    // Prepare the file. What is there now decides how: a DiskCopy image is
    // never resized (that would break its header), and a file whose
    // DiskCopy header does not fit it is left alone.
    lastError = errNone;
    clearDrives();
    closeImageDrives();
    bool existingDiskCopy = false;
    uint64_t existingBytes = 0;
    std::string problem;
    if (std::filesystem::exists(image)) {
        const int probe = openImageDrive(image.c_str(), false);
        problem = imageOpenProblem();
        existingDiskCopy = probe >= 0 && driveTable[probe].kind == DriveKind::diskCopyImage;
        if (probe >= 0) existingBytes = imageDriveBytes(probe);
        closeImageDrives();
        clearDrives();
        lastError = errNone;
    }
    if (!problem.empty() && !request.dc42) {
        std::fprintf(stderr, "%s: %s\n", image.c_str(), problem.c_str());
        return 1;
    }
    if (request.dc42) {
        if (!createDiskCopyImage(image.c_str(), newVolumeName, disketteSectors * 512)) return failWithError(image.c_str());
    } else if (existingDiskCopy) {
        // Formatted in place, at the size its header gives.
        if (request.sizeGiven) {
            std::fprintf(stderr, "%s: a DiskCopy 4.2 image keeps its size; --size is for raw images\n", image.c_str());
            return 1;
        }
        if (diskette && existingBytes != disketteBytes) {
            std::fprintf(stderr, "%s: not a 1.44 MB diskette image\n", image.c_str());
            return 1;
        }
    } else if (diskette) {
        if (!sizeImageFile(image, disketteBytes)) return 1;
    } else if (request.sizeGiven) {
        if (!sizeImageFile(image, request.bytes)) return 1;
    }

    const int drive = openImage(image, true, request.sectorSize);
    if (drive < 0) return 1;
    if (diskette && !useDisketteFormatter(drive)) {
        std::fprintf(stderr, "%s: not a 1.44 MB diskette image\n", image.c_str());
        return 1;
    }
    if (!diskette && imageDriveBytes(drive) % request.sectorSize != 0)
        return failUsage("format", "the image size is not a multiple of the sector size");
    if (request.bare) {
        if (imageDriveBytes(drive) < uint64_t{minimumBareUnits} * 512) {
            std::fprintf(stderr, "%s: a volume without a partition map needs at least 400K\n", image.c_str());
            return 1;
        }
        driveTable[drive].format = formatBareMedium;
    }

    // The command line already said yes to the confirmations.
    headless::reset();
    headless::scriptedAnswers = diskette ? std::vector<int>{uiAnswerOk} : std::vector<int>{uiAnswerOk, uiAnswerYes};
    const bool echo = headless::echo;
    headless::echo = false;
    const int32_t outcome = formatDrive(drive);
    headless::echo = echo;
    if (lastError != errNone) return failWithError(image.c_str());  // the drive's checks failed
    if (outcome == errNone) return 0;
    if (const char* text = formatErrorText(outcome)) std::fprintf(stderr, "%s: %s\n", image.c_str(), text);
    return 1;
}

}  // namespace

}  // namespace verrin::cli
