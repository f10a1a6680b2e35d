// verrin-cli's copy commands through the five translations: `get` copies
// Mac files into a PC directory; `put -m` (cli/write_commands.cpp) the
// other way. Both load KVOL.INI and KVOL.FTM from the executable's folder
// or from --ini, and answer name clashes by a policy given on the command
// line instead of the collision dialogs.
// Calls the engine, the translations and their table, the settings, the
// name mapping, the PC file seam and the headless user interface.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#else
#include <climits>
#include <unistd.h>
#endif

#include "app/batch.h"
#include "app/panes.h"
#include "base/settings.h"
#include "base/ui_headless.h"
#include "cli/commands.h"
#include "hfs/drive.h"
#include "transfer/names.h"
#include "transfer/pcfile.h"
#include "transfer/translation_table.h"
#include "transfer/translations.h"

namespace verrin::cli {

namespace {

CollisionPolicy activePolicy = CollisionPolicy::none;
UiOps policyUi;

// The folder of the running executable, with a trailing separator; empty
// when it cannot be found.
std::string executableFolder()
{
#ifdef _WIN32
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::string p(path, n);
    const size_t cut = p.find_last_of("\\/");
#else
    char path[PATH_MAX + 1] = {};
    const ssize_t n = readlink("/proc/self/exe", path, PATH_MAX);
    if (n <= 0) return {};
    std::string p(path, static_cast<size_t>(n));
    const size_t cut = p.find_last_of('/');
#endif
    return cut == std::string::npos ? std::string() : p.substr(0, cut + 1);
}

// The collision dialogs, answered by the policy. A Mac clash under
// --rename takes the first of the automatic PC renaming's candidates that
// is free in the current Mac folder.
int policyAskNewName(bool mac, const char* name, char* newName, int newNameSize)
{
    switch (activePolicy) {
    case CollisionPolicy::overwrite:
        return collisionOverwrite;
    case CollisionPolicy::skip:
        std::fprintf(stderr, "%s: exists, skipped\n", pcHostName(name).c_str());
        return collisionSkip;
    case CollisionPolicy::rename:
        if (mac) {
            for (const std::string& candidate : autoRenameCandidates(name)) {
                uint8_t macName[32] = {};
                pcNameToMac(macName, candidate.c_str());
                CatalogItem item{};
                const int found = lookupCatalogItem(currentFolderId, macName, item);
                if (found < 0) return collisionCancel;
                if (found == 0 && static_cast<int>(candidate.size()) < newNameSize) {
                    std::memcpy(newName, candidate.c_str(), candidate.size() + 1);
                    return collisionOk;
                }
            }
        }
        std::fprintf(stderr, "%s: exists, and no free name was found for it\n", pcHostName(name).c_str());
        return collisionCancel;
    case CollisionPolicy::none:
        break;
    }
    std::fprintf(stderr, "%s: exists (use --rename, --overwrite or --skip)\n", pcHostName(name).c_str());
    return collisionCancel;
}

// A PC path of the command line: the directory it names its file in, and
// the file's name there.
struct PcArgument {
    std::filesystem::path::string_type directory;
    std::filesystem::path::string_type name;
};

// A name of a PcArgument in the system's narrow spelling (a copy where the
// system's paths are narrow already).
template <typename Name> std::string narrowName(const Name& name)
{
    if constexpr (std::is_same_v<Name, std::string>)
        return name;
    else
        return std::filesystem::path(name).string();
}

PcArgument splitPcArgument(const std::string& text)
{
    const std::filesystem::path path(text);
    return {path.has_parent_path() ? path.parent_path().native() : std::filesystem::path(".").native(),
            path.filename().native()};
}

// The listing of a directory of PC paths (relative to `home`, where it
// leaves the current directory); empty when the directory cannot be entered
// or read.
std::vector<PcDirEntry> listPcDirectory(const std::filesystem::path& home,
                                        const std::filesystem::path::string_type& directory)
{
    std::vector<PcDirEntry> listed;
    std::error_code ec;
    std::filesystem::current_path(home, ec);
    std::filesystem::current_path(directory, ec);
    if (!ec) pcListDirectory(listed);
    std::filesystem::current_path(home, ec);
    return listed;
}

// A PC file named on the command line must be a file: says what it is
// otherwise.
bool isPcFileArgument(const std::string& path)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (std::filesystem::is_regular_file(status)) return true;
    if (std::filesystem::is_directory(status))
        std::fprintf(stderr, "%s: is a directory, not a file (put -r copies a directory tree)\n", path.c_str());
    else if (std::filesystem::exists(status))
        std::fprintf(stderr, "%s: not a regular file\n", path.c_str());
    else
        std::fprintf(stderr, "%s: no such file\n", path.c_str());
    return false;
}

bool parseMode(const char* text, TranslationMode& mode)
{
    struct Row {
        const char* name;
        TranslationMode mode;
    };
    static constexpr Row rows[] = {
        {"data", DataFile},      {"text", TextFile},         {"rsrc", ResourceFile}, {"resource", ResourceFile},
        {"macbinary", MacBinary}, {"binhex", BinHex},        {"hqx", BinHex},
    };
    for (const Row& r : rows)
        if (std::strcmp(text, r.name) == 0) {
            mode = r.mode;
            return true;
        }
    return false;
}

}  // namespace

