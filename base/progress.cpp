// The progress window's logic. See progress.h.
#include "base/progress.h"

#include <iterator>

#include "base/ui.h"

namespace verrin {

uint64_t progressTotal = 0;
uint64_t progressDone = 0;

namespace {

bool windowOpen = false;

constexpr const char* titles[] = {
    "Formatting",           "Copying from PC to Mac", "Copying from Mac to PC", "Searching PC disk for files",
    "Searching Mac disk for files", "Deleting PC files", "Deleting Mac files",
};

}  // namespace

const char* progressTitle(ProgressKind kind)
{
    const int index = static_cast<int>(kind);
    return index >= 0 && index < static_cast<int>(std::size(titles)) ? titles[index] : "";
}

void openProgress(ProgressKind kind)
{
    const bool countsUnits = kind == progressFormatting || kind == progressCopyPcToMac || kind == progressCopyMacToPc;
    if (countsUnits && progressTotal == 0) return;
    if (windowOpen) closeProgress();
    ui->progressOpen(progressTitle(kind), progressTotal != 0);
    windowOpen = true;
    progressDone = 0;
    ui->progressName("");
    advanceProgress(0);
}

bool progressShown() { return windowOpen; }

int progressPercent()
{
    if (progressTotal == 0) return 0;
    const double share = static_cast<double>(progressDone) * 100.0 / static_cast<double>(progressTotal);
    return share >= 100.0 ? 100 : static_cast<int>(share);
}

void advanceProgress(uint32_t count)
{
    if (!windowOpen || progressTotal == 0) return;
    progressDone += count;
    ui->progressPercent(progressPercent());
}

void setProgressText(const char* text)
{
    if (windowOpen) ui->progressName(text ? text : "");
}

void closeProgress()
{
    if (!windowOpen) return;
    windowOpen = false;
    ui->progressClose();
}

}  // namespace verrin
