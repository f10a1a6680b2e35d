// The Win32 user-interface table. See ui_win32.h.
#include "shell/ui_win32.h"

#include <cstring>

#include "base/settings.h"
#include "base/ui.h"
#include "resources/kvol.h"
#include "shell/controls.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "shell/panes.h"
#include "shell/progress.h"
#include "transfer/names.h"

namespace verrin {

namespace {

WNDPROC filteredFieldProc = nullptr;

LRESULT CALLBACK pcNameFilterProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CHAR && !pcNameEditAccepts(static_cast<uint32_t>(wParam), settings.allowUpper != 0)) return 0;
    return CallWindowProcA(filteredFieldProc, edit, message, wParam, lParam);
}

int win32MessageBox(const char* text, const char* caption, int buttons, int icon)
{
    return MessageBoxA(mainWindow, text ? text : "", caption, static_cast<UINT>(buttons | icon));
}

// What the collision dialog is asked and where its answer goes.
struct CollisionRequest {
    bool mac;
    const char* name;
    char* newName;
    int newNameSize;
};

void enableOkWhenNamed(HWND window)
{
    const bool named = GetWindowTextLengthA(GetDlgItem(window, IDC_COLLISION_NEW_NAME)) > 0;
    EnableWindow(GetDlgItem(window, IDOK), named);
}

INT_PTR CALLBACK collisionProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        auto* request = reinterpret_cast<CollisionRequest*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        SetDlgItemTextA(window, IDC_COLLISION_NAME, request->name);
        HWND field = GetDlgItem(window, IDC_COLLISION_NEW_NAME);
        if (listFont) SendMessageA(field, WM_SETFONT, reinterpret_cast<WPARAM>(listFont), 0);
        SendMessageA(field, EM_LIMITTEXT, request->mac ? 31 : 255, 0);
        if (!request->mac) filterPcNameField(field);
        return TRUE;
    }
    case WM_COMMAND: {
        auto* request = reinterpret_cast<CollisionRequest*>(GetWindowLongPtrA(window, DWLP_USER));
        switch (LOWORD(wParam)) {
        case IDC_COLLISION_NEW_NAME:
            if (HIWORD(wParam) == EN_CHANGE) enableOkWhenNamed(window);
            return TRUE;
        case IDOK:
            GetDlgItemTextA(window, IDC_COLLISION_NEW_NAME, request->newName, request->newNameSize);
            EndDialog(window, collisionOk);
            return TRUE;
        case IDC_COLLISION_OVERWRITE:
            EndDialog(window, collisionOverwrite);
            return TRUE;
        case IDC_COLLISION_SKIP:
            EndDialog(window, collisionSkip);
            return TRUE;
        case IDCANCEL:
            EndDialog(window, collisionCancel);
            return TRUE;
        }
        return FALSE;
    }
    }
    return FALSE;
}

int win32AskNewName(bool mac, const char* name, char* newName, int newNameSize)
{
    if (!newName || newNameSize < 1) return collisionCancel;
    newName[0] = '\0';
    CollisionRequest request = {mac, name ? name : "", newName, newNameSize};
    const INT_PTR answer = DialogBoxParamA(appInstance, mac ? "MCOLLISION" : "PCOLLISION", mainWindow,
                                           collisionProc, reinterpret_cast<LPARAM>(&request));
    if (progressWindow) SetFocus(progressWindow);
    if (answer < collisionOk || answer > collisionOverwrite) return collisionCancel;
    return static_cast<int>(answer);
}

void win32PaneChanged(unsigned parts)
{
    if (mainWindow) showPaneParts(mainWindow, parts);
}

int win32CopySettingsDialog(bool macToPc) { return runCopySettingsDialog(mainWindow, macToPc) ? 1 : 0; }

const UiOps win32Ops = {
    win32MessageBox, win32AskNewName,    openProgressWindow,     showProgressPercent,     setProgressName,
    closeProgressWindow,   pumpWindowMessages, win32PaneChanged, win32CopySettingsDialog,
};

}  // namespace

void installWin32Ui() { installUi(&win32Ops); }

void filterPcNameField(HWND edit)
{
    WNDPROC previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pcNameFilterProc)));
    if (previous != pcNameFilterProc) filteredFieldProc = previous;
}

}  // namespace verrin
