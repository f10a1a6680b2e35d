// The progress window's logic: which title each long operation shows,
// whether a window opens at all, the units expected and done, and the
// percentage that the bar and the main window's title show. Drawing, the
// disabled main window and the Cancel button belong to the user-interface
// seam's progress members; Cancel reaches the operation as errCancelled
// through pumpMessages.
// Calls only the user-interface seam.
#pragma once

#include <cstdint>

namespace verrin {

// Selects the window's title.
enum ProgressKind : int {
    progressFormatting = 0,
    progressCopyPcToMac = 1,
    progressCopyMacToPc = 2,
    progressSearchPc = 3,
    progressSearchMac = 4,
    progressDeletePc = 5,
    progressDeleteMac = 6,
};

// The title of a kind ("Formatting", "Copying from PC to Mac", ...).
const char* progressTitle(ProgressKind kind);

// Units the operation expects (bytes for copies, items for deletions, steps
// for formatting); set before openProgress. 64 bits, so that copies of more
// than 4 GB keep their true total.
extern uint64_t progressTotal;
// Units reported since the window opened.
extern uint64_t progressDone;

// Opens the window for an operation. A copy or a format with nothing to
// count (progressTotal 0) opens none; a search or a deletion with a total of
// 0 opens one with the bar hidden.
void openProgress(ProgressKind kind);
// True while a window is open.
bool progressShown();
// Adds count units and redraws the bar; 0 only redraws. Nothing while no
// window is open or the total is 0.
void advanceProgress(uint32_t count);
// The share done, 0..100: progressDone × 100 / progressTotal cut to a whole
// number and held at 100.
int progressPercent();
// Writes the window's name line (the current item or a count); nothing
// while no window is open.
void setProgressText(const char* text);
// Closes the window, if one is open.
void closeProgress();

}  // namespace verrin
