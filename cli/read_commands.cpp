// verrin-cli's read commands: volumes, ls, cat, info.
// Calls the engine through the helpers of commands.h.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "cli/commands.h"

namespace verrin::cli {

namespace {

bool isFlag(const char* arg, const char* flag) { return std::strcmp(arg, flag) == 0; }

// Positional arguments after the command name; flags are handled by caller.
std::vector<std::string> positionals(int argc, char** argv, std::initializer_list<const char*> knownFlags,
                                     std::vector<std::string>& unknown)
{
    std::vector<std::string> out;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        bool known = false;
        for (const char* f : knownFlags) known = known || isFlag(a, f);
        if (known) continue;
        if (a[0] == '-' && a[1] != '\0')
            unknown.emplace_back(a);
        else
            out.emplace_back(a);
    }
    return out;
}

bool hasFlag(int argc, char** argv, const char* flag)
{
    for (int i = 1; i < argc; ++i)
        if (isFlag(argv[i], flag)) return true;
    return false;
}

}  // namespace

int cmdVolumes(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli volumes [--json] IMAGE\n"
                  "Lists every HFS volume found on the image, in discovery order:\n"
                  "index, start sector, length in sectors, name.");
        return 0;
    }
    std::vector<std::string> unknown;
    const auto args = positionals(argc, argv, {"--json"}, unknown);
    if (!unknown.empty()) return failUsage("volumes", ("unknown option " + unknown[0]).c_str());
    if (args.size() != 1) return failUsage("volumes", "give one image");
    const bool json = hasFlag(argc, argv, "--json");
    if (!openDrive(args[0], false)) return 1;
    if (json) std::fputs("[", stdout);
    for (int i = 0; i < volumeCount; ++i) {
        const VolumeEntry& v = volumeList[i];
        if (json)
            std::printf("%s{\"index\": %d, \"start\": %u, \"sectors\": %u, \"name\": %s}", i ? ", " : "", i + 1,
                        v.start, v.sectors, jsonString(itemName(v.name)).c_str());
        else
            std::printf("%d\t%u\t%u\t%s\n", i + 1, v.start, v.sectors, itemName(v.name).c_str());
    }
    if (json) std::puts("]");
    return 0;
}

int cmdLs(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli ls [-l] [--json] IMAGE[#N] [PATH]\n"
                  "Lists a folder's items, invisible ones included. PATH uses ':' between\n"
                  "names and is relative to the root folder (empty: the root). -l adds kind,\n"
                  "type/creator, data and resource fork sizes and the modification date.");
        return 0;
    }
    std::vector<std::string> unknown;
    const auto args = positionals(argc, argv, {"-l", "--json"}, unknown);
    if (!unknown.empty()) return failUsage("ls", ("unknown option " + unknown[0]).c_str());
    if (args.empty() || args.size() > 2) return failUsage("ls", "give an image and at most one path");
    const bool json = hasFlag(argc, argv, "--json");
    const bool longForm = hasFlag(argc, argv, "-l");
    if (!mountImageArgument(args[0], false)) return 1;

    uint32_t parent = 0;
    CatalogItem folder;
    if (!findItem(args.size() > 1 ? args[1] : "", parent, folder)) return 1;
    std::vector<CatalogItem> items;
    if (folder.kind != cdrFolder) {
        items.push_back(folder);  // a file lists as itself
    } else if (!listFolder(folder.id, items)) {
        return failWithError(args.size() > 1 ? args[1].c_str() : "");
    }

    if (json) std::fputs("[", stdout);
    bool first = true;
    for (const CatalogItem& it : items) {
        const std::string name = itemName(it.name);
        const bool isFolder = it.kind == cdrFolder;
        if (json) {
            std::printf("%s{\"name\": %s, \"kind\": \"%s\", \"id\": %u, ", first ? "" : ", ",
                        jsonString(name).c_str(), isFolder ? "folder" : "file", it.id);
            if (isFolder)
                std::printf("\"items\": %u, ", it.valence);
            else
                std::printf("\"type\": %s, \"creator\": %s, \"data\": %u, \"rsrc\": %u, ",
                            jsonString(fourChars(it.finderInfo)).c_str(),
                            jsonString(fourChars(it.finderInfo + 4)).c_str(), it.dataLength, it.rsrcLength);
            std::printf("\"modified\": \"%s\"}", isoDate(it.modifyDate).c_str());
        } else if (longForm) {
            const std::string date = isoDate(it.modifyDate).replace(10, 1, " ").substr(0, 16);
            if (isFolder)
                std::printf("d  %-9s  %10u %-11s  %s  %s\n", "", it.valence, it.valence == 1 ? "item" : "items",
                            date.c_str(), name.c_str());
            else
                std::printf("f  %s/%s  %10u  %10u  %s  %s\n", fourChars(it.finderInfo).c_str(),
                            fourChars(it.finderInfo + 4).c_str(), it.dataLength, it.rsrcLength, date.c_str(),
                            name.c_str());
        } else {
            std::printf("%s%s\n", name.c_str(), isFolder ? ":" : "");
        }
        first = false;
    }
    if (json) std::puts("]");
    return 0;
}