bool parseTransferOption(int argc, char** argv, int& i, TransferOptions& options, std::string& problem)
{
    const char* a = argv[i];
    if (std::strcmp(a, "-m") == 0 || std::strcmp(a, "--mode") == 0) {
        if (i + 1 >= argc) {
            problem = "-m needs a translation";
            return true;
        }
        TranslationMode mode = DataFile;
        if (!parseMode(argv[++i], mode))
            problem = std::string("unknown translation ") + argv[i] + " (data, text, rsrc, macbinary, binhex)";
        options.mode = mode;
        options.modeGiven = true;
        return true;
    }
    if (std::strcmp(a, "--ini") == 0) {
        if (i + 1 >= argc)
            problem = "--ini needs a file";
        else
            options.iniPath = argv[++i];
        return true;
    }
    CollisionPolicy policy = CollisionPolicy::none;
    if (std::strcmp(a, "--rename") == 0) policy = CollisionPolicy::rename;
    if (std::strcmp(a, "--overwrite") == 0) policy = CollisionPolicy::overwrite;
    if (std::strcmp(a, "--skip") == 0) policy = CollisionPolicy::skip;
    if (policy == CollisionPolicy::none) return false;
    if (options.policy != CollisionPolicy::none && options.policy != policy)
        problem = "give only one of --rename, --overwrite and --skip";
    options.policy = policy;
    return true;
}

bool prepareTransfer(const TransferOptions& options)
{
    std::error_code ec;
    if (!options.iniPath.empty() && !std::filesystem::is_regular_file(options.iniPath, ec)) {
        std::fprintf(stderr, "%s: no such settings file\n", options.iniPath.c_str());
        return false;
    }
    const std::string ini = options.iniPath.empty() ? executableFolder() + "KVOL.INI" : options.iniPath;
    // The settings may name a working directory for the PC pane; the
    // command line keeps the directory it was started in.
    const std::filesystem::path home = std::filesystem::current_path(ec);
    loadSettings(ini);
    setTransferLimit(static_cast<uint32_t>(settings.maxIOBufSzK));
    if (!home.empty()) std::filesystem::current_path(home, ec);
    loadTranslationTable();
    installTranslations();
    if (options.policy == CollisionPolicy::rename) settings.autoRename = 1;
    activePolicy = options.policy;
    policyUi = *ui;
    policyUi.askNewName = policyAskNewName;
    installUi(&policyUi);
    return true;
}

void setTranslationCodes(int mode, const uint8_t type[4], const uint8_t creator[4])
{
    const auto m = static_cast<TranslationMode>(mode);
    setPcToMacDefault(m, macCodeToPc(type, 4).c_str(), macCodeToPc(creator, 4).c_str());
    settings.pcUseMap = 0;
}

