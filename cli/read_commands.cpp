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
#include "hfs/layout.h"

namespace verrin::cli {

namespace {

struct ListOptions {
    bool longForm;
    bool json;
    bool recursive;
};

bool isInvisible(const CatalogItem& it) { return (read16(it.finderInfo + finder::flags) & finder::isInvisible) != 0; }
bool isLocked(const CatalogItem& it) { return it.kind == cdrFile && (it.fileFlags & fil::locked) != 0; }

// A listing's text, written to standard output in pieces of 64 KB or more
// rather than line by line.
struct Listing {
    std::string text;
    bool writeFailed = false;
};
constexpr size_t listingPiece = 64 * 1024;

void writeListing(Listing& out)
{
    if (!out.text.empty() && std::fwrite(out.text.data(), 1, out.text.size(), stdout) != out.text.size())
        out.writeFailed = true;
    out.text.clear();
}

// Scratch texts reused from item to item of a listing.
struct ItemTexts {
    std::string name;     // the item's name in UTF-8
    std::string escaped;  // the same as a JSON string
};

// One item as a JSON object: its path from the root (`folderPrefix`: the
// folder's path as a JSON string with its ':' and without its closing
// quote; empty for the root), kind, ID, the Finder flags word with the two
// flags it is listed by, the forks or the count of items inside, and both
// dates.
void appendJsonItem(std::string& out, const CatalogItem& it, std::string_view folderPrefix, ItemTexts& texts)
{
    const bool isFolder = it.kind == cdrFolder;
    texts.name.clear();
    appendItemName(texts.name, it.name);
    texts.escaped.clear();
    appendJsonString(texts.escaped, texts.name);
    out += "{\"name\": ";
    out += texts.escaped;
    out += ", \"path\": ";
    if (folderPrefix.empty()) {
        out += texts.escaped;
    } else {
        out += folderPrefix;
        out.append(texts.escaped, 1);
    }
    out += isFolder ? ", \"kind\": \"folder\", \"id\": " : ", \"kind\": \"file\", \"id\": ";
    appendNumber(out, it.id);
    out += ", \"flags\": ";
    appendNumber(out, read16(it.finderInfo + finder::flags));
    out += isInvisible(it) ? ", \"invisible\": true" : ", \"invisible\": false";
    out += isLocked(it) ? ", \"locked\": true" : ", \"locked\": false";
    if (isFolder) {
        out += ", \"items\": ";
        appendNumber(out, it.valence);
    } else {
        texts.name.clear();
        appendFourChars(texts.name, it.finderInfo + finder::type);
        out += ", \"type\": ";
        appendJsonString(out, texts.name);
        texts.name.clear();
        appendFourChars(texts.name, it.finderInfo + finder::creator);
        out += ", \"creator\": ";
        appendJsonString(out, texts.name);
        out += ", \"data\": ";
        appendNumber(out, it.dataLength);
        out += ", \"rsrc\": ";
        appendNumber(out, it.rsrcLength);
    }
    out += ", \"created\": \"";
    appendIsoDate(out, it.createDate);
    out += "\", \"modified\": \"";
    appendIsoDate(out, it.modifyDate);
    out += "\"}";
}

// One line of `ls -l`, as hfsutils' hls -l marks items: "d" a folder, "f" a
// file, "F" a locked file, then "i" for an invisible one.
void appendLongLine(std::string& out, const CatalogItem& it)
{
    out += it.kind == cdrFolder ? 'd' : isLocked(it) ? 'F' : 'f';
    out += isInvisible(it) ? 'i' : ' ';
    if (it.kind == cdrFolder) {
        out.append(12, ' ');
        appendNumber(out, it.valence, 10);
        out += it.valence == 1 ? " item         " : " items        ";
    } else {
        out += ' ';
        appendFourChars(out, it.finderInfo + finder::type);
        out += '/';
        appendFourChars(out, it.finderInfo + finder::creator);
        out += "  ";
        appendNumber(out, it.dataLength, 10);
        out += "  ";
        appendNumber(out, it.rsrcLength, 10);
        out += "  ";
    }
    appendIsoDate(out, it.modifyDate, ' ', false);
    out += "  ";
    appendItemName(out, it.name);
    out += '\n';
}

// Lists the items of a folder and, recursively, of the folders inside it.
// `first` tracks the JSON array's separators across the whole walk.
bool listItems(Listing& out, const std::vector<CatalogItem>& items, const std::string& folderPath,
               const ListOptions& options, bool& first, int depth)
{
    if (depth > 200) {
        setError(errBadNode);
        return false;
    }
    std::string folderPrefix;
    if (options.json && !folderPath.empty()) {
        appendJsonString(folderPrefix, folderPath + ":");
        folderPrefix.pop_back();
    }
    ItemTexts texts;
    for (const CatalogItem& it : items) {
        if (options.json) {
            if (!first) out.text += ",\n ";
            appendJsonItem(out.text, it, folderPrefix, texts);
        } else if (options.longForm) {
            appendLongLine(out.text, it);
        } else {
            appendItemName(out.text, it.name);
            out.text += it.kind == cdrFolder ? ":\n" : "\n";
        }
        first = false;
        if (out.text.size() >= listingPiece) writeListing(out);
    }
    if (!options.recursive) return true;
    for (const CatalogItem& it : items) {
        if (it.kind != cdrFolder) continue;
        const std::string path = joinPath(folderPath, itemName(it.name));
        std::vector<CatalogItem> inside;
        if (!listFolder(it.id, inside)) return false;
        if (!options.json) out.text += "\n" + path + ":\n";
        if (!listItems(out, inside, path, options, first, depth + 1)) return false;
    }
    return true;
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
    const Arguments a = splitArguments(argc, argv, {"--json"});
    if (!a.unknown.empty()) return failUsage("volumes", ("unknown option " + a.unknown).c_str());
    if (a.positional.size() != 1) return failUsage("volumes", "give one image");
    const bool json = a.has("--json");
    if (!openDrive(a.positional[0], false)) return 1;
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
        std::puts("usage: verrin-cli ls [-l] [-R] [--json] IMAGE[#N] [PATH]\n"
                  "Lists a folder's items, invisible ones included. PATH uses ':' between\n"
                  "names and is relative to the root folder (empty: the root; it may start\n"
                  "with the volume's name). -l adds the kind (d folder, f file, F locked\n"
                  "file, then i for an invisible item), type/creator, data and resource fork\n"
                  "sizes and the modification date. -R lists the folders inside as well.\n"
                  "--json gives every item with its path, Finder flags, forks and both dates.");
        return 0;
    }
    const Arguments a = splitArguments(argc, argv, {"-l", "-R", "--json"});
    if (!a.unknown.empty()) return failUsage("ls", ("unknown option " + a.unknown).c_str());
    const std::vector<std::string>& args = a.positional;
    if (args.empty() || args.size() > 2) return failUsage("ls", "give an image and at most one path");
    const ListOptions options{a.has("-l"), a.has("--json"), a.has("-R")};
    if (!mountImageArgument(args[0], MountUse::reading)) return 1;