int cmdCat(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli cat [--rsrc] IMAGE[#N] PATH\n"
                  "Writes one fork of a file to standard output: the data fork, or the\n"
                  "resource fork with --rsrc.");
        return 0;
    }
    std::vector<std::string> unknown;
    const auto args = positionals(argc, argv, {"--rsrc"}, unknown);
    if (!unknown.empty()) return failUsage("cat", ("unknown option " + unknown[0]).c_str());
    if (args.size() != 2) return failUsage("cat", "give an image and a file's path");
    const uint8_t fork = hasFlag(argc, argv, "--rsrc") ? resourceFork : dataFork;
    if (!mountImageArgument(args[0], false)) return 1;
    uint32_t parent = 0;
    CatalogItem item;
    if (!findItem(args[1], parent, item)) return 1;
    if (item.kind != cdrFile) {
        std::fprintf(stderr, "%s: is a folder\n", args[1].c_str());
        return 1;
    }
    FileRef ref = openFileRef(parent, item.name);
    if (lastError != errNone) return failWithError(args[1].c_str());
    pinBuffer(ref.buffer);
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    const uint32_t length = forkLogicalLength(ref, fork);
    std::vector<uint8_t> buffer(64 * 512);
    uint32_t position = 0;
    while (position < length) {
        const int32_t got = readFork(buffer.data(), position / 512, 64, fork, ref);
        if (got <= 0) {
            unpinBuffer(ref.buffer);
            return failWithError(args[1].c_str());
        }
        const uint32_t bytes = std::min<uint32_t>(static_cast<uint32_t>(got) * 512, length - position);
        if (std::fwrite(buffer.data(), 1, bytes, stdout) != bytes) {
            unpinBuffer(ref.buffer);
            std::fprintf(stderr, "%s\n", errorText(errPcWrite));
            return 1;
        }
        position += bytes;
    }
    unpinBuffer(ref.buffer);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int cmdInfo(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli info [--json] IMAGE[#N]\n"
                  "Shows the volume's name, allocation block size and count, free space,\n"
                  "and its file and folder counts.");
        return 0;
    }
    std::vector<std::string> unknown;
    const auto args = positionals(argc, argv, {"--json"}, unknown);
    if (!unknown.empty()) return failUsage("info", ("unknown option " + unknown[0]).c_str());
    if (args.size() != 1) return failUsage("info", "give one image");
    if (!mountImageArgument(args[0], false)) return 1;
    const VolumeInfo v = volumeInfo();
    if (hasFlag(argc, argv, "--json")) {
        std::printf("{\"name\": %s, \"blockSize\": %u, \"blocks\": %u, \"freeBlocks\": %u, \"files\": %u, "
                    "\"folders\": %u}\n",
                    jsonString(itemName(v.name)).c_str(), v.blockSize, v.blocks, v.freeBlocks, v.files, v.folders);
        return 0;
    }
    std::printf("Name:           %s\n", itemName(v.name).c_str());
    std::printf("Block size:     %u bytes\n", v.blockSize);
    std::printf("Blocks:         %u (%llu bytes)\n", v.blocks, static_cast<unsigned long long>(v.blocks) * v.blockSize);
    std::printf("Free blocks:    %u (%llu bytes)\n", v.freeBlocks,
                static_cast<unsigned long long>(v.freeBlocks) * v.blockSize);
    std::printf("Files:          %u\n", v.files);
    std::printf("Folders:        %u\n", v.folders);
    std::printf("Created:        %s\n", isoDate(v.createDate).c_str());
    std::printf("Modified:       %s\n", isoDate(v.modifyDate).c_str());
    return 0;
}

}  // namespace verrin::cli
