// The modal dialogs. See dialogs.h.
#include "shell/dialogs.h"

#include "hfs/drive.h"
#include "hfs/format.h"
#include "resources/kvol.h"
#include "shell/controls.h"
#include "shell/main_window.h"
#include "shell/panes.h"
#include "transfer/names.h"

namespace verrin {

namespace {

void setFieldFont(HWND dialog, int id)
{
    if (listFont) SendDlgItemMessageA(dialog, id, WM_SETFONT, reinterpret_cast<WPARAM>(listFont), 0);
}

// FORMAT: a drive from the table and a volume name of up to 27 characters.
bool acceptFormatChoice(HWND dialog)
{
    const LRESULT drive = SendDlgItemMessageA(dialog, IDC_MAC_DRIVE_BOX, CB_GETCURSEL, 0, 0);
    if (drive == CB_ERR || drive >= driveCount) {
        MessageBoxA(dialog, "First select a drive from the \"Mac Drive\" box.", "No Drive Selected", MB_OK);
        return false;
    }
    if (!driveTable[drive].format) {
        MessageBoxA(dialog, "This drive does not support formatting", "Warning", MB_OK);
        return false;
    }
    char name[maxVolumeNameLength + 1] = "";
    GetDlgItemTextA(dialog, IDC_FORMAT_NAME, name, sizeof name);
    if (!name[0]) {
        MessageBoxA(dialog, "First enter a volume label.", "No Volume Label", MB_OK);
        return false;
    }
    uint8_t macName[32];
    pcNameToMac(macName, name);
    setNewVolumeName(macName + 1, macName[0]);
    EndDialog(dialog, drive);
    return true;
}

INT_PTR CALLBACK formatProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SendDlgItemMessageA(dialog, IDC_MAC_DRIVE_BOX, CB_SETEXTENDEDUI, TRUE, 0);
        setFieldFont(dialog, IDC_MAC_DRIVE_BOX);
        setFieldFont(dialog, IDC_FORMAT_NAME);
        SendDlgItemMessageA(dialog, IDC_FORMAT_NAME, EM_LIMITTEXT, maxVolumeNameLength, 0);
        SetDlgItemTextA(dialog, IDC_FORMAT_NAME, "Untitled");
        fillMacDriveBox(dialog);
        return TRUE;
    case WM_HELP:
        openHelp(dialog, HELP_FORMAT);
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 1);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            acceptFormatChoice(dialog);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, -1);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

}  // namespace

int runFormatDialog(HWND owner)
{
    const INT_PTR drive = DialogBoxParamA(appInstance, "FORMAT", owner, formatProc, 0);
    return drive >= 0 && drive < driveCount ? static_cast<int>(drive) : -1;
}

bool runCopySettingsDialog(HWND, bool) { return false; }

void runItemCommand(HWND, int, int) {}

}  // namespace verrin
