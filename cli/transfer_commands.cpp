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
#include <vector>
#ifdef _WIN32
#include <windows.h>
#else
#include <climits>
#include <unistd.h>
#endif

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

void putTranslated(const std::string& hostPath, const TransferOptions& options)
{
    // The readers name PC files relative to the current directory, and the
    // Mac file after the PC name: work from the file's own directory.
    const std::filesystem::path path(hostPath);
    std::error_code ec;
    const std::filesystem::path home = std::filesystem::current_path(ec);
    if (path.has_parent_path()) std::filesystem::current_path(path.parent_path(), ec);
    if (ec) {
        setError(errPcOpen);
        return;
    }
    const std::string name = pcNameFromHost(path.filename().string());
    translationTable[options.mode].pcToMac.routine(name.c_str(), currentFolderId);
    if (path.has_parent_path()) std::filesystem::current_path(home, ec);
}

void setTranslationCodes(int mode, const uint8_t type[4], const uint8_t creator[4])
{
    const auto m = static_cast<TranslationMode>(mode);
    setPcToMacDefault(m, macCodeToPc(type, 4).c_str(), macCodeToPc(creator, 4).c_str());
    settings.pcUseMap = 0;
}

int cmdGet(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli get [-m data|text|rsrc|macbinary|binhex] [--rename|--overwrite|--skip]\n"
                  "                      [--ini FILE] IMAGE[#N] PATH... PCDIR\n"
                  "Copies Mac files into a PC directory through a translation (default: data):\n"
                  "  data       the data fork; its name extension from KVOL.FTM when MacUseMap is on\n"
                  "  text       the data fork with each CR written as CR LF\n"
                  "  rsrc       the resource fork\n"
                  "  macbinary  a MacBinary file holding both forks and the Finder information\n"
                  "  binhex     a BinHex 4.0 text file holding the same\n"
                  "A PC file of the same name is an error unless --rename (a free name such as\n"
                  "NAME0.EXT), --overwrite or --skip says otherwise. Settings come from KVOL.INI\n"
                  "beside the program, or from FILE (with KVOL.FTM beside it).");
        return 0;
    }
    TransferOptions options;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::string problem;
        if (parseTransferOption(argc, argv, i, options, problem)) {
            if (!problem.empty()) return failUsage("get", problem.c_str());
            continue;
        }
        if (argv[i][0] == '-' && argv[i][1] != '\0')
            return failUsage("get", (std::string("unknown option ") + argv[i]).c_str());
        args.emplace_back(argv[i]);
    }
    if (args.size() < 3) return failUsage("get", "give an image, one or more paths and a PC directory");
    const std::string pcDir = args.back();
    if (!pcIsDirectory(pcDir.c_str())) {
        std::fprintf(stderr, "%s: not a directory\n", pcDir.c_str());
        return 1;
    }
    if (!prepareTransfer(options)) return 1;
    if (!mountImageArgument(args[0], false)) return 1;

    struct Source {
        std::string path;
        uint32_t parent;
        CatalogItem item;
    };
    std::vector<Source> sources;
    for (size_t i = 1; i + 1 < args.size(); ++i) {
        Source s{args[i], 0, {}};
        if (!findItem(s.path, s.parent, s.item)) return 1;
        if (s.item.kind != cdrFile) {
            std::fprintf(stderr, "%s: is a folder\n", s.path.c_str());
            return 1;
        }
        sources.push_back(s);
    }

    std::error_code ec;
    const std::filesystem::path home = std::filesystem::current_path(ec);
    std::filesystem::current_path(pcDir, ec);
    if (ec) {
        std::fprintf(stderr, "%s: cannot change to this directory\n", pcDir.c_str());
        return 1;
    }
    const MacToPcRoutine copy = translationTable[options.mode].macToPc.routine;
    int status = 0;
    for (const Source& s : sources) {
        copy(s.item.name, s.parent);
        if (lastError == errNone) continue;
        const bool cancelled = lastError == errCancelled;
        failWithError(s.path.c_str());
        revertVolume();
        lastError = errNone;
        status = 1;
        if (cancelled) break;
    }
    std::filesystem::current_path(home, ec);
    return status;
}

int cmdPut(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli put [-m data|text|rsrc|macbinary|binhex] [--rsrc] [--type T] [--creator C]\n"
                  "                      [--rename|--overwrite|--skip] [--ini FILE] [--force] IMAGE[#N] FOLDER PCFILE...\n"
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
                  "modification time. A Mac name that exists is an error unless --rename,\n"
                  "--overwrite or --skip says otherwise. Nothing is written unless every file\n"
                  "is copied.");
        std::puts(forceHelp);
        return 0;
    }
    TransferOptions options;
    bool resourceFork = false, codesGiven = false, force = false;
    uint8_t type[4] = {'?', '?', '?', '?'}, creator[4] = {'?', '?', '?', '?'};
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        std::string problem;
        if (parseTransferOption(argc, argv, i, options, problem)) {
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
    if (resourceFork) {
        if (options.modeGiven && options.mode != ResourceFile) return failUsage("put", "--rsrc contradicts -m");
        options.mode = ResourceFile;
    }
    for (size_t i = 2; i < args.size(); ++i)
        if (!isPcFileArgument(args[i])) return 1;
    if (!prepareTransfer(options)) return 1;
    if (codesGiven) setTranslationCodes(options.mode, type, creator);
    if (!mountForWrite(args[0], force)) return 1;
    if (!enterFolderPath(args[1])) return 1;
    const uint32_t folder = currentFolderId;
    for (size_t i = 2; i < args.size(); ++i) {
        if (!enterFolder(folder)) return finishWrite(args[i].c_str());
        putTranslated(args[i], options);
        if (lastError != errNone) return finishWrite(args[i].c_str());
    }
    return finishWrite(args[1].c_str());
}

}  // namespace verrin::cli
