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
        std::puts("usage: verrin-cli check [--strict] [--json] IMAGE[#N]\n"
                  "Checks the volume's consistency: the medium's length, the master directory\n"
                  "block and its alternate copy, both B-trees, the catalog's threads, parents,\n"
                  "valences and counts, every fork's extents and the allocation bitmap. Prints\n"
                  "each problem on its own line, warnings (space marked in use that nothing\n"
                  "owns) and notes (harmless differences) after 'warning: ' and 'note: '.\n"
                  "Exits with 1 when the volume is damaged, or with --strict when there is a\n"
                  "warning; prints a short summary and exits with 0 otherwise. --json gives\n"
                  "the same as one object: sound, the counts and the list of findings, each\n"
                  "with its severity (damage, warning or note).");
        return 0;
    }
    const Arguments a = splitArguments(argc, argv, {"--json", "--strict"});
    if (!a.unknown.empty()) return failUsage("check", ("unknown option " + a.unknown).c_str());
    if (a.positional.size() != 1) return failUsage("check", "give one image");
    const std::string& image = a.positional[0];
    const bool strict = a.has("--strict");
    if (!mountImageArgument(image, MountUse::reading)) return 1;

    const CheckReport report = checkVolume();
    const size_t damage = countFindings(report, CheckSeverity::damage);
    const size_t warnings = countFindings(report, CheckSeverity::warning);
    const size_t problems = damage + (strict ? warnings : 0);
    const VolumeInfo v = volumeInfo();
    const auto severityName = [](CheckSeverity severity) {
        return severity == CheckSeverity::note ? "note" : severity == CheckSeverity::warning ? "warning" : "damage";
    };
    if (a.has("--json")) {
        std::printf("{\"image\": %s, \"sound\": %s, \"files\": %u, \"folders\": %u, \"blocks\": %u, "
                    "\"freeBlocks\": %u, \"truncated\": %s, \"findings\": [",
                    jsonString(image).c_str(), problems == 0 ? "true" : "false", v.files, v.folders, v.blocks,
                    v.freeBlocks, report.truncated ? "true" : "false");
        for (size_t i = 0; i < report.findings.size(); ++i)
            std::printf("%s{\"severity\": \"%s\", \"text\": %s}", i ? ",\n  " : "\n  ",
                        severityName(report.findings[i].severity), jsonString(report.findings[i].text).c_str());
        std::puts(report.findings.empty() ? "]}" : "\n]}");
        return problems == 0 ? 0 : 1;
    }
    for (const CheckFinding& f : report.findings) {
        const char* prefix = f.severity == CheckSeverity::damage ? "" : f.severity == CheckSeverity::note ? "note: " : "warning: ";
        std::printf("%s%s\n", prefix, f.text.c_str());
    }
    if (report.truncated) std::printf("Further problems were found but are not listed.\n");
    if (problems > 0) {
        std::fprintf(stderr, "%s: %zu problem%s found\n", image.c_str(), problems, problems == 1 ? "" : "s");
        return 1;
    }
    std::printf("%s: OK: %u files, %u folders, %u of %u allocation blocks free%s\n", image.c_str(), v.files,
                v.folders, v.freeBlocks, v.blocks, warnings > 0 ? " (see the warnings above)" : "");
    return 0;
}

}  // namespace verrin::cli
