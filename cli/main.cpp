// verrin-cli: the command-line companion of Verrin. Dispatches the first
// argument to a command of the table below; every command takes --help.
// Messages and questions go through the headless user interface, echoed to
// standard error. Calls the commands, the engine's closeVolume and the
// image drives.
#include <cstdio>
#include <cstring>

#include "base/rawfile.h"
#include "base/ui_headless.h"
#include "cli/commands.h"
#include "devices/image_drive.h"
#include "hfs/verdict.h"

namespace {

using verrin::cli::Command;

constexpr Command commands[] = {
    {"volumes", verrin::cli::cmdVolumes, "list the HFS volumes of an image"},
    {"ls", verrin::cli::cmdLs, "list a folder of a volume"},
    {"cat", verrin::cli::cmdCat, "write one fork of a file to standard output"},
    {"info", verrin::cli::cmdInfo, "show a volume's name, sizes, counts and free space"},
    {"get", verrin::cli::cmdGet, "copy Mac files into a PC directory through a translation"},
    {"mkdir", verrin::cli::cmdMkdir, "create a folder"},
    {"put", verrin::cli::cmdPut, "copy PC files into a folder through a translation"},
    {"rm", verrin::cli::cmdRm, "delete files and (empty, or with -r any) folders"},
    {"rename", verrin::cli::cmdRename, "rename a file or folder"},
    {"mv", verrin::cli::cmdMv, "move files and folders into another folder"},
    {"settype", verrin::cli::cmdSettype, "set a file's type and creator"},
    {"attrib", verrin::cli::cmdAttrib, "set or clear the invisible and locked flags"},
    {"check", verrin::cli::cmdCheck, "check a volume's consistency and list every problem found"},
    {"format", verrin::cli::cmdFormat, "make a new HFS volume on an image (partitioned or 1.44 MB diskette)"},
    {"convert", verrin::cli::cmdConvert, "convert between DiskCopy 4.2 and raw diskette images"},
};

void usage(std::FILE* out)
{
    std::fputs("usage: verrin-cli COMMAND [OPTIONS] ...\n       verrin-cli --version\n\nCommands:\n", out);
    for (const Command& c : commands) std::fprintf(out, "  %-9s %s\n", c.name, c.summary);
    std::fputs("\nIMAGE[#N] names volume N (from 1) of a disk image; PATH uses ':' between names.\n"
               "'verrin-cli COMMAND --help' describes a command.\n",
               out);
}

}  // namespace

int main(int argc, char** argv)
{
    verrin::headless::echo = true;
    verrin::cli::installTerminalUi();
    // A volume found sound is not checked again before a change until
    // something else changes it.
    verrin::verdictFolder = verrin::userCacheFolder();
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "help") == 0) {
        usage(stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::puts("verrin-cli " VERRIN_VERSION);
        return 0;
    }
    for (const Command& c : commands) {
        if (std::strcmp(argv[1], c.name) != 0) continue;
        int rc = c.run(argc - 1, argv + 1);
        verrin::closeVolume();
        verrin::closeImageDrives();
        // Ctrl-C: whatever was done before it stays; the status says so.
        if (verrin::cli::wasInterrupted()) {
            std::fputs("verrin-cli: cancelled\n", stderr);
            rc = 130;
        }
        return rc;
    }
    std::fprintf(stderr, "verrin-cli: unknown command '%s'\n", argv[1]);
    usage(stderr);
    return 2;
}
