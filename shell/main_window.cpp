// Program entry and the main window. See main_window.h.
//
// WinMain loads the settings, registers KvolClass and runs KVOLWIN as a
// modal dialog; mainDialogProc below is the one dispatcher of the program.
// It reads top to bottom: initialisation, the side switch, the command
// handlers, then the message switch.
#include "shell/main_window.h"

#include <windows.h>

#include <array>
#include <cstring>
#include <string>

#include "app/panes.h"
#include "app/report.h"
#include "base/rawfile.h"
#include "base/settings.h"
#include "base/ui.h"
#include "devices/enumerate.h"
#include "devices/image_drive.h"
#include "devices/image_list.h"
#include "hfs/drive.h"
#include "hfs/hfs.h"
#include "hfs/journal.h"
#include "hfs/verdict.h"
#include "resources/kvol.h"
#include "shell/controls.h"
#include "shell/dialogs.h"
#include "shell/panes.h"
#include "shell/progress.h"
#include "shell/ui_win32.h"
#include "transfer/translation_table.h"
#include "transfer/translations.h"

namespace verrin {

HINSTANCE appInstance = nullptr;
HWND mainWindow = nullptr;
int activeSide = pcSide;

namespace {

// The PC drive box's selection when it last opened or last changed drive.
LRESULT rememberedPcDrive = -1;

const char* const helpFileName = "VERRIN.HLP";

// ---------------------------------------------------------------------------
// Side-dependent texts.

struct SideTexts {
    const char* commands[4];  // 5000..5003: button captions and File entries
};
constexpr SideTexts sideTexts[2] = {
    {{"&Copy From Mac", "&New Mac Folder", "&Delete From Mac", "Mac Item &Info"}},
    {{"&Copy From PC", "&New PC Directory", "&Delete From PC", "PC Item &Info"}},
};

struct SortEntry {
    const char* text;
    int command;
};
constexpr SortEntry pcSortEntries[] = {
    {"&Name", IDM_SORT_NAME}, {"&Ext", IDM_SORT_EXT_OR_TYPE}, {"&Size", IDM_SORT_SIZE}, {"&Date", IDM_SORT_DATE}};
constexpr SortEntry macSortEntries[] = {{"&Name", IDM_SORT_NAME},
                                        {"&Type", IDM_SORT_EXT_OR_TYPE},
                                        {"&Crtr", IDM_SORT_CREATOR},
                                        {"&Size", IDM_SORT_SIZE},
                                        {"&Date", IDM_SORT_DATE}};

constexpr int pcLabels[] = {IDC_PC_HEADER, IDC_PC_DIR_LABEL, IDC_PC_DRIVE_LABEL};
constexpr int macLabels[] = {IDC_MAC_HEADER, IDC_MAC_FOLDER_LABEL, IDC_MAC_DRIVE_LABEL};

constexpr int fileMenuPopup = 0;
constexpr int sortMenuPopup = 2;

// The sort order in force for the active side's pane.
int& sortOfActiveSide() { return activeSide == pcSide ? pcPane.sort : macPane.sort; }

// ---------------------------------------------------------------------------
// The About box's second line and text, kept scrambled in the program and
// unscrambled in place at start.

constexpr char scrambleKey = 0x5A;

template <size_t N> constexpr std::array<char, N> scrambled(const char (&text)[N])
{
    std::array<char, N> out{};
    for (size_t i = 0; i + 1 < N; ++i) out[i] = static_cast<char>(text[i] ^ scrambleKey);
    return out;
}

std::array aboutLine = scrambled("A file manager for classic Apple HFS disks");
std::array aboutText = scrambled(
    "Verrin reads and writes Apple HFS volumes on diskettes, hard disks, removable and optical media, "
    "CD-ROMs and disk images (raw and DiskCopy 4.2).\r\n\r\n"
    "The upper pane shows the PC side, the lower pane the Mac side. Click in a pane to make its side active: "
    "the buttons on the right then copy from it, create a folder or directory in it, delete from it and show "
    "an item's information.\r\n\r\n"
    "Choose a drive in the \"Mac Drive:\" box and double-click a volume to open it. Disk images are added with "
    "Utilities, Open Disk Image.\r\n\r\n"
    "Files are copied with one of five translations, chosen in Options: Data File, Text File (line ends "
    "converted), Resource File, MacBinary and BinHex (HQX).\r\n\r\n"
    "Settings are kept in KVOL.INI beside the program when Options, Save Settings on Exit is checked.");

template <size_t N> void unscramble(std::array<char, N>& text)
{
    for (size_t i = 0; i + 1 < N; ++i) text[i] = static_cast<char>(text[i] ^ scrambleKey);
}

// ---------------------------------------------------------------------------
// Start and shutdown.

void registerWindowClass(HINSTANCE instance)
{
    WNDCLASSA windowClass = {};
    windowClass.style = CS_DBLCLKS | CS_SAVEBITS;
    windowClass.lpfnWndProc = DefDlgProcA;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, "kvolicon");
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "KvolClass";
    RegisterClassA(&windowClass);
}

void shutDown(HWND window, bool fromExit)
{
    if (fromExit) WinHelpA(window, settings.helpPath.c_str(), HELP_QUIT, 0);
    EndDialog(window, 2);
    PostQuitMessage(0);
    win::unloadAspi();
    closeVolume();
    macPane.entries.clear();
    pcPane.entries.clear();
}

void checkMenuEntry(HWND window, int command, bool checked)
{
    CheckMenuItem(GetMenu(window), static_cast<UINT>(command), MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

BOOL initialiseMainWindow(HWND window)
{
    if (createListFont(window) != 0) {
        MessageBoxA(window, "Initialization error.", nullptr, MB_OK | MB_ICONWARNING);
        shutDown(window, false);
        return TRUE;
    }
    fillPcDriveBox(window);
    mainWindow = window;
    installWin32Ui();
    for (int id : {IDC_PC_LIST, IDC_MAC_LIST, IDC_PC_DIR_BOX, IDC_MAC_FOLDER_BOX, IDC_PC_DRIVE_BOX, IDC_MAC_DRIVE_BOX})
        SendDlgItemMessageA(window, id, WM_SETFONT, reinterpret_cast<WPARAM>(listFont), 0);

    pcPane.sort = sortFromSetting(settings.pcSort);
    macPane.sort = sortFromSetting(settings.macSort);
    checkMenuEntry(window, IDM_COPY_PREFS, settings.copyPrefs != 0);
    checkMenuEntry(window, IDM_KEEP_DATE, settings.keepDate != 0);
    checkMenuEntry(window, IDM_SAVE_PREFS, settings.savePrefs != 0);

    rebuildPcPane();
    if (lastError == errNone) {
        // Devices first, then the disk images the settings file lists.
        buildDriveTable(settings);
        if (lastError == errNone) openListedImages(settings.iniPath);
    }
    if (lastError == errNone) resetMacSide(window);
    if (lastError != errNone) {
        reportLastError();
        shutDown(window, false);
        return TRUE;
    }
    loadTranslationTable();
    installTranslations();

    registerButtonImage(window, appInstance, IDC_COPY, IDB_COPY_FROM_PC, 0, 0);
    registerButtonImage(window, appInstance, IDC_COPY, IDB_COPY_FROM_MAC, 0, 0);
    registerButtonImage(window, appInstance, IDC_NEW_FOLDER, IDB_NEW_FOLDER, 0, 0);
    registerButtonImage(window, appInstance, IDC_DELETE, IDB_DELETE, 0, 0);
    registerButtonImage(window, appInstance, IDC_INFO, IDB_INFO, 0, 0);

    for (int id : {IDC_MAC_DRIVE_BOX, IDC_PC_DRIVE_BOX, IDC_MAC_FOLDER_BOX, IDC_PC_DIR_BOX})
        SendDlgItemMessageA(window, id, CB_SETEXTENDEDUI, TRUE, 0);

    activeSide = pcSide;
    setActiveSide(window, macSide);
    return TRUE;
}

// ---------------------------------------------------------------------------
// Command handlers.

// The list of the active side, and of a side.
int listOfSide(int side) { return side == pcSide ? IDC_PC_LIST : IDC_MAC_LIST; }

LRESULT listCount(HWND window, int listId) { return SendDlgItemMessageA(window, listId, LB_GETCOUNT, 0, 0); }

void selectAll(HWND window, int listId, bool select)
{
    SendDlgItemMessageA(window, listId, LB_SETSEL, select ? TRUE : FALSE, -1);
}

// The checks the four commands make before they run, in the order tested.
struct CommandRule {
    int command;
    int side;
    bool needsMounted;
    bool testsList;                // list not empty, and a selection
    const char* readOnlyCaption;   // non-null: needs a writable Mac drive
    const char* listCaption;       // caption of the empty-list and no-selection boxes
};
constexpr CommandRule commandRules[] = {
    {IDC_COPY, pcSide, true, true, "Can't Copy to Mac", "No Items Selected for Copy"},
    {IDC_COPY, macSide, true, true, nullptr, "No Items Selected for Copy"},
    {IDC_NEW_FOLDER, macSide, true, false, "Can't Create Folder", nullptr},
    {IDC_DELETE, pcSide, false, true, nullptr, "No Items Selected for Deletion"},
    {IDC_DELETE, macSide, true, true, "Can't Delete", "No Items Selected for Deletion"},
    {IDC_INFO, pcSide, false, true, nullptr, "No Items Selected"},
    {IDC_INFO, macSide, true, true, nullptr, "No Items Selected"},
};

bool macDriveWritable() { return currentDrive >= 0 && currentDrive < driveCount && !driveIsReadOnly(driveTable[currentDrive]); }

// True when the command may run on the active side; otherwise the first
// failed check has shown its message.
bool commandAllowed(HWND window, int command)
{
    for (const CommandRule& rule : commandRules) {
        if (rule.command != command || rule.side != activeSide) continue;
        if (rule.needsMounted && !macVolumeMounted()) {
            MessageBoxA(window,
                        "First select a drive from the \"Mac Drive\" box, then double-click a volume in the "
                        "\"Mac Files\" box.",
                        "No Mac Volume Mounted", MB_OK);
            return false;
        }
        if (rule.testsList) {
            const int listId = listOfSide(activeSide);
            if (listCount(window, listId) <= 0) {
                MessageBoxA(window, activeSide == pcSide ? "This PC directory is empty." : "This Mac folder is empty.",
                            rule.listCaption, MB_OK);
                return false;
            }
            if (SendDlgItemMessageA(window, listId, LB_GETSELCOUNT, 0, 0) <= 0) {
                MessageBoxA(window,
                            activeSide == pcSide
                                ? "First select items in the \"PC Files\" box by single-clicking them."
                                : "First select items in the \"Mac Files\" box by single-clicking them.",
                            rule.listCaption, MB_OK);
                return false;
            }
        }
        if (rule.readOnlyCaption && !macDriveWritable()) {
            MessageBoxA(window, "This Mac drive is read only.", rule.readOnlyCaption, MB_OK);
            return false;
        }
        return true;
    }
    return true;
}

void onCommand(HWND window, int id, int notification);

void onPcDriveChosen(HWND window)
{
    HWND box = GetDlgItem(window, IDC_PC_DRIVE_BOX);
    const LRESULT selected = SendMessageA(box, CB_GETCURSEL, 0, 0);
    char entry[64] = "";
    if (selected != CB_ERR && SendMessageA(box, CB_GETLBTEXTLEN, static_cast<WPARAM>(selected), 0) < 64)
        SendMessageA(box, CB_GETLBTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(entry));
    if (pcSelectDrive(entry))
        rememberedPcDrive = selected;
    else
        SendMessageA(box, CB_SETCURSEL, static_cast<WPARAM>(rememberedPcDrive), 0);
}

// The first selected entry of a list, or -1.
int firstSelected(HWND window, int listId)
{
    int first = -1;
    if (SendDlgItemMessageA(window, listId, LB_GETSELITEMS, 1, reinterpret_cast<LPARAM>(&first)) != 1) return -1;
    return first;
}

void onPcDoubleClick(HWND window)
{
    const int index = firstSelected(window, IDC_PC_LIST);
    if (index < 0 || static_cast<size_t>(index) >= pcPane.entries.size()) return;
    if (pcPane.entries[static_cast<size_t>(index)].kind == pcDirectory)
        pcOpenDirectory(index);
    else
        onCommand(window, IDC_INFO, 0);
}

void onMacDoubleClick(HWND window)
{
    const int index = firstSelected(window, IDC_MAC_LIST);
    if (index < 0) return;
    setWaitCursor(true);
    const bool file = openMacEntry(index);
    setWaitCursor(false);
    if (file) onCommand(window, IDC_INFO, 0);
}

void onSortCommand(HWND window, int command)
{
    int& sort = sortOfActiveSide();
    if (command == sort) return;
    checkMenuEntry(window, sort, false);
    sort = command;
    if (activeSide == pcSide)
        refreshPcPane();
    else if (macVolumeMounted())
        relistMacFolder();
    checkMenuEntry(window, sort, true);
}

void onToggle(HWND window, int command, int& setting)
{
    const bool checked = (GetMenuState(GetMenu(window), static_cast<UINT>(command), MF_BYCOMMAND) & MF_CHECKED) != 0;
    setting = checked ? 0 : 1;
    checkMenuEntry(window, command, !checked);
}

void onOpenImage(HWND window)
{
    char path[MAX_PATH] = "";
    OPENFILENAMEA request = {};
    request.lStructSize = sizeof request;
    request.hwndOwner = window;
    request.lpstrFilter = "Disk images (*.img;*.image;*.dsk;*.hfs;*.iso)\0*.img;*.image;*.dsk;*.hfs;*.iso\0"
                          "All files (*.*)\0*.*\0";
    request.lpstrFile = path;
    request.nMaxFile = sizeof path;
    request.lpstrTitle = "Open Disk Image";
    request.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameA(&request)) return;
    const int drive = addImageDrive(path);
    if (drive < 0) {
        std::string text = "Could not open this disk image:\n";
        text += path;
        if (*imageProblem()) (text += "\n") += imageProblem();
        lastError = errNone;
        MessageBoxA(window, text.c_str(), "Open Disk Image", MB_OK | MB_ICONWARNING);
        return;
    }
    HWND box = GetDlgItem(window, IDC_MAC_DRIVE_BOX);
    if (drive < SendMessageA(box, CB_GETCOUNT, 0, 0)) return;  // open already
    SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(driveTable[drive].label));
    sizeComboDropDown(window, IDC_MAC_DRIVE_BOX, false);
}

void onFormat(HWND window)
{
    const int drive = runFormatDialog(window);
    if (drive < 0) return;
    resetMacSide(window);
    formatDrive(drive);
    if (lastError != errNone) reportLastError();
}

INT_PTR CALLBACK aboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, IDC_ABOUT_LINE, aboutLine.data());
        SetDlgItemTextA(dialog, IDC_ABOUT_TEXT, aboutText.data());
        // The button, not the text, takes the focus: the text shows unselected.
        SetFocus(GetDlgItem(dialog, IDOK));
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 1);
        return TRUE;
    }
    return FALSE;
}

