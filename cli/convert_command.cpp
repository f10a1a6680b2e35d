// verrin-cli convert: turns a DiskCopy 4.2 image into a raw image of its
// disk, or a raw diskette image into a DiskCopy 4.2 image. The direction
// follows the source: a file with a sound DiskCopy 4.2 header becomes raw,
// anything else is wrapped.
// Calls the DiskCopy code and the image drives (for the header check).
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "devices/dc42_drive.h"
#include "devices/image_drive.h"
#include "hfs/drive.h"

namespace verrin::cli {

int cmdConvert(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli convert SOURCE DESTINATION\n"
                  "A DiskCopy 4.2 SOURCE (.image, .dc42) is written to DESTINATION as a raw\n"
                  "image of the disk (its tag data is dropped). A raw SOURCE of 400K, 800K,\n"
                  "720K or 1440K is written as a DiskCopy 4.2 image named after its HFS\n"
                  "volume, with both checksums. DESTINATION is replaced.");
        return 0;
    }
    if (argc != 3 || argv[1][0] == '-' || argv[2][0] == '-') return failUsage("convert", "give SOURCE and DESTINATION");
    const std::string source = argv[1], destination = argv[2];
    if (source == destination) return failUsage("convert", "SOURCE and DESTINATION must differ");
    lastError = errNone;
    clearDrives();
    closeImageDrives();
    const int drive = openImage(source, false);
    if (drive < 0) return 1;
    const bool fromDiskCopy = driveTable[drive].kind == DriveKind::diskCopyImage;
    closeImageDrives();
    clearDrives();
    const bool ok = fromDiskCopy ? diskCopyToRaw(source.c_str(), destination.c_str())
                                 : rawToDiskCopy(source.c_str(), destination.c_str());
    if (!ok) {
        if (lastError == errNotSupported) {
            std::fprintf(stderr, "%s: not a diskette image (400K, 800K, 720K or 1440K)\n", source.c_str());
            lastError = errNone;
            return 1;
        }
        return failWithError(destination.c_str());
    }
    return 0;
}

}  // namespace verrin::cli
