// verrin-cli's write commands: mkdir, put, rm, rename, settype, and the
// write-side helpers they share with translating copies (commands.h).
// Every command changes the volume only in the cache and flushes once at
// its end; a failure reverts the cache, so the image stays as it was.
// Calls the engine through the helpers of commands.h.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/batch.h"
#include "base/macroman.h"
#include "base/settings.h"
#include "base/ui.h"
#include "base/ui_headless.h"
#include "cli/commands.h"
#include "hfs/check.h"

namespace verrin::cli {

namespace {

bool isFlag(const char* arg, const char* flag) { return std::strcmp(arg, flag) == 0; }

// What every changing command's help says about --force.
constexpr const char forceHelp[] =
    "The volume is checked first: a damaged one, or one without its alternate\n"
    "master directory block, is left as it is unless --force is given; then the\n"
    "change leaves every block, node and catalog ID in use alone.";

// Writes a whole fork from a source in 32 KB appending writes.
bool fillFork(FileRef& ref, uint8_t fork, const ByteSource& source)
{
    if (!source) return true;
    std::vector<uint8_t> buffer(32768);
    WriteRequest request{fork, ref, 0, buffer.data(), 0};
    for (;;) {
        const long got = source(buffer.data(), buffer.size());
        if (got < 0) {
            setError(errPcRead);
            return false;
        }
        if (got == 0) return true;
        request.length = static_cast<uint32_t>(got);
        if (appendToFork(request) != request.length || lastError != errNone) return false;
    }
}

// Splits PATH into the folder path before its last name and that name.
bool splitLastName(const std::string& path, std::vector<std::vector<uint8_t>>& folder, std::vector<uint8_t>& name)
{
    if (!parseMacPath(path, folder) || folder.empty()) return false;
    name = folder.back();
    folder.pop_back();
    return true;
}

// Resolves a folder path from the root and makes it current.
bool enterFolderNames(const std::vector<std::vector<uint8_t>>& names, const std::string& shown)
{
    uint32_t parent = 0;
    CatalogItem item;
    const int r = resolvePath(2, names, parent, item);
    if (r < 0) return failWithError(shown.c_str()), false;
    if (r == 0) {
        std::fprintf(stderr, "%s: not found\n", shown.c_str());
        return false;
    }
    if (item.kind != cdrFolder) {
        std::fprintf(stderr, "%s: not a folder\n", shown.c_str());
        return false;
    }
    if (!enterFolder(item.id)) return failWithError(shown.c_str()), false;
    return true;
}

// The arguments that are not options; options go to `unknown`, except
// --force, which sets `force`.
std::vector<std::string> positionals(int argc, char** argv, int first, std::vector<std::string>& unknown, bool& force)
{
    std::vector<std::string> out;
    for (int i = first; i < argc; ++i) {
        const char* a = argv[i];
        if (isFlag(a, "--force"))
            force = true;
        else if (a[0] == '-' && a[1] != '\0')
            unknown.emplace_back(a);
        else
            out.emplace_back(a);
    }
    return out;
}

// rm's user interface: the batch deletion's questions are answered as the
// user's command already did, its messages go to standard error after the
// path being deleted.
std::string rmPath;
int rmMessageBox(const char* text, const char*, int buttons, int)
{
    if (buttons == uiOkCancel) return uiAnswerOk;
    if (buttons == uiYesNo || buttons == uiYesNoCancel) return uiAnswerYes;
    std::fprintf(stderr, "%s: %s\n", rmPath.c_str(), text ? text : "");
    return uiAnswerOk;
}

}  // namespace

bool macNameFromText(const std::string& text, uint8_t name[32])
{
    std::vector<uint8_t> chars;
    if (!utf8ToMacRoman(text, chars) || chars.empty() || chars.size() > 31) return false;
    std::memset(name, 0, 32);
    name[0] = static_cast<uint8_t>(chars.size());
    std::memcpy(name + 1, chars.data(), chars.size());
    return true;
}

bool fourCharCode(const std::string& text, uint8_t code[4])
{
    std::vector<uint8_t> chars;
    if (!utf8ToMacRoman(text, chars) || chars.size() != 4) return false;
    std::memcpy(code, chars.data(), 4);
    return true;
}

bool createMacFile(const FileInfo& info, const ByteSource& data, const ByteSource& rsrc)
{
    createFile(info);
    if (lastError != errNone) return false;
    FileRef ref = openFileRef(currentFolderId, info.name);
    if (lastError != errNone) return false;
    // The record's node stays pinned while the forks grow.
    const bool wasPinned = (ref.buffer->flags & bufPinned) != 0;
    pinBuffer(ref.buffer);
    const bool ok = fillFork(ref, dataFork, data) && fillFork(ref, resourceFork, rsrc);
    if (!wasPinned) unpinBuffer(ref.buffer);
    return ok;
}

bool putPcFile(const std::string& pcPath, const PutOptions& options)
{
    FileInfo info{};
    const std::string text =
        options.macName.empty() ? std::filesystem::path(pcPath).filename().string() : options.macName;
    if (!macNameFromText(text, info.name)) {
        setError(errMacCreate);
        return false;
    }
    std::memcpy(info.finderInfo, options.type, 4);
    std::memcpy(info.finderInfo + 4, options.creator, 4);
    std::FILE* f = std::fopen(pcPath.c_str(), "rb");
    if (!f) {
        setError(errPcOpen);
        return false;
    }
    const ByteSource source = [f](uint8_t* buffer, size_t max) -> long {
        const size_t got = std::fread(buffer, 1, max, f);
        if (got == 0 && std::ferror(f)) return -1;
        return static_cast<long>(got);
    };
    const bool ok = options.resourceFork ? createMacFile(info, {}, source) : createMacFile(info, source, {});
    std::fclose(f);
    return ok;
}

bool mountForWrite(const std::string& imageArg, bool force)
{
    // A missing alternate MDB asks whether to mount read-only: the command
    // line answers Yes unless --force, and says so in one line.
    headless::scriptedAnswers = {force ? uiAnswerNo : uiAnswerYes};
    const bool echo = headless::echo;
    headless::echo = false;
    const size_t asked = headless::shown.size();
    const bool mounted = mountImageArgument(imageArg, true);
    headless::echo = echo;
    headless::scriptedAnswers.clear();
    if (!mounted) return false;
    if (headless::shown.size() > asked && !force) {
        std::fprintf(stderr, "%s: not changed: the volume has no alternate master directory block, so it is used "
                             "read-only (--force changes it anyway)\n",
                     imageArg.c_str());
        return false;
    }
    const ChangeGuard guard = guardChanges(force ? DamagedVolumeAnswer::force : DamagedVolumeAnswer::refuse);
    if (!guard.writable) {
        if (lastError != errNone) return failWithError(imageArg.c_str()), false;
        if (!guard.damaged)
            std::fprintf(stderr, "%s: %s\n", imageArg.c_str(), guard.reason.c_str());
        else if (force)
            std::fprintf(stderr, "%s: not changed: the volume is damaged: %s\n", imageArg.c_str(),
                         guard.reason.c_str());
        else
            std::fprintf(stderr,
                         "%s: not changed: the volume is damaged, and a change could spread the damage: %s "
                         "('verrin-cli check' lists every problem; --force changes it anyway)\n",
                         imageArg.c_str(), guard.reason.c_str());
        return false;
    }
    if (guard.damaged)
        std::fprintf(stderr, "%s: the volume is damaged (%s); changing it anyway, leaving everything in use alone\n",
                     imageArg.c_str(), guard.reason.c_str());
    return true;
}

bool enterFolderPath(const std::string& path)
{
    std::vector<std::vector<uint8_t>> names;
    if (!parseMacPath(path, names)) {
        std::fprintf(stderr, "%s: not a valid Mac name (Mac Roman, at most 31 characters each)\n", path.c_str());
        return false;
    }
    return enterFolderNames(names, path);
}

int finishWrite(const char* context)
{
    if (lastError == errNone) flushVolume();
    if (lastError == errNone) return 0;
    const int32_t code = lastError;
    lastError = errNone;
    revertVolume();
    const int32_t revertCode = lastError;
    lastError = code;
    failWithError(context);
    if (revertCode != errNone) {
        lastError = revertCode;
        failWithError("revert");
    }
    return 1;
}

int cmdMkdir(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli mkdir [--force] IMAGE[#N] PATH\n"
                  "Creates the folder PATH (names joined by ':', from the root); the folder\n"
                  "that holds it must exist.");
        std::puts(forceHelp);
        return 0;
    }
    std::vector<std::string> unknown;
    bool force = false;
    const auto args = positionals(argc, argv, 1, unknown, force);
    if (!unknown.empty()) return failUsage("mkdir", ("unknown option " + unknown[0]).c_str());
    if (args.size() != 2) return failUsage("mkdir", "give an image and a folder path");
    std::vector<std::vector<uint8_t>> folder;
    std::vector<uint8_t> name;
    if (!splitLastName(args[1], folder, name))
        return failUsage("mkdir", "give a valid path (Mac Roman names of 1 to 31 characters)");
    if (!mountForWrite(args[0], force)) return 1;
    if (!enterFolderNames(folder, args[1])) return 1;
    createFolder(name.data());
    return finishWrite(args[1].c_str());
}