void onCommand(HWND window, int id, int notification)
{
    switch (id) {
    case IDOK: {  // the Enter key
        HWND focus = GetFocus();
        if (focus == GetDlgItem(window, IDC_PC_LIST))
            onCommand(window, IDC_PC_LIST, LBN_DBLCLK);
        else if (focus == GetDlgItem(window, IDC_MAC_LIST))
            onCommand(window, IDC_MAC_LIST, LBN_DBLCLK);
        else
            for (int box : {IDC_PC_DIR_BOX, IDC_PC_DRIVE_BOX, IDC_MAC_FOLDER_BOX, IDC_MAC_DRIVE_BOX})
                if (focus == GetDlgItem(window, box)) SendMessageA(focus, CB_SHOWDROPDOWN, FALSE, 0);
        return;
    }
    case IDM_EXIT:
        shutDown(window, true);
        return;
    case IDC_PC_DIR_BOX:
        if (notification == CBN_CLOSEUP) {
            const LRESULT levels = SendDlgItemMessageA(window, IDC_PC_DIR_BOX, CB_GETCURSEL, 0, 0);
            if (levels > 0) pcGoUp(static_cast<int>(levels));
        }
        return;
    case IDC_PC_PARENT:
        pcGoUp(1);
        return;
    case IDC_PC_DRIVE_BOX:
        if (notification == CBN_DROPDOWN)
            rememberedPcDrive = SendDlgItemMessageA(window, IDC_PC_DRIVE_BOX, CB_GETCURSEL, 0, 0);
        else if (notification == CBN_CLOSEUP)
            onPcDriveChosen(window);
        return;
    case IDC_PC_LIST:
        setActiveSide(window, pcSide);
        if (notification == LBN_DBLCLK) onPcDoubleClick(window);
        return;
    case IDC_MAC_FOLDER_BOX:
        if (notification == CBN_CLOSEUP) {
            const LRESULT levels = SendDlgItemMessageA(window, IDC_MAC_FOLDER_BOX, CB_GETCURSEL, 0, 0);
            if (levels != CB_ERR) macFolderBoxChosen(static_cast<int>(levels));
        }
        return;
    case IDC_MAC_PARENT:
        setWaitCursor(true);
        macGoUp();
        setWaitCursor(false);
        return;
    case IDC_MAC_DRIVE_BOX:
        if (notification == CBN_CLOSEUP) {
            const LRESULT drive = SendDlgItemMessageA(window, IDC_MAC_DRIVE_BOX, CB_GETCURSEL, 0, 0);
            if (drive == CB_ERR) return;
            setWaitCursor(true);
            chooseMacDrive(static_cast<int>(drive));
            setWaitCursor(false);
        }
        return;
    case IDC_MAC_LIST:
        setActiveSide(window, macSide);
        if (notification == LBN_DBLCLK) onMacDoubleClick(window);
        return;
    case IDM_SELECT_ALL:
    case IDM_DESELECT_ALL:
        selectAll(window, listOfSide(activeSide), id == IDM_SELECT_ALL);
        return;
    case IDM_FORMAT:
        onFormat(window);
        return;
    case IDM_OPEN_IMAGE:
        onOpenImage(window);
        return;
    case IDM_ABOUT:
        DialogBoxParamA(appInstance, "ABOUT", window, aboutProc, 0);
        return;
    case IDM_HELP:
        openHelp(window, 0);
        return;
    case IDM_SORT_NAME:
    case IDM_SORT_EXT_OR_TYPE:
    case IDM_SORT_CREATOR:
    case IDM_SORT_SIZE:
    case IDM_SORT_DATE:
        onSortCommand(window, id);
        return;
    case IDM_MAC_COPY_SETTINGS:
        runCopySettingsDialog(window, true);
        return;
    case IDM_PC_COPY_SETTINGS:
        runCopySettingsDialog(window, false);
        return;
    case IDM_SAVE_PREFS:
        onToggle(window, id, settings.savePrefs);
        return;
    case IDM_COPY_PREFS:
        onToggle(window, id, settings.copyPrefs);
        return;
    case IDM_KEEP_DATE:
        onToggle(window, id, settings.keepDate);
        return;
    case IDC_COPY:
    case IDC_NEW_FOLDER:
    case IDC_DELETE:
    case IDC_INFO:
        if (commandAllowed(window, id)) runItemCommand(window, id, activeSide);
        return;
    }
}

}  // namespace

