// The modeless progress window, the message pump that keeps the program
// alive during long operations, and the wait cursor.
//
// While the window is open the main window is disabled and its title shows
// the percentage done; the window's Cancel button sets lastError to
// errCancelled, which the running operation notices at its next check.
// Operations reach these through the user-interface seam (shell/ui_win32.h).
// Calls Win32, the error word and the list font.
#pragma once

#include <windows.h>

namespace verrin {

// The open progress window, or null.
extern HWND progressWindow;

// Opens the window over the main window with a title; the bar is hidden
// when showBar is false.
void openProgressWindow(const char* title, bool showBar);
// Shows a percentage (held at 0..100): the main window's title reads
// "Verrin N%" and the bar grows to it.
void showProgressPercent(int percent);
// The name line under the bar.
void setProgressName(const char* text);
// Closes the window: the main window is enabled again and titled "Verrin".
void closeProgressWindow();

// Dispatches the waiting messages of the thread's windows, at most 1000 per
// call, without waiting for more.
void pumpWindowMessages();

// Shows the wait cursor (on) or puts the previous cursor back (off); does
// nothing while the progress window is open.
void setWaitCursor(bool on);

}  // namespace verrin