int cmdPut(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli put [--force] [--rsrc] [--type T] [--creator C] IMAGE[#N] FOLDER PCFILE...\n"
                  "       verrin-cli put -m data|text|rsrc|macbinary|binhex [--rename|--overwrite|--skip]\n"
                  "                      [--ini FILE] [--type T] [--creator C] [--force] IMAGE[#N] FOLDER PCFILE...\n"
                  "Copies PC files into FOLDER (':' or empty for the root). Each file's bytes\n"
                  "become the data fork, or the resource fork with --rsrc. T and C are\n"
                  "four-character codes (default: four question marks). The Mac name is the\n"
                  "PC file's name.\n"
                  "With -m, --ini or a collision flag the file goes through a translation\n"
                  "(default: data): text makes CR LF and LF into CR; macbinary and binhex unpack both\n"
                  "forks under the name they carry. Type and creator then come from KVOL.INI\n"
                  "and, for data, KVOL.FTM (beside the program, or FILE and the map beside it),\n"
                  "unless --type/--creator give them. A Mac name that exists is an error\n"
                  "unless --rename, --overwrite or --skip says otherwise.\n"
                  "Nothing is written unless every file is copied.");
        std::puts(forceHelp);
        return 0;
    }
    bool force = false;
    PutOptions options;
    TransferOptions translated;
    bool codesGiven = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        std::string problem;
        if (parseTransferOption(argc, argv, i, translated, problem)) {
            if (!problem.empty()) return failUsage("put", problem.c_str());
            continue;
        }
        if (isFlag(a, "--type") || isFlag(a, "--creator")) codesGiven = true;
        if (isFlag(a, "--force")) {
            force = true;
        } else if (isFlag(a, "--rsrc")) {
            options.resourceFork = true;
        } else if (isFlag(a, "--type") || isFlag(a, "--creator")) {
            if (i + 1 >= argc) return failUsage("put", (std::string(a) + " needs a value").c_str());
            uint8_t* code = isFlag(a, "--type") ? options.type : options.creator;
            if (!fourCharCode(argv[++i], code))
                return failUsage("put", (std::string(a) + " takes four Mac Roman characters").c_str());
        } else if (a[0] == '-' && a[1] != '\0') {
            return failUsage("put", (std::string("unknown option ") + a).c_str());
        } else {
            args.emplace_back(a);
        }
    }
    if (args.size() < 3) return failUsage("put", "give an image, a folder and at least one PC file");
    const bool translate =
        translated.modeGiven || translated.policy != CollisionPolicy::none || !translated.iniPath.empty();
    if (translate) {
        if (options.resourceFork) {
            if (translated.modeGiven && translated.mode != 2) return failUsage("put", "--rsrc contradicts -m");
            translated.mode = 2;
        }
        prepareTransfer(translated);
        if (codesGiven) setTranslationCodes(translated.mode, options.type, options.creator);
    }
    if (!mountForWrite(args[0], force)) return 1;
    if (!enterFolderPath(args[1])) return 1;
    const uint32_t folder = currentFolderId;
    for (size_t i = 2; i < args.size(); ++i) {
        if (!enterFolder(folder)) return finishWrite(args[i].c_str());
        if (translate) {
            putTranslated(args[i], translated);
            if (lastError != errNone) return finishWrite(args[i].c_str());
        } else if (!putPcFile(args[i], options)) {
            return finishWrite(args[i].c_str());
        }
    }
    return finishWrite(args[1].c_str());
}