// ---------------------------------------------------------------------------

void setActiveSide(HWND window, int side)
{
    if (side == activeSide) return;
    activeSide = side;
    for (int id : pcLabels) EnableWindow(GetDlgItem(window, id), side == pcSide);
    for (int id : macLabels) EnableWindow(GetDlgItem(window, id), side == macSide);

    const SideTexts& texts = sideTexts[side];
    HMENU fileMenu = GetSubMenu(GetMenu(window), fileMenuPopup);
    for (int i = 0; i < 4; ++i) {
        SetDlgItemTextA(window, IDC_COPY + i, texts.commands[i]);
        DeleteMenu(fileMenu, static_cast<UINT>(IDC_COPY + i), MF_BYCOMMAND);
    }
    for (int i = 0; i < 4; ++i)
        InsertMenuA(fileMenu, static_cast<UINT>(i), MF_BYPOSITION | MF_STRING, static_cast<UINT_PTR>(IDC_COPY + i),
                    texts.commands[i]);

    HMENU sortMenu = GetSubMenu(GetMenu(window), sortMenuPopup);
    while (GetMenuItemCount(sortMenu) > 0) DeleteMenu(sortMenu, 0, MF_BYPOSITION);
    if (side == pcSide)
        for (const SortEntry& e : pcSortEntries) AppendMenuA(sortMenu, MF_STRING, static_cast<UINT_PTR>(e.command), e.text);
    else
        for (const SortEntry& e : macSortEntries) AppendMenuA(sortMenu, MF_STRING, static_cast<UINT_PTR>(e.command), e.text);
    checkMenuEntry(window, sortOfActiveSide(), true);

    selectAll(window, listOfSide(side == pcSide ? macSide : pcSide), false);
    // The Copy button's picture shows the direction.
    InvalidateRect(GetDlgItem(window, IDC_COPY), nullptr, FALSE);
}

