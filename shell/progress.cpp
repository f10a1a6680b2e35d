// The progress window, the message pump and the wait cursor. See
// progress.h. Calls Win32, the error word and the list font.
#include "shell/progress.h"

#include <cstdio>
#include <string>

#include "base/errors.h"
#include "resources/kvol.h"
#include "shell/controls.h"
#include "shell/main_window.h"

namespace verrin {

HWND progressWindow = nullptr;

namespace {

std::string progressTitle;
bool progressBarShown = false;
int progressPercentShown = 0;
// Cleared while the progress window is open: the window itself tells the
// user that work is going on.
bool waitCursorAllowed = true;
HCURSOR cursorBeforeWait = nullptr;

constexpr int maxMessagesPerPump = 1000;

// Fills the bar from its left edge to the percentage shown. The bar only
// grows, so the rest is not cleared.
void drawBar()
{
    if (!progressWindow || !progressBarShown) return;
    HWND bar = GetDlgItem(progressWindow, IDC_PROGRESS_BAR);
    RECT r;
    GetClientRect(bar, &r);
    RECT area = {2, 2, r.right - 2, r.bottom - 2};
    if (area.right <= area.left) return;
    area.right = area.left + progressPercentShown * (area.right - area.left) / 100;
    HDC dc = GetDC(bar);
    FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    ReleaseDC(bar, dc);
}

INT_PTR CALLBACK progressProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        progressWindow = window;
        if (listFont) SendDlgItemMessageA(window, IDC_PROGRESS_NAME, WM_SETFONT, reinterpret_cast<WPARAM>(listFont), 0);
        EnableWindow(mainWindow, FALSE);
        SetWindowTextA(window, progressTitle.c_str());
        if (!progressBarShown) ShowWindow(GetDlgItem(window, IDC_PROGRESS_BAR), SW_HIDE);
        waitCursorAllowed = false;
        return TRUE;
    case WM_PAINT:
        // The bar first; the dialog's own painting follows.
        drawBar();
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:  // sent by closeProgressWindow
            EnableWindow(mainWindow, TRUE);
            DestroyWindow(window);
            progressWindow = nullptr;
            UpdateWindow(mainWindow);
            SetActiveWindow(mainWindow);
            waitCursorAllowed = true;
            SetWindowTextA(mainWindow, "Verrin");
            return TRUE;
        case IDCANCEL:
            // The operation sees the word at its next check and winds down;
            // it closes the window itself.
            setError(errCancelled);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

}  // namespace

void openProgressWindow(const char* title, bool showBar)
{
    if (progressWindow) closeProgressWindow();
    progressTitle = title ? title : "";
    progressBarShown = showBar;
    progressPercentShown = 0;
    CreateDialogParamA(appInstance, "PROGRESS", mainWindow, progressProc, 0);
    if (!progressWindow) return;
    SetDlgItemTextA(progressWindow, IDC_PROGRESS_NAME, "");
    showProgressPercent(0);
}

void showProgressPercent(int percent)
{
    if (!progressWindow) return;
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    progressPercentShown = percent;
    char title[32];
    std::snprintf(title, sizeof title, "Verrin %d%%", percent);
    SetWindowTextA(mainWindow, title);
    drawBar();
}

void setProgressName(const char* text)
{
    if (progressWindow) SetDlgItemTextA(progressWindow, IDC_PROGRESS_NAME, text ? text : "");
}

void closeProgressWindow()
{
    if (progressWindow) SendMessageA(progressWindow, WM_COMMAND, IDOK, 0);
}

void pumpWindowMessages()
{
    MSG msg;
    for (int i = 0; i < maxMessagesPerPump && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (msg.message == WM_QUIT) {
            // Not ours to take: leave it for the dialog loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void setWaitCursor(bool on)
{
    if (!waitCursorAllowed) return;
    if (on) {
        cursorBeforeWait = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514))  /* IDC_WAIT */);
    } else if (cursorBeforeWait) {
        SetCursor(cursorBeforeWait);
    }
}

}  // namespace verrin