    const std::string shown = args.size() > 1 ? args[1] : "";
    uint32_t parent = 0;
    CatalogItem folder;
    if (!findItem(shown, parent, folder)) return 1;
    // The listed items' paths start with the folder's (a file lists as
    // itself, in its folder).
    std::vector<std::vector<uint8_t>> names;
    volumePathNames(shown, names);
    std::vector<CatalogItem> items;
    if (folder.kind != cdrFolder) {
        items.push_back(folder);
        names.pop_back();
    } else {
        items.reserve(folder.valence);  // a 16-bit count: bounded whatever the volume says
        if (!listFolder(folder.id, items)) return failWithError(shown.c_str());
    }
    std::string folderPath;
    for (const auto& n : names) folderPath = joinPath(folderPath, itemName(n.data()));
    Listing out;
    if (options.json) out.text += "[";
    bool first = true;
    const bool listed = listItems(out, items, folderPath, options, first, 0);
    if (listed && options.json) out.text += "]\n";
    writeListing(out);
    if (!listed) return failWithError(shown.c_str());
    if (out.writeFailed || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "%s\n", errorText(errPcWrite));
        return 1;
    }
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
    const Arguments a = splitArguments(argc, argv, {"--rsrc"});
    if (!a.unknown.empty()) return failUsage("cat", ("unknown option " + a.unknown).c_str());
    const std::vector<std::string>& args = a.positional;
    if (args.size() != 2) return failUsage("cat", "give an image and a file's path");
    const uint8_t fork = a.has("--rsrc") ? resourceFork : dataFork;
    if (!mountImageArgument(args[0], MountUse::reading)) return 1;
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
                  "its file and folder counts and its creation and modification dates.");
        return 0;
    }
    const Arguments a = splitArguments(argc, argv, {"--json"});
    if (!a.unknown.empty()) return failUsage("info", ("unknown option " + a.unknown).c_str());
    if (a.positional.size() != 1) return failUsage("info", "give one image");
    if (!mountImageArgument(a.positional[0], MountUse::reading)) return 1;
    const VolumeInfo v = volumeInfo();
    if (a.has("--json")) {
        std::printf("{\"name\": %s, \"blockSize\": %u, \"blocks\": %u, \"freeBlocks\": %u, \"files\": %u, "
                    "\"folders\": %u, \"created\": \"%s\", \"modified\": \"%s\"}\n",
                    jsonString(itemName(v.name)).c_str(), v.blockSize, v.blocks, v.freeBlocks, v.files, v.folders,
                    isoDate(v.createDate).c_str(), isoDate(v.modifyDate).c_str());
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