void jumpToLetter(HWND window, int listId, char c, int caret)
{
    if (listId != IDC_PC_LIST && listId != IDC_MAC_LIST) return;
    const int count = static_cast<int>(listCount(window, listId));
    if (count <= 0) return;
    for (int step = 1; step <= count; ++step) {
        const int index = (caret + step) % count;
        const int first = paneEntryFirstChar(listId, index);
        if (first < 0 || (first | 0x20) != static_cast<unsigned char>(c)) continue;
        selectAll(window, listId, false);
        SendDlgItemMessageA(window, listId, LB_SETSEL, TRUE, index);
        return;
    }
}

void openHelp(HWND owner, uint32_t context)
{
    const std::string& path = settings.helpPath;
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const std::string text = "The help file " + std::string(helpFileName) + " is not beside the program:\n" + path;
        MessageBoxA(owner, text.c_str(), "Help", MB_OK | MB_ICONINFORMATION);
        return;
    }
    const bool opened = context ? WinHelpA(owner, path.c_str(), HELP_CONTEXT, context)
                                : WinHelpA(owner, path.c_str(), HELP_CONTENTS, 0);
    if (!opened)
        MessageBoxA(owner, "This system has no viewer for the help file VERRIN.HLP.", "Help", MB_OK | MB_ICONINFORMATION);
}

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return initialiseMainWindow(window);
    case WM_COMMAND:
        onCommand(window, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_DRAWITEM: {
        const auto& draw = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (draw.CtlType == ODT_LISTBOX)
            drawListItem(static_cast<int>(draw.CtlID), draw);
        else
            drawButton(draw);
        return TRUE;
    }
    case WM_MEASUREITEM: {
        auto& measure = *reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        measureListItem(window, static_cast<int>(measure.CtlID), measure);
        return TRUE;
    }
    case WM_VKEYTOITEM:
        // The lists ask about every key once they want characters (for
        // WM_CHARTOITEM): the arrows and the rest keep their usual action.
        return -1;
    case WM_CHARTOITEM: {
        char c = static_cast<char>(LOWORD(wParam));
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        HWND list = reinterpret_cast<HWND>(lParam);
        jumpToLetter(window, GetDlgCtrlID(list), c, static_cast<int>(HIWORD(wParam)));
        return -2;
    }
    case WM_HSCROLL:
        onHScroll(window, LOWORD(wParam), static_cast<short>(HIWORD(wParam)));
        return TRUE;
    case WM_HELP:
        openHelp(window, HELP_MAIN_WINDOW);
        SetWindowLongPtrA(window, DWLP_MSGRESULT, 1);
        return TRUE;
    }
    return FALSE;
}

}  // namespace verrin

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int)
{
    using namespace verrin;
    SetErrorMode(SEM_FAILCRITICALERRORS);
    appInstance = instance;
    char programPath[MAX_PATH + 1] = "";
    const DWORD n = GetModuleFileNameA(nullptr, programPath, MAX_PATH);
    programPath[n < MAX_PATH ? n : MAX_PATH] = '\0';
    loadSettings(companionPath(programPath, "KVOL.INI"));
    // Changes to devices are journaled beside the program; an image's
    // journal sits beside the image.
    journalFolder = companionPath(programPath, "Journals");
    // A volume found sound is not checked again until something else
    // changes it.
    verdictFolder = userCacheFolder();
    setTransferLimit(static_cast<uint32_t>(settings.maxIOBufSzK));
    unscramble(aboutLine);
    unscramble(aboutText);
    if (!previous) registerWindowClass(instance);
    DialogBoxParamA(instance, "KVOLWIN", nullptr, mainDialogProc, 0);
    saveSettings({settings.macTrans, settings.pcTrans, macPane.sort, pcPane.sort}, translationTableEntries());
    if (settings.savePrefs) saveImageList(settings.iniPath);
    closeImageDrives();
    freeButtonImages();
    deleteListFont();
    return 1;
}