int cmdRm(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli rm [-r] [--force] IMAGE[#N] PATH...\n"
                  "Deletes files and empty folders; with -r folders with everything inside\n"
                  "them, innermost first. Every path is checked before anything is deleted;\n"
                  "then the items go in the order given, as the window deletes them: the\n"
                  "volume is written every 256 items (or half second) and after each path,\n"
                  "so a failure keeps what was deleted before it.");
        std::puts(forceHelp);
        return 0;
    }
    bool recursive = false;
    bool force = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        if (isFlag(argv[i], "-r") || isFlag(argv[i], "-R"))
            recursive = true;
        else if (isFlag(argv[i], "--force"))
            force = true;
        else if (argv[i][0] == '-' && argv[i][1] != '\0')
            return failUsage("rm", (std::string("unknown option ") + argv[i]).c_str());
        else
            args.emplace_back(argv[i]);
    }
    if (args.size() < 2) return failUsage("rm", "give an image and at least one path");
    if (!mountForWrite(args[0], force)) return 1;
    struct Target {
        std::string path;
        uint32_t parent;
        CatalogItem item;
    };
    std::vector<Target> targets;
    for (size_t i = 1; i < args.size(); ++i) {
        Target t{args[i], 0, {}};
        std::vector<std::vector<uint8_t>> names;
        if (!parseMacPath(t.path, names) || names.empty()) {
            std::fprintf(stderr, "%s: not an item inside the volume\n", t.path.c_str());
            return 1;
        }
        if (!findItem(t.path, t.parent, t.item)) return 1;
        if (t.item.kind == cdrFolder && t.item.valence != 0 && !recursive) {
            std::fprintf(stderr, "%s: folder not empty (use -r)\n", t.path.c_str());
            return 1;
        }
        targets.push_back(t);
    }

    // Each path is one deletion of the Mac pane's batch command, with the
    // item selected in its folder's listing (invisible files included).
    settings.hideInvisible = 0;
    const UiOps* previous = ui;
    UiOps rmUi = *ui;
    rmUi.messageBox = rmMessageBox;
    installUi(&rmUi);
    int status = 0;
    for (const Target& t : targets) {
        rmPath = t.path;
        const int index = showMacFolder(t.parent) ? findMacEntry(t.item.name) : -1;
        if (index < 0) {
            if (lastError != errNone)
                failWithError(t.path.c_str());
            else
                std::fprintf(stderr, "%s: not found\n", t.path.c_str());
            status = 1;
            break;
        }
        const int selection[] = {index};
        if (deleteMacItems(selection).error != errNone) {
            status = 1;
            break;
        }
    }
    installUi(previous);
    return status;
}

