// verrin-cli check: runs the consistency checker over one volume of an
// image and prints each problem on its own line.
// Calls the engine's checker through the helpers of commands.h.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "hfs/check.h"

namespace verrin::cli {

int cmdCheck(int argc, char** argv)
{
    if (wantsHelp(argc, argv)) {
        std::puts("usage: verrin-cli check IMAGE[#N]\n"
                  "Checks the volume's consistency: the master directory block and its\n"
                  "alternate copy, both B-trees, the catalog's threads, parents, valences and\n"
                  "counts, every fork's extents and the allocation bitmap. Prints each problem\n"
                  "on its own line and exits with 1 when there is one; prints a short summary\n"
                  "and exits with 0 when the volume is sound.");
        return 0;
    }
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-' && argv[i][1] != '\0')
            return failUsage("check", (std::string("unknown option ") + argv[i]).c_str());
        args.emplace_back(argv[i]);
    }
    if (args.size() != 1) return failUsage("check", "give one image");
    if (!mountImageArgument(args[0], false)) return 1;

    const std::vector<std::string> problems = checkVolume();
    for (const std::string& line : problems) std::printf("%s\n", line.c_str());
    if (!problems.empty()) {
        std::fprintf(stderr, "%s: %zu problem%s found\n", args[0].c_str(), problems.size(),
                     problems.size() == 1 ? "" : "s");
        return 1;
    }
    const VolumeInfo v = volumeInfo();
    std::printf("%s: OK: %u files, %u folders, %u of %u allocation blocks free\n", args[0].c_str(), v.files,
                v.folders, v.freeBlocks, v.blocks);
    return 0;
}

}  // namespace verrin::cli