namespace {

// What a copy command was asked for besides the translation.
struct CopyRequest {
    TransferOptions transfer;
    bool recursive = false;  // -r: folders and directories with their trees
    bool flat = false;       // --flat: the files of the trees, without their folders
    bool yes = false;        // -y: the confirmations answered yes
    std::string filterExt, filterType, filterCreator;
};

// The copy options shared by get and put; true when argv[i] was one.
bool parseCopyOption(int argc, char** argv, int& i, CopyRequest& request, std::string& problem)
{
    if (parseTransferOption(argc, argv, i, request.transfer, problem)) return true;
    const std::string a = argv[i];
    if (a == "-r" || a == "-R") {
        request.recursive = true;
    } else if (a == "--flat") {
        request.flat = true;
    } else if (a == "-y" || a == "--yes") {
        request.yes = true;
    } else if (a == "--filter-ext" || a == "--filter-type" || a == "--filter-creator") {
        if (i + 1 >= argc) {
            problem = a + " needs a value";
            return true;
        }
        std::string& field = a == "--filter-ext" ? request.filterExt
                             : a == "--filter-type" ? request.filterType
                                                    : request.filterCreator;
        field = argv[++i];
        const size_t longest = a == "--filter-ext" ? 5 : 4;
        if (field.empty() || field.size() > longest)
            problem = a + " takes 1 to " + std::to_string(longest) + " characters";
    } else {
        return false;
    }
    return true;
}

// The batch copy's questions and messages on the command line. The counts
// before a tree copy are confirmed by -y, or by the user at a terminal; a
// plain copy of named files is its own confirmation. Messages go to
// standard error, after the item being copied when there is one.
bool answerYes = false;
bool askAtTerminal = false;
int copyMessageBox(const char* text, const char* caption, int buttons, int)
{
    const std::string message = text ? text : "";
    if (buttons == uiOkCancel) {
        if (answerYes) return uiAnswerOk;
        std::fprintf(stderr, "%s\n%s\n", caption ? caption : "", message.c_str());
        if (!askAtTerminal) {
            std::fputs("not copied: give -y to copy without this question\n", stderr);
            return uiAnswerCancel;
        }
        std::fputs("Copy? [y/N] ", stderr);
        char reply[16] = {};
        if (!std::fgets(reply, sizeof reply, stdin)) return uiAnswerCancel;
        return reply[0] == 'y' || reply[0] == 'Y' ? uiAnswerOk : uiAnswerCancel;
    }
    const std::string item = lastProgressName();
    if (!item.empty())
        std::fprintf(stderr, "%s: %s\n", pcHostName(item).c_str(), message.c_str());
    else
        std::fprintf(stderr, "%s\n", message.c_str());
    return buttons == uiYesNo || buttons == uiYesNoCancel ? uiAnswerNo : uiAnswerOk;
}

// Sets the settings a batch copy reads from the request, and its user
// interface; the returned table is installed for the copies.
UiOps copyUi;
void prepareBatch(const CopyRequest& request, bool macToPc)
{
    settings.copyPrefs = 0;
    settings.hideInvisible = 0;  // a copy takes invisible files too
    if (macToPc) {
        settings.macTrans = request.transfer.mode;
        settings.macCopyDir = !request.flat;
        settings.macCopyFilter = !request.filterExt.empty() || !request.filterType.empty() ||
                                 !request.filterCreator.empty();
        settings.macFilterExt = request.filterExt;
        settings.macFilterType = request.filterType;
        settings.macFilterCrtr = request.filterCreator;
    } else {
        settings.pcTrans = request.transfer.mode;
        settings.pcCopyDir = !request.flat;
        settings.pcCopyFilter = !request.filterExt.empty();
        settings.pcFilterExt = request.filterExt;
    }
    answerYes = request.yes || !request.recursive;
    askAtTerminal = terminalInput();
    copyUi = *ui;
    copyUi.messageBox = copyMessageBox;
    installUi(&copyUi);
}

// The exit status of a batch copy: 0 when everything was done.
int batchStatus(const BatchResult& result) { return result.error == errNone ? 0 : 1; }

}  // namespace

