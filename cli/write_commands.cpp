// verrin-cli's write commands: mkdir, rm, rename, mv, settype, attrib, and
// the write-side helpers they share with the copies (commands.h).
// Every command but rm changes the volume only in the cache and flushes
// once at its end; a failure reverts the cache, so the image stays as it
// was. rm is the window's batch deletion, which writes as it goes.
// Calls the engine through the helpers of commands.h, and the batch
// deletion.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/batch.h"
#include "base/macroman.h"
#include "base/settings.h"
#include "base/ui.h"
#include "cli/commands.h"
#include "hfs/check.h"
#include "hfs/drive.h"
#include "hfs/hfs.h"

namespace verrin::cli {

const char forceHelp[] =
    "The volume is checked first: a damaged one, or one without its alternate\n"
    "master directory block, is left as it is unless --force is given; then the\n"
    "change leaves every block, node and catalog ID in use alone.";

namespace {

// Resolves a folder path from the root and makes it current.
bool enterFolderNames(const std::vector<std::vector<uint8_t>>& names, const std::string& shown)
{
    uint32_t parent = 0;
    CatalogItem item;
    if (!findNames(names, shown, parent, item)) return false;
    if (item.kind != cdrFolder) {
        std::fprintf(stderr, "%s: not a folder\n", shown.c_str());
        return false;
    }
    if (!enterFolder(item.id)) return failWithError(shown.c_str()), false;
    return true;
}

// The item at PATH, which must name something inside the volume (not the
// root); its folder becomes current.
bool enterItemFolder(const std::string& path, CatalogItem& item, uint32_t& parent)
{
    std::vector<std::vector<uint8_t>> names;
    if (!volumePathNames(path, names)) return false;
    if (names.empty()) {
        std::fprintf(stderr, "%s: names the volume itself, not an item inside it\n", path.c_str());
        return false;
    }
    if (!findNames(names, path, parent, item)) return false;
    if (!enterFolder(parent)) return failWithError(path.c_str()), false;
    return true;
}

// rm's user interface: the batch deletion's questions are answered as the
// user's command already did; its messages are held until the deletion
// ends, when the path they concern is known, and then go to standard error
// after that path.
std::vector<std::string> rmMessages;
int rmMessageBox(const char* text, const char*, int buttons, int)
{
    if (buttons == uiOkCancel) return uiAnswerOk;
    if (buttons == uiYesNo || buttons == uiYesNoCancel) return uiAnswerYes;
    rmMessages.emplace_back(text ? text : "");
    return uiAnswerOk;
}

// Leaves a command that changed nothing: the cache is reverted and 1 is
// the exit status.
int failUnchanged()
{
    revertVolume();
    lastError = errNone;
    return 1;
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
    if (!mountImageArgument(imageArg, force ? MountUse::forcedWriting : MountUse::writing)) return false;
    if (driveTable[currentDrive].flags & driveReadOnly) {
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
    return volumePathNames(path, names) && enterFolderNames(names, path);
}

int cmdMkdir(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli mkdir [-p] [--force] IMAGE[#N] PATH...\n"
                  "Creates the folder PATH (names joined by ':', from the root); the folder\n"
                  "that holds it must exist. With -p the folders on the way are made too,\n"
                  "and a folder that exists already is no error.");
        std::puts(forceHelp);
        return 0;
    }
    const Arguments a = splitArguments(argc, argv, {"-p", "--force"});
    if (!a.unknown.empty()) return failUsage("mkdir", ("unknown option " + a.unknown).c_str());
    if (a.positional.size() < 2) return failUsage("mkdir", "give an image and a folder path");
    const bool parents = a.has("-p");
    if (!mountForWrite(a.positional[0], a.has("--force"))) return 1;
    for (size_t k = 1; k < a.positional.size(); ++k) {
        const std::string& path = a.positional[k];
        std::vector<std::vector<uint8_t>> names;
        if (!volumePathNames(path, names)) return failUnchanged();
        if (names.empty()) {
            if (parents) continue;
            std::fprintf(stderr, "%s: names the volume itself\n", path.c_str());
            return failUnchanged();
        }
        uint32_t folder = 2;
        for (size_t i = 0; i < names.size(); ++i) {
            const bool last = i + 1 == names.size();
            CatalogItem item;
            const int r = lookupCatalogItem(folder, names[i].data(), item);
            if (r < 0) return finishWrite(path.c_str());
            if (r == 1 && item.kind == cdrFolder && (parents || !last)) {
                folder = item.id;
                continue;
            }
            if (r == 1) {
                setError(errNameExists);
                return finishWrite(path.c_str());
            }
            if (!last && !parents) {
                std::fprintf(stderr, "%s: the folder %s does not exist (-p makes it)\n", path.c_str(),
                             itemName(names[i].data()).c_str());
                return failUnchanged();
            }
            if (!enterFolder(folder)) return finishWrite(path.c_str());
            createFolder(names[i].data());
            if (lastError == errNone && lookupCatalogItem(folder, names[i].data(), item) != 1 &&
                lastError == errNone)
                setError(errBadNode);
            if (lastError != errNone) return finishWrite(path.c_str());
            folder = item.id;
        }
    }
    return finishWrite(a.positional[1].c_str());
}

int cmdRm(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli rm [-r] [--force] IMAGE[#N] PATH...\n"
                  "Deletes files and empty folders; with -r folders with everything inside\n"
                  "them, innermost first. Every path is checked before anything is deleted;\n"
                  "then the items go in the order given, as the window deletes them: the\n"
                  "volume is written every half second (or 4 MB of changed sectors) and at\n"
                  "the end, so a failure keeps what was deleted before it.");
        std::puts(forceHelp);
        return 0;
    }
    const Arguments a = splitArguments(argc, argv, {"-r", "-R", "--force"});
    if (!a.unknown.empty()) return failUsage("rm", ("unknown option " + a.unknown).c_str());
    if (a.positional.size() < 2) return failUsage("rm", "give an image and at least one path");
    const bool recursive = a.has("-r") || a.has("-R");
    if (!mountForWrite(a.positional[0], a.has("--force"))) return 1;
    struct Target {
        std::string path;
        uint32_t parent;
        CatalogItem item;
    };
    std::vector<Target> targets;
    for (size_t i = 1; i < a.positional.size(); ++i) {
        Target t{a.positional[i], 0, {}};
        if (!enterItemFolder(t.path, t.item, t.parent)) return 1;
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
    size_t next = 0;
    while (status == 0 && next < targets.size()) {
        // The paths that follow one another in one folder are one selection
        // of its listing, deleted by one command: listed and committed once,
        // not once per path. A path met twice, or inside a folder deleted
        // before it, ends the selection and is not found after it.
        const Target& first = targets[next];
        std::vector<int> selection;
        if (showMacFolder(first.parent)) {
            for (size_t i = next; i < targets.size() && targets[i].parent == first.parent; ++i) {
                const int index = findMacEntry(targets[i].item.name);
                if (index < 0 || std::find(selection.begin(), selection.end(), index) != selection.end()) break;
                selection.push_back(index);
            }
        }
        if (selection.empty()) {
            if (lastError != errNone)
                failWithError(first.path.c_str());
            else
                std::fprintf(stderr, "%s: not found\n", first.path.c_str());
            status = 1;
            break;
        }
        const size_t end = next + selection.size();
        rmMessages.clear();
        if (deleteMacItems(selection).error != errNone) status = 1;
        if (!rmMessages.empty()) {
            // Items go in order and a failure stops the deletion, so the
            // first path still listed is the one the messages concern.
            size_t failed = next;
            while (failed + 1 < end && findMacEntry(targets[failed].item.name) < 0) ++failed;
            for (const std::string& text : rmMessages)
                std::fprintf(stderr, "%s: %s\n", targets[failed].path.c_str(), text.c_str());
        }
        next = end;
    }
    installUi(previous);
    return status;
}

int cmdRename(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli rename [--force] IMAGE[#N] PATH NEWNAME\n"
                  "Renames a file or folder within its folder ('mv' moves it to another).");
        std::puts(forceHelp);
        return 0;
    }
    const Arguments a = splitArguments(argc, argv, {"--force"});
    if (!a.unknown.empty()) return failUsage("rename", ("unknown option " + a.unknown).c_str());
    if (a.positional.size() != 3) return failUsage("rename", "give an image, a path and a new name");
    const std::string problem = macNameProblem(a.positional[2]);
    if (!problem.empty()) {
        std::fprintf(stderr, "%s: %s\n", a.positional[2].c_str(), problem.c_str());
        return 1;
    }
    uint8_t newName[32];
    macNameFromText(a.positional[2], newName);
    if (!mountForWrite(a.positional[0], a.has("--force"))) return 1;
    uint32_t parent = 0;
    CatalogItem item;
    if (!enterItemFolder(a.positional[1], item, parent)) return failUnchanged();
    renameItem(item.name, newName);
    return finishWrite(a.positional[1].c_str());
}

int cmdMv(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli mv [--force] IMAGE[#N] PATH... FOLDER\n"
                  "Moves files and folders (with everything inside) into FOLDER, keeping\n"
                  "their names. Nothing is written unless every item is moved.");
        std::puts(forceHelp);
        return 0;
    }
    const Arguments a = splitArguments(argc, argv, {"--force"});
    if (!a.unknown.empty()) return failUsage("mv", ("unknown option " + a.unknown).c_str());
    if (a.positional.size() < 3) return failUsage("mv", "give an image, the items to move and a folder");
    if (!mountForWrite(a.positional[0], a.has("--force"))) return 1;
    const std::string& targetPath = a.positional.back();
    if (!enterFolderPath(targetPath)) return failUnchanged();
    const uint32_t target = currentFolderId;
    for (size_t i = 1; i + 1 < a.positional.size(); ++i) {
        const std::string& path = a.positional[i];
        uint32_t parent = 0;
        CatalogItem item;
        if (!enterItemFolder(path, item, parent)) return failUnchanged();
        moveItem(item.name, target);
        if (lastError == errNameExists) {
            std::fprintf(stderr, "%s: %s already holds an item of that name\n", path.c_str(), targetPath.c_str());
            return failUnchanged();
        }
        if (lastError == errNotSupported) {
            std::fprintf(stderr, "%s: a folder cannot go into itself or a folder inside it\n", path.c_str());
            return failUnchanged();
        }
        if (lastError != errNone) return finishWrite(path.c_str());
    }
    return finishWrite(targetPath.c_str());
}

