// The window's batch copy to the Mac, timed without the window: the PC
// folder given is copied, as a folder, into the root of volume 1 of an
// image through the pane models and the batch command, every question
// answered OK. Prints the seconds the copy took. bench/journal_bench.sh
// runs it with and without the journal and the syncs
// (VERRIN_BENCH_NO_JOURNAL).
// Usage: verrin-batch-bench IMAGE PCFOLDER
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/batch.h"
#include "app/panes.h"
#include "base/errors.h"
#include "base/settings.h"
#include "base/ui_headless.h"
#include "devices/image_drive.h"
#include "hfs/hfs.h"
#include "transfer/pcfile.h"
#include "transfer/translation_table.h"
#include "transfer/translations.h"

using namespace verrin;

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: verrin-batch-bench IMAGE PCFOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = std::filesystem::absolute(argv[2]);
    settings = Settings{};
    settings.copyPrefs = 0;
    settings.pcCopyDir = 1;
    loadTranslationTable();
    installTranslations();
    const int drive = openImageDrive(argv[1], true);
    if (drive >= 0 && chooseMacDrive(drive) && !macPane.entries.empty()) openMacEntry(0);
    if (!volume.mounted) {
        std::fprintf(stderr, "%s: no HFS volume (%s)\n", argv[1], errorText(lastError));
        return 1;
    }
    pcChangeDirectory(folder.parent_path().string().c_str());
    rebuildPcPane();
    const int source = findPcEntry(folder.filename().string());
    if (source < 0) {
        std::fprintf(stderr, "%s: not found\n", argv[2]);
        return 1;
    }
    headless::scriptedAnswers = {uiAnswerOk};
    const std::vector<int> selection = {source};
    const auto start = std::chrono::steady_clock::now();
    const BatchResult result = copyPcToMac(selection);
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    if (!result.ran || result.error != errNone) {
        std::fprintf(stderr, "the copy failed: %s\n", errorText(result.error));
        return 1;
    }
    closeImageDrives();
    std::printf("%.4f\n", spent.count());
    return 0;
}