int cmdRename(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli rename [--force] IMAGE[#N] PATH NEWNAME\n"
                  "Renames a file or folder within its folder.");
        std::puts(forceHelp);
        return 0;
    }
    std::vector<std::string> unknown;
    bool force = false;
    const auto args = positionals(argc, argv, 1, unknown, force);
    if (!unknown.empty()) return failUsage("rename", ("unknown option " + unknown[0]).c_str());
    if (args.size() != 3) return failUsage("rename", "give an image, a path and a new name");
    uint8_t newName[32];
    if (!macNameFromText(args[2], newName) || std::memchr(newName + 1, ':', newName[0]))
        return failUsage("rename", "the new name must be 1 to 31 Mac Roman characters without ':'");
    std::vector<std::vector<uint8_t>> names;
    if (!parseMacPath(args[1], names) || names.empty())
        return failUsage("rename", "give the path of an item inside the volume");
    if (!mountForWrite(args[0], force)) return 1;
    uint32_t parent = 0;
    CatalogItem item;
    if (!findItem(args[1], parent, item)) return 1;
    if (enterFolder(parent)) renameItem(item.name, newName);
    return finishWrite(args[1].c_str());
}

int cmdSettype(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli settype [--force] IMAGE[#N] PATH TYPE CREATOR\n"
                  "Sets a file's type and creator (four characters each).");
        std::puts(forceHelp);
        return 0;
    }
    std::vector<std::string> unknown;
    bool force = false;
    const auto args = positionals(argc, argv, 1, unknown, force);
    if (!unknown.empty()) return failUsage("settype", ("unknown option " + unknown[0]).c_str());
    if (args.size() != 4) return failUsage("settype", "give an image, a path, a type and a creator");
    uint8_t type[4], creator[4];
    if (!fourCharCode(args[2], type) || !fourCharCode(args[3], creator))
        return failUsage("settype", "type and creator take four Mac Roman characters each");
    if (!mountForWrite(args[0], force)) return 1;
    uint32_t parent = 0;
    CatalogItem item;
    if (!findItem(args[1], parent, item)) return 1;
    if (item.kind != cdrFile) {
        std::fprintf(stderr, "%s: not a file\n", args[1].c_str());
        return 1;
    }
    if (enterFolder(parent)) setTypeCreator(item.name, type, creator);
    return finishWrite(args[1].c_str());
}

}  // namespace verrin::cli