int cmdGet(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli get [-r [--flat] [-y]] [-m data|text|rsrc|macbinary|binhex]\n"
                  "                      [--filter-ext E] [--filter-type T] [--filter-creator C]\n"
                  "                      [--rename|--overwrite|--skip] [--ini FILE] IMAGE[#N] PATH... PCDIR\n"
                  "Copies Mac files into a PC directory through a translation (default: data):\n"
                  "  data       the data fork; its name extension from KVOL.FTM when MacUseMap is on\n"
                  "  text       the data fork with each CR written as CR LF\n"
                  "  rsrc       the resource fork\n"
                  "  macbinary  a MacBinary file holding both forks and the Finder information\n"
                  "  binhex     a BinHex 4.0 text file holding the same\n"
                  "With -r a PATH may be a folder: it is copied with everything inside as a\n"
                  "directory tree (--flat: its files only, all into PCDIR); the volume's root\n"
                  "(':' or the volume's name) copies the whole volume. The counts are shown for\n"
                  "confirmation first: -y answers yes. --filter-ext, --filter-type and\n"
                  "--filter-creator copy only the files with that name extension, type or\n"
                  "creator. A PC file of the same name is an error unless --rename (a free name\n"
                  "such as NAME0.EXT), --overwrite or --skip says otherwise. Settings come\n"
                  "from KVOL.INI beside the program, or from FILE (with KVOL.FTM beside it).\n"
                  "Ctrl-C stops at once; the file being written is removed, earlier ones stay.");
        return 0;
    }
    CopyRequest request;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::string problem;
        if (parseCopyOption(argc, argv, i, request, problem)) {
            if (!problem.empty()) return failUsage("get", problem.c_str());
            continue;
        }
        if (argv[i][0] == '-' && argv[i][1] != '\0')
            return failUsage("get", (std::string("unknown option ") + argv[i]).c_str());
        args.emplace_back(argv[i]);
    }
    if (args.size() < 3) return failUsage("get", "give an image, one or more paths and a PC directory");
    const std::string pcDir = args.back();
    std::error_code ec;
    if (!std::filesystem::is_directory(pcDir, ec)) {
        std::fprintf(stderr, "%s: %s\n", pcDir.c_str(),
                     std::filesystem::exists(pcDir, ec) ? "not a directory" : "no such directory");
        return 1;
    }
    if (!prepareTransfer(request.transfer)) return 1;
    if (!mountImageArgument(args[0], MountUse::reading)) return 1;

    // Each path is an item of a folder; consecutive items of one folder go
    // in one copy, a whole volume is its root's items.
    struct Batch {
        uint32_t folder;
        std::vector<std::vector<uint8_t>> names;  // empty: every item of the folder
    };
    std::vector<Batch> batches;
    for (size_t i = 1; i + 1 < args.size(); ++i) {
        std::vector<std::vector<uint8_t>> names;
        if (!volumePathNames(args[i], names)) return 1;
        uint32_t parent = 0;
        CatalogItem item;
        if (!findItem(args[i], parent, item)) return 1;
        if (item.kind == cdrFolder && !request.recursive) {
            std::fprintf(stderr, "%s: is a folder (get -r copies a folder with everything inside)\n",
                         args[i].c_str());
            return 1;
        }
        if (names.empty()) {
            batches.push_back({item.id, {}});
            continue;
        }
        std::vector<uint8_t> name(item.name, item.name + item.name[0] + 1);
        if (batches.empty() || batches.back().folder != parent || batches.back().names.empty())
            batches.push_back({parent, {}});
        batches.back().names.push_back(name);
    }

    const std::filesystem::path home = std::filesystem::current_path(ec);
    std::filesystem::current_path(pcDir, ec);
    if (ec) {
        std::fprintf(stderr, "%s: cannot change to this directory\n", pcDir.c_str());
        return 1;
    }
    prepareBatch(request, true);
    int status = 0;
    for (const Batch& b : batches) {
        if (!showMacFolder(b.folder)) {
            status = failWithError(args[0].c_str());
            break;
        }
        std::vector<int> selection;
        if (b.names.empty())
            for (size_t k = 0; k < macPane.entries.size(); ++k) selection.push_back(static_cast<int>(k));
        for (const auto& name : b.names) selection.push_back(findMacEntry(name.data()));
        status = batchStatus(copyMacToPc(selection));
        if (status != 0) break;
    }
    std::filesystem::current_path(home, ec);
    return status;
}

