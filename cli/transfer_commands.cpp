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
        std::fprintf(stderr, "%s: exists, skipped\n", name);
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
        std::fprintf(stderr, "%s: exists, and no free name was found for it\n", name);
        return collisionCancel;
    case CollisionPolicy::none:
        break;
    }
    std::fprintf(stderr, "%s: exists (use --rename, --overwrite or --skip)\n", name);
    return collisionCancel;
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

void prepareTransfer(const TransferOptions& options)
{
    const std::string ini = options.iniPath.empty() ? executableFolder() + "KVOL.INI" : options.iniPath;
    // The settings may name a working directory for the PC pane; the
    // command line keeps the directory it was started in.
    char cwd[4096] = {};
    const bool haveCwd = pcCurrentDirectory(cwd, sizeof cwd);
    loadSettings(ini);
    setTransferLimit(static_cast<uint32_t>(settings.maxIOBufSzK));
    if (haveCwd) pcChangeDirectory(cwd);
    loadTranslationTable();
    installTranslations();
    if (options.policy == CollisionPolicy::rename) settings.autoRename = 1;
    activePolicy = options.policy;
    policyUi = *ui;
    policyUi.askNewName = policyAskNewName;
    installUi(&policyUi);
}

void putTranslated(const std::string& pcPath, const TransferOptions& options)
{
    // The readers name PC files relative to the current directory, and the
    // Mac file after the PC name: work from the file's own directory.
    const std::filesystem::path path(pcPath);
    const std::string folder = path.parent_path().string();
    const std::string base = path.filename().string();
    char home[4096] = {};
    if (!folder.empty() && (!pcCurrentDirectory(home, sizeof home) || !pcChangeDirectory(folder.c_str()))) {
        setError(errPcOpen);
        return;
    }
    translationTable[options.mode].pcToMac.routine(base.c_str(), currentFolderId);
    if (!folder.empty()) pcChangeDirectory(home);
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
    prepareTransfer(options);
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

    char home[4096] = {};
    if (!pcCurrentDirectory(home, sizeof home) || !pcChangeDirectory(pcDir.c_str())) {
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
    pcChangeDirectory(home);
    return status;
}

}  // namespace verrin::cli