int cmdSettype(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli settype [--force] IMAGE[#N] PATH TYPE CREATOR\n"
                  "Sets a file's type and creator (four characters each).");
        std::puts(forceHelp);
        return 0;
    }
    const Arguments a = splitArguments(argc, argv, {"--force"});
    if (!a.unknown.empty()) return failUsage("settype", ("unknown option " + a.unknown).c_str());
    if (a.positional.size() != 4) return failUsage("settype", "give an image, a path, a type and a creator");
    uint8_t type[4], creator[4];
    if (!fourCharCode(a.positional[2], type) || !fourCharCode(a.positional[3], creator))
        return failUsage("settype", "type and creator take four Mac Roman characters each");
    if (!mountForWrite(a.positional[0], a.has("--force"))) return 1;
    uint32_t parent = 0;
    CatalogItem item;
    if (!enterItemFolder(a.positional[1], item, parent)) return failUnchanged();
    if (item.kind != cdrFile) {
        std::fprintf(stderr, "%s: not a file\n", a.positional[1].c_str());
        return failUnchanged();
    }
    setTypeCreator(item.name, type, creator);
    return finishWrite(a.positional[1].c_str());
}

int cmdAttrib(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli attrib [+i|-i] [+l|-l] [--force] IMAGE[#N] PATH...\n"
                  "Sets (+) or clears (-) the Finder's invisible flag (i) of files and\n"
                  "folders and the locked flag (l) of files. Other flags stay as they are.");
        std::puts(forceHelp);
        return 0;
    }
    AttributeChange change;
    bool force = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "+i" || arg == "-i")
            change.invisible = arg[0] == '+';
        else if (arg == "+l" || arg == "-l")
            change.locked = arg[0] == '+';
        else if (arg == "--force")
            force = true;
        else if (arg.size() > 1 && arg[0] == '-')
            return failUsage("attrib", ("unknown option " + arg).c_str());
        else
            args.push_back(arg);
    }
    if (change.invisible < 0 && change.locked < 0) return failUsage("attrib", "give +i, -i, +l or -l");
    if (args.size() < 2) return failUsage("attrib", "give an image and at least one path");
    if (!mountForWrite(args[0], force)) return 1;
    for (size_t i = 1; i < args.size(); ++i) {
        uint32_t parent = 0;
        CatalogItem item;
        if (!enterItemFolder(args[i], item, parent)) return failUnchanged();
        setItemAttributes(item.name, change);
        if (lastError == errNotSupported) {
            std::fprintf(stderr, "%s: a folder has no locked flag\n", args[i].c_str());
            return failUnchanged();
        }
        if (lastError != errNone) return finishWrite(args[i].c_str());
    }
    return finishWrite(args[1].c_str());
}

}  // namespace verrin::cli