int cmdPut(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli put [-r [--flat] [-y]] [-m data|text|rsrc|macbinary|binhex] [--rsrc]\n"
                  "                      [--type T] [--creator C] [--filter-ext E]\n"
                  "                      [--rename|--overwrite|--skip] [--ini FILE] [--force] IMAGE[#N] FOLDER PCPATH...\n"
                  "Copies PC files into FOLDER (':' or empty for the root) through a translation\n"
                  "(default: data):\n"
                  "  data       the file's bytes become the data fork\n"
                  "  text       the same, with CR LF and LF made into CR\n"
                  "  rsrc       the file's bytes become the resource fork (also --rsrc)\n"
                  "  macbinary  a MacBinary file unpacked under the name it carries\n"
                  "  binhex     a BinHex 4.0 file decoded the same way\n"
                  "The Mac name is the PC file's (cut to 31 characters; a character the Mac\n"
                  "cannot hold becomes '_'). Type and creator come from KVOL.INI and, for data,\n"
                  "from KVOL.FTM by the name's extension, unless --type and --creator give\n"
                  "them (four characters each). With KeepDate on, data takes the PC file's\n"
                  "modification time. With -r a PCPATH may be a directory: it becomes a folder\n"
                  "with its whole tree (--flat: its files only, all into FOLDER); the counts are\n"
                  "shown for confirmation first, -y answers yes. --filter-ext copies only the\n"
                  "files with that extension. A Mac name that exists is an error unless\n"
                  "--rename, --overwrite or --skip says otherwise. The volume is written after\n"
                  "every file: a failure or Ctrl-C drops the file being written, and the files\n"
                  "copied before it stay.");
        std::puts(forceHelp);
        return 0;
    }
    CopyRequest request;
    bool resourceFork = false, codesGiven = false, force = false;
    uint8_t type[4] = {'?', '?', '?', '?'}, creator[4] = {'?', '?', '?', '?'};
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        std::string problem;
        if (parseCopyOption(argc, argv, i, request, problem)) {
            if (!problem.empty()) return failUsage("put", problem.c_str());
        } else if (a == "--rsrc") {
            resourceFork = true;
        } else if (a == "--force") {
            force = true;
        } else if (a == "--type" || a == "--creator") {
            if (i + 1 >= argc) return failUsage("put", (a + " needs a value").c_str());
            if (!fourCharCode(argv[++i], a == "--type" ? type : creator))
                return failUsage("put", (a + " takes four Mac Roman characters").c_str());
            codesGiven = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return failUsage("put", ("unknown option " + a).c_str());
        } else {
            args.push_back(a);
        }
    }
    if (args.size() < 3) return failUsage("put", "give an image, a folder and at least one PC file");
    if (!request.filterType.empty() || !request.filterCreator.empty())
        return failUsage("put", "PC files have no type or creator to filter by (--filter-ext)");
    if (resourceFork) {
        if (request.transfer.modeGiven && request.transfer.mode != ResourceFile)
            return failUsage("put", "--rsrc contradicts -m");
        request.transfer.mode = ResourceFile;
    }
    // The PC paths, each checked to be a file (or with -r a directory) by its
    // directory's listing; the paths of one directory in a row are checked
    // together, and copied together below with the same listing in the PC pane.
    std::vector<PcArgument> pcPaths;
    std::vector<std::string> pcNames;
    for (size_t i = 2; i < args.size(); ++i) {
        pcPaths.push_back(splitPcArgument(args[i]));
        pcNames.push_back(pcNameFromHost(narrowName(pcPaths.back().name)));
    }
    const auto runEnd = [&](size_t first) {
        size_t end = first;
        while (end < pcPaths.size() && pcPaths[end].directory == pcPaths[first].directory) ++end;
        return end;
    };
    std::error_code ec;
    const std::filesystem::path home = std::filesystem::current_path(ec);
    std::vector<std::vector<PcDirEntry>> listings;
    for (size_t first = 0; first < pcPaths.size();) {
        const size_t end = runEnd(first);
        const std::vector<PcDirEntry>& listed = listings.emplace_back(listPcDirectory(home, pcPaths[first].directory));
        std::unordered_map<std::string_view, const PcDirEntry*> entryByName;
        for (const PcDirEntry& e : listed) entryByName.emplace(e.name, &e);
        for (; first < end; ++first) {
            const auto found = entryByName.find(pcNames[first]);
            if (found != entryByName.end() &&
                (found->second->isFile || (request.recursive && found->second->isDirectory)))
                continue;
            const std::string& arg = args[first + 2];
            if (request.recursive && std::filesystem::is_directory(arg, ec)) continue;
            if (!isPcFileArgument(arg)) return 1;
        }
    }
    if (!prepareTransfer(request.transfer)) return 1;
    if (codesGiven) setTranslationCodes(request.transfer.mode, type, creator);
    if (!mountForWrite(args[0], force)) return 1;
    if (!enterFolderPath(args[1])) return 1;
    const uint32_t folder = currentFolderId;

    // Each PC path is an entry of its directory's listing; consecutive
    // entries of one directory go in one copy.
    prepareBatch(request, false);
    int status = 0;
    for (size_t first = 0, run = 0; first < pcPaths.size() && status == 0; ++run) {
        const size_t end = runEnd(first);
        std::filesystem::current_path(home, ec);
        std::filesystem::current_path(pcPaths[first].directory, ec);
        if (ec || !enterMacFolderById(folder)) {
            std::fprintf(stderr, "%s: cannot change to its directory\n", args[first + 2].c_str());
            status = 1;
            break;
        }
        rebuildPcPaneFrom(std::move(listings[run]));
        // The pane's entries by name: a put of thousands of files looks each up once.
        std::unordered_map<std::string_view, int> entryByName;
        for (size_t k = 0; k < pcPane.entries.size(); ++k)
            entryByName.emplace(pcPane.entries[k].name, static_cast<int>(k));
        std::vector<int> selection;
        for (; first < end; ++first) {
            const auto found = entryByName.find(pcNames[first]);
            const int index = found == entryByName.end() ? -1 : found->second;
            if (index < 0) {
                std::fprintf(stderr, "%s: not found in its directory\n", args[first + 2].c_str());
                status = 1;
                break;
            }
            selection.push_back(index);
        }
        if (status == 0) status = batchStatus(copyPcToMac(selection));
    }
    std::filesystem::current_path(home, ec);
    return status;
}

}  // namespace verrin::cli
