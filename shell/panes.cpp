// The window side of the panes. See panes.h.
#include "shell/panes.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "hfs/drive.h"
#include "hfs/hfs.h"
#include "resources/kvol.h"
#include "shell/controls.h"
#include "base/format.h"
#include "shell/progress.h"

namespace verrin {

namespace {

// Drive type labels of the PC drive box, by GetDriveType's answer.
const char* driveTypeLabel(UINT type)
{
    switch (type) {
    case DRIVE_REMOVABLE:
        return "(Removable)";
    case DRIVE_FIXED:
        return "(Fixed)";
    case DRIVE_REMOTE:
        return "(Remote)";
    case DRIVE_CDROM:
        return "(CDROM)";
    case DRIVE_RAMDISK:
        return "(Ram Disk)";
    default:
        return "";
    }
}

void resetListContents(HWND window, int listId, int count)
{
    HWND list = GetDlgItem(window, listId);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (int i = 0; i < count; ++i) SendMessageA(list, LB_ADDSTRING, 0, static_cast<LPARAM>(i));
}

}  // namespace

bool paneLineText(int, int, char*, size_t) { return false; }
int paneEntryFirstChar(int, int) { return -1; }
bool macVolumeMounted() { return volume.mounted; }
void macDriveChosen(HWND) {}
void macFolderBoxChosen(HWND) {}
void macParentFolder(HWND) {}
void openMacListEntry(HWND) {}
void relistMacFolder(HWND) {}
void openPcListEntry(HWND) {}

void fillPcDriveBox(HWND window)
{
    char current[MAX_PATH + 1];
    const DWORD n = GetCurrentDirectoryA(sizeof current, current);
    const char letter = n > 0 && n < sizeof current ? current[0] : '\0';
    char roots[257];
    const DWORD length = GetLogicalDriveStringsA(sizeof roots - 1, roots);
    if (length == 0 || length >= sizeof roots) return;
    HWND box = GetDlgItem(window, IDC_PC_DRIVE_BOX);
    for (const char* root = roots; *root; root += std::strlen(root) + 1) {
        const UINT type = GetDriveTypeA(root);
        if (type == DRIVE_UNKNOWN) continue;
        std::string text = root;
        if (!text.empty() && text.back() == '\\') text.pop_back();
        for (char& c : text)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        text += driveTypeLabel(type);
        SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    sizeComboDropDown(window, IDC_PC_DRIVE_BOX, false);
    if (!letter) return;
    const LRESULT count = SendMessageA(box, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char entry[64];
        if (SendMessageA(box, CB_GETLBTEXTLEN, i, 0) >= static_cast<LRESULT>(sizeof entry)) continue;
        SendMessageA(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry));
        if ((entry[0] | 0x20) == (letter | 0x20)) {
            SendMessageA(box, CB_SETCURSEL, i, 0);
            break;
        }
    }
}

void fillPcDirectoryBox(HWND window)
{
    HWND box = GetDlgItem(window, IDC_PC_DIR_BOX);
    SendMessageA(box, CB_RESETCONTENT, 0, 0);
    SendMessageA(box, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>("\\"));
    char current[257];
    const DWORD n = GetCurrentDirectoryA(sizeof current, current);
    if (n == 0 || n >= sizeof current) return;
    char* path = std::strchr(current, '\\');
    if (!path) return;
    ++path;
    if (listingVisible) EnableWindow(GetDlgItem(window, IDC_PC_PARENT), *path != '\0');
    // Each component goes to the top, so the deepest directory ends first.
    for (char* component = path; *component;) {
        char* end = std::strchr(component, '\\');
        if (end) *end = '\0';
        SendMessageA(box, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(component));
        if (!end) break;
        component = end + 1;
    }
    sizeComboDropDown(window, IDC_PC_DIR_BOX, true);
}

void updatePcDriveLabel(HWND window)
{
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (!GetDiskFreeSpaceA(nullptr, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters))
        sectorsPerCluster = bytesPerSector = freeClusters = totalClusters = 0;
    const double cluster = static_cast<double>(sectorsPerCluster) * bytesPerSector;
    const std::string text = "PC Drive: " + formatSize(cluster * freeClusters) + " of " +
                             formatSize(cluster * totalClusters) + " free";
    SetDlgItemTextA(window, IDC_PC_DRIVE_LABEL, text.c_str());
}

void rebuildPcPane(HWND window)
{
    setWaitCursor(true);
    pcOverflow = 0;
    fillPcDirectoryBox(window);
    if (listingVisible) {
        resetListContents(window, IDC_PC_LIST, 0);
        updatePcDriveLabel(window);
        ShowWindow(GetDlgItem(window, IDC_PC_HSCROLL), pcOverflow > 0 ? SW_SHOW : SW_HIDE);
        setScrollLimit(window);
    }
    setWaitCursor(false);
}

void refreshPcPane(HWND window)
{
    HWND list = GetDlgItem(window, IDC_PC_LIST);
    const LRESULT top = SendMessageA(list, LB_GETTOPINDEX, 0, 0);
    rebuildPcPane(window);
    if (top > 0) SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
}

void fillMacDriveBox(HWND dialog)
{
    SetDlgItemTextA(dialog, IDC_MAC_DRIVE_LABEL, "Mac Drive:");
    HWND box = GetDlgItem(dialog, IDC_MAC_DRIVE_BOX);
    SendMessageA(box, CB_RESETCONTENT, 0, 0);
    if (driveCount == 0) MessageBoxA(dialog, "Can't find any Mac compatible drives.", nullptr, MB_OK);
    for (int i = 0; i < driveCount; ++i)
        SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(driveTable[i].label));
    sizeComboDropDown(dialog, IDC_MAC_DRIVE_BOX, false);
}

void resetMacSide(HWND window)
{
    closeVolume();
    resetListContents(window, IDC_MAC_LIST, 0);
    SendDlgItemMessageA(window, IDC_MAC_FOLDER_BOX, CB_RESETCONTENT, 0, 0);
    fillMacDriveBox(window);
    EnableWindow(GetDlgItem(window, IDC_MAC_PARENT), FALSE);
}

}  // namespace verrin
