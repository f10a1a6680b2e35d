// verrin-cli check: runs the consistency checker over one volume of an
// image and prints each problem on its own line.
// Calls the engine's checker through the helpers of commands.h.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "hfs/check.h"

namespace verrin::cli {

int cmdCheck(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli check [--strict] IMAGE[#N]\n"
                  "Checks the volume's consistency: the medium's length, the master directory\n"
                  "block and its alternate copy, both B-trees, the catalog's threads, parents,\n"
                  "valences and counts, every fork's extents and the allocation bitmap. Prints\n"
                  "each problem on its own line, warnings (space marked in use that nothing\n"
                  "owns) and notes (harmless differences) after 'warning: ' and 'note: '.\n"
                  "Exits with 1 when the volume is damaged, or with --strict when there is a\n"
                  "warning; prints a short summary and exits with 0 otherwise.");
        return 0;
    }
    bool strict = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--strict") == 0)
            strict = true;
        else if (argv[i][0] == '-' && argv[i][1] != '\0')
            return failUsage("check", (std::string("unknown option ") + argv[i]).c_str());
        else
            args.emplace_back(argv[i]);
    }
    if (args.size() != 1) return failUsage("check", "give one image");
    if (!mountImageArgument(args[0], false)) return 1;

    const CheckReport report = checkVolume();
    for (const CheckFinding& f : report.findings) {
        const char* prefix = f.severity == CheckSeverity::note      ? "note: "
                             : f.severity == CheckSeverity::warning ? "warning: "
                                                                    : "";
        std::printf("%s%s\n", prefix, f.text.c_str());
    }
    if (report.truncated) std::printf("Further problems were found but are not listed.\n");
    const size_t damage = countFindings(report, CheckSeverity::damage);
    const size_t warnings = countFindings(report, CheckSeverity::warning);
    const size_t problems = damage + (strict ? warnings : 0);
    if (problems > 0) {
        std::fprintf(stderr, "%s: %zu problem%s found\n", args[0].c_str(), problems, problems == 1 ? "" : "s");
        return 1;
    }
    const VolumeInfo v = volumeInfo();
    std::printf("%s: OK: %u files, %u folders, %u of %u allocation blocks free%s\n", args[0].c_str(), v.files,
                v.folders, v.freeBlocks, v.blocks, warnings > 0 ? " (see the warnings above)" : "");
    return 0;
}

}  // namespace verrin::cli
