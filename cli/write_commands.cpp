// verrin-cli's write commands: mkdir, rm, rename, settype, and the
// write-side helpers they share with the copies (commands.h).
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

const char forceHelp[] =
    "The volume is checked first: a damaged one, or one without its alternate\n"
    "master directory block, is left as it is unless --force is given; then the\n"
    "change leaves every block, node and catalog ID in use alone.";

namespace {

bool isFlag(const char* arg, const char* flag) { return std::strcmp(arg, flag) == 0; }

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
