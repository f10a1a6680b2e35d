// The window side of the panes. See panes.h.
#include "shell/panes.h"

#include <cstring>
#include <string>
#include <vector>

#include "app/panes.h"
#include "base/ui.h"
#include "hfs/hfs.h"
#include "resources/kvol.h"
#include "shell/controls.h"

namespace verrin {

namespace {

void fillList(HWND window, int listId, size_t count, bool keepTopLine)
{
    HWND list = GetDlgItem(window, listId);
    const LRESULT top = SendMessageA(list, LB_GETTOPINDEX, 0, 0);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (size_t i = 0; i < count; ++i) SendMessageA(list, LB_ADDSTRING, 0, static_cast<LPARAM>(i));
    if (keepTopLine && top > 0) SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

void fillCombo(HWND window, int comboId, const std::vector<std::string>& entries)
{
    HWND box = GetDlgItem(window, comboId);
    SendMessageA(box, CB_RESETCONTENT, 0, 0);
    for (const std::string& text : entries) SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void showPcList(HWND window, bool keepTopLine)
{
    fillList(window, IDC_PC_LIST, pcPane.entries.size(), keepTopLine);
    ShowWindow(GetDlgItem(window, IDC_PC_HSCROLL), pcPane.overflow > 0 ? SW_SHOW : SW_HIDE);
    setScrollLimit(window);
}

}  // namespace

bool paneLineText(int listId, int index, char* line, size_t capacity)
{
    if (index < 0 || capacity == 0) return false;
    std::string text;
    if (listId == IDC_PC_LIST && static_cast<size_t>(index) < pcPane.entries.size())
        text = formatPcLine(pcPane.entries[static_cast<size_t>(index)], pcPane.hScrollPos);
    else if (listId == IDC_MAC_LIST && static_cast<size_t>(index) < macPane.entries.size())
        text = formatMacLine(macPane.entries[static_cast<size_t>(index)]);
    else
        return false;
    std::strncpy(line, text.c_str(), capacity - 1);
    line[capacity - 1] = '\0';
    return true;
}

int paneEntryFirstChar(int listId, int index)
{
    if (index < 0) return -1;
    const size_t i = static_cast<size_t>(index);
    if (listId == IDC_PC_LIST && i < pcPane.entries.size() && !pcPane.entries[i].name.empty())
        return static_cast<unsigned char>(pcPane.entries[i].name[0]);
    if (listId == IDC_MAC_LIST && i < macPane.entries.size() && macPane.entries[i].name[0] > 0)
        return macPane.entries[i].name[1];
    return -1;
}

void showPaneParts(HWND window, unsigned parts)
{
    const bool keep = (parts & paneKeepTopLine) != 0;
    if (parts & panePcDirectoryBox) {
        fillCombo(window, IDC_PC_DIR_BOX, pcPane.directoryBox);
        if (listingVisible) EnableWindow(GetDlgItem(window, IDC_PC_PARENT), pcPane.upEnabled);
        sizeComboDropDown(window, IDC_PC_DIR_BOX, true);
    }
    if (parts & panePcDriveLabel) SetDlgItemTextA(window, IDC_PC_DRIVE_LABEL, pcPane.driveLabel.c_str());
    if (parts & panePcList) showPcList(window, keep);
    if (parts & paneMacFolderBox) {
        fillCombo(window, IDC_MAC_FOLDER_BOX, macPane.folderBox);
        EnableWindow(GetDlgItem(window, IDC_MAC_PARENT), macPane.upEnabled);
        sizeComboDropDown(window, IDC_MAC_FOLDER_BOX, true);
    }
    if (parts & paneMacDriveLabel) SetDlgItemTextA(window, IDC_MAC_DRIVE_LABEL, macPane.driveLabel.c_str());
    if (parts & paneMacList) fillList(window, IDC_MAC_LIST, macPane.entries.size(), keep);
    if (parts & paneMacDriveBox) SendDlgItemMessageA(window, IDC_MAC_DRIVE_BOX, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    if (parts & paneRedrawLists) {
        InvalidateRect(GetDlgItem(window, IDC_PC_LIST), nullptr, FALSE);
        InvalidateRect(GetDlgItem(window, IDC_MAC_LIST), nullptr, FALSE);
    }
}

void fillPcDriveBox(HWND window)
{
    const PcDriveBox drives = pcDriveBox();
    fillCombo(window, IDC_PC_DRIVE_BOX, drives.entries);
    sizeComboDropDown(window, IDC_PC_DRIVE_BOX, false);
    if (drives.selected >= 0) SendDlgItemMessageA(window, IDC_PC_DRIVE_BOX, CB_SETCURSEL, static_cast<WPARAM>(drives.selected), 0);
}

void fillMacDriveBox(HWND dialog)
{
    SetDlgItemTextA(dialog, IDC_MAC_DRIVE_LABEL, "Mac Drive:");
    fillCombo(dialog, IDC_MAC_DRIVE_BOX, macDriveBox());
    sizeComboDropDown(dialog, IDC_MAC_DRIVE_BOX, false);
}

bool macVolumeMounted() { return parentFolderId != 0; }

void resetMacSide(HWND window)
{
    closeMacPane();
    fillMacDriveBox(window);
}

}  // namespace verrin
