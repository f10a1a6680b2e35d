// The modal dialogs. See dialogs.h.
#include "shell/dialogs.h"

#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "app/batch.h"
#include "app/dialogs.h"
#include "app/panes.h"
#include "app/report.h"
#include "base/settings.h"
#include "hfs/drive.h"
#include "hfs/format.h"
#include "resources/kvol.h"
#include "shell/controls.h"
#include "shell/main_window.h"
#include "shell/panes.h"
#include "shell/ui_win32.h"
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

// ---------------------------------------------------------------------------
// The item dialogs: DOSINFO, DOSDIRINFO, MACINFO, MACFLDRINFO, CREATEFLD,
// CREATEDIR. One procedure serves all six; the kind says which fields the
// template has and which decision OK hands the texts to.

enum class ItemKind { pcFile, pcDirectory, macFile, macFolder, createMacFolder, createPcDirectory };

struct ItemRequest {
    ItemKind kind;
    const PcEntry* pcEntry;
    const MacEntry* macEntry;
};

bool namesPcItem(ItemKind kind)
{
    return kind == ItemKind::pcFile || kind == ItemKind::pcDirectory || kind == ItemKind::createPcDirectory;
}

std::string fieldText(HWND dialog, int id)
{
    char text[pcNameFieldLength + 1] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void enableItemOk(HWND dialog, ItemKind kind)
{
    const std::string name = fieldText(dialog, IDC_ITEM_NAME);
    const bool ok = kind == ItemKind::macFile
                        ? macFileOkEnabled(name, fieldText(dialog, IDC_ITEM_TYPE), fieldText(dialog, IDC_ITEM_CREATOR))
                        : nameOkEnabled(name);
    EnableWindow(GetDlgItem(dialog, IDOK), ok);
}

void initialiseItemDialog(HWND dialog, const ItemRequest& request)
{
    HWND name = GetDlgItem(dialog, IDC_ITEM_NAME);
    setFieldFont(dialog, IDC_ITEM_NAME);
    SendMessageA(name, EM_LIMITTEXT, namesPcItem(request.kind) ? pcNameFieldLength : macNameFieldLength, 0);
    if (namesPcItem(request.kind)) filterPcNameField(name);
    ItemInfo info{};
    if (request.pcEntry) info = itemInfo(*request.pcEntry);
    if (request.macEntry) info = itemInfo(*request.macEntry);
    if (request.pcEntry || request.macEntry) {
        SetWindowTextA(name, info.name.c_str());
        SetDlgItemTextA(dialog, IDC_ITEM_SIZE, info.size.c_str());
        SetDlgItemTextA(dialog, IDC_ITEM_DATA_SIZE, info.size.c_str());
        SetDlgItemTextA(dialog, IDC_ITEM_RSRC_SIZE, info.rsrcSize.c_str());
        SetDlgItemTextA(dialog, IDC_ITEM_DATE, info.modified.c_str());
    }
    if (request.kind == ItemKind::macFile) {
        for (int id : {IDC_ITEM_TYPE, IDC_ITEM_CREATOR}) {
            setFieldFont(dialog, id);
            SendDlgItemMessageA(dialog, id, EM_LIMITTEXT, macCodeFieldLength, 0);
        }
        SetDlgItemTextA(dialog, IDC_ITEM_TYPE, info.type.c_str());
        SetDlgItemTextA(dialog, IDC_ITEM_CREATOR, info.creator.c_str());
    }
    enableItemOk(dialog, request.kind);
}

int acceptItemDialog(HWND dialog, const ItemRequest& request)
{
    const std::string name = fieldText(dialog, IDC_ITEM_NAME);
    switch (request.kind) {
    case ItemKind::pcFile:
    case ItemKind::pcDirectory:
        return pcItemInfoOk(*request.pcEntry, name);
    case ItemKind::macFile:
        return macFileInfoOk(*request.macEntry, name, fieldText(dialog, IDC_ITEM_TYPE),
                             fieldText(dialog, IDC_ITEM_CREATOR));
    case ItemKind::macFolder:
        return macFolderInfoOk(*request.macEntry, name);
    case ItemKind::createMacFolder:
        return createMacFolderOk(name);
    case ItemKind::createPcDirectory:
        return createPcDirectoryOk(name);
    }
    return 0;
}

INT_PTR CALLBACK itemProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        initialiseItemDialog(dialog, *reinterpret_cast<const ItemRequest*>(lParam));
        return TRUE;
    case WM_COMMAND: {
        const auto& request = *reinterpret_cast<const ItemRequest*>(GetWindowLongPtrA(dialog, DWLP_USER));
        switch (LOWORD(wParam)) {
        case IDC_ITEM_NAME:
        case IDC_ITEM_TYPE:
        case IDC_ITEM_CREATOR:
            if (HIWORD(wParam) == EN_CHANGE) enableItemOk(dialog, request.kind);
            return TRUE;
        case IDOK:
            EndDialog(dialog, acceptItemDialog(dialog, request));
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    }
    }
    return FALSE;
}

int runItemDialog(HWND owner, const char* templateName, const ItemRequest& request)
{
    const INT_PTR result = DialogBoxParamA(appInstance, templateName, owner, itemProc, reinterpret_cast<LPARAM>(&request));
    return result > 0 ? static_cast<int>(result) : 0;
}

// ---------------------------------------------------------------------------
// The copy settings dialogs, PREFMAC and PREFPC.

struct SettingsRequest {
    bool macToPc;
    CopySettingsForm form;
};

void setCheck(HWND dialog, int id, bool checked) { CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED); }
bool isChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// The fields that follow the translation chosen: its defaults and whether
// the map may be used.
void showTranslationDefaults(HWND dialog, const SettingsRequest& request)
{
    const CopySettingsForm& form = request.form;
    if (request.macToPc) {
        SetDlgItemTextA(dialog, IDC_PREF_EXTENSION, form.extension.c_str());
    } else {
        SetDlgItemTextA(dialog, IDC_PREF_TYPE, form.type.c_str());
        SetDlgItemTextA(dialog, IDC_PREF_CREATOR, form.creator.c_str());
    }
    EnableWindow(GetDlgItem(dialog, IDC_PREF_USE_MAP), form.mapEnabled);
}

void initialiseSettingsDialog(HWND dialog, SettingsRequest& request)
{
    CopySettingsForm& form = request.form;
    form = openCopySettings(request.macToPc);
    HWND list = GetDlgItem(dialog, IDC_PREF_TRANSLATION);
    for (const char* name : translationNames) SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(form.translation), 0);
    setCheck(dialog, IDC_PREF_USE_MAP, form.useMap);
    setCheck(dialog, IDC_PREF_COPY_DIR, form.copyDir);
    setCheck(dialog, IDC_PREF_FILTER, form.filter);
    const struct {
        int id;
        int length;
        const std::string* text;
    } fields[] = {
        {IDC_PREF_EXTENSION, pcExtensionFieldLength, &form.extension},
        {IDC_PREF_TYPE, macCodeFieldLength, &form.type},
        {IDC_PREF_CREATOR, macCodeFieldLength, &form.creator},
        {IDC_PREF_FILTER_TYPE, macCodeFieldLength, &form.filterType},
        {IDC_PREF_FILTER_CREATOR, macCodeFieldLength, &form.filterCreator},
        {IDC_PREF_FILTER_EXT, request.macToPc ? macFilterExtFieldLength : pcExtensionFieldLength, &form.filterExt},
    };
    for (const auto& field : fields) {
        if (!GetDlgItem(dialog, field.id)) continue;
        setFieldFont(dialog, field.id);
        SendDlgItemMessageA(dialog, field.id, EM_LIMITTEXT, static_cast<WPARAM>(field.length), 0);
        SetDlgItemTextA(dialog, field.id, field.text->c_str());
    }
    if (request.macToPc) {
        setCheck(dialog, IDC_PREF_AUTO_RENAME, form.autoRename);
        setCheck(dialog, IDC_PREF_ALLOW_UPPER, form.allowUpper);
    }
    showTranslationDefaults(dialog, request);
}

void readSettingsDialog(HWND dialog, SettingsRequest& request)
{
    CopySettingsForm& form = request.form;
    form.translation = static_cast<int>(SendDlgItemMessageA(dialog, IDC_PREF_TRANSLATION, CB_GETCURSEL, 0, 0));
    form.useMap = isChecked(dialog, IDC_PREF_USE_MAP);
    form.copyDir = isChecked(dialog, IDC_PREF_COPY_DIR);
    form.filter = isChecked(dialog, IDC_PREF_FILTER);
    if (request.macToPc) {
        form.extension = fieldText(dialog, IDC_PREF_EXTENSION);
        form.filterType = fieldText(dialog, IDC_PREF_FILTER_TYPE);
        form.filterCreator = fieldText(dialog, IDC_PREF_FILTER_CREATOR);
        form.autoRename = isChecked(dialog, IDC_PREF_AUTO_RENAME);
        form.allowUpper = isChecked(dialog, IDC_PREF_ALLOW_UPPER);
    } else {
        form.type = fieldText(dialog, IDC_PREF_TYPE);
        form.creator = fieldText(dialog, IDC_PREF_CREATOR);
    }
    form.filterExt = fieldText(dialog, IDC_PREF_FILTER_EXT);
}

INT_PTR CALLBACK settingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        initialiseSettingsDialog(dialog, *reinterpret_cast<SettingsRequest*>(lParam));
        return TRUE;
    case WM_HELP: {
        const auto& request = *reinterpret_cast<const SettingsRequest*>(GetWindowLongPtrA(dialog, DWLP_USER));
        openHelp(dialog, request.macToPc ? HELP_MAC_COPY_SETTINGS : HELP_PC_COPY_SETTINGS);
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 1);
        return TRUE;
    }
    case WM_COMMAND: {
        auto& request = *reinterpret_cast<SettingsRequest*>(GetWindowLongPtrA(dialog, DWLP_USER));
        switch (LOWORD(wParam)) {
        case IDC_PREF_TRANSLATION:
            if (HIWORD(wParam) == CBN_SELCHANGE) {
                const int translation =
                    static_cast<int>(SendDlgItemMessageA(dialog, IDC_PREF_TRANSLATION, CB_GETCURSEL, 0, 0));
                chooseCopyTranslation(request.form, request.macToPc, translation);
                showTranslationDefaults(dialog, request);
            }
            return TRUE;
        case IDOK:
            readSettingsDialog(dialog, request);
            storeCopySettings(request.form, request.macToPc);
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    }
    }
    return FALSE;
}

// The four item commands. Each runs after the main window's checks.

std::vector<int> selectedIndexes(HWND window, int listId)
{
    HWND list = GetDlgItem(window, listId);
    const LRESULT count = SendMessageA(list, LB_GETSELCOUNT, 0, 0);
    std::vector<int> indexes(count > 0 ? static_cast<size_t>(count) : 0);
    if (count > 0)
        SendMessageA(list, LB_GETSELITEMS, static_cast<WPARAM>(count), reinterpret_cast<LPARAM>(indexes.data()));
    return indexes;
}

// Copy or Delete on a side's selection. A copy changes the other side, a
// deletion this one: that pane is read again when the command ran.
void batchCommand(HWND window, int command, int side)
{
    const std::vector<int> selection = selectedIndexes(window, side == pcSide ? IDC_PC_LIST : IDC_MAC_LIST);
    const bool copy = command == IDC_COPY;
    using Batch = BatchResult (*)(std::span<const int>);
    const Batch run = side == pcSide ? (copy ? copyPcToMac : deletePcItems) : (copy ? copyMacToPc : deleteMacItems);
    if (!run(selection).ran) return;
    if ((side == pcSide) != copy)
        refreshPcPane();
    else
        refreshMacFolder();
}

void newFolderCommand(HWND window, int side)
{
    if (side == pcSide) {
        const int created = runItemDialog(window, "CREATEDIR", {ItemKind::createPcDirectory, nullptr, nullptr});
        reportLastError();
        if (created) refreshPcPane();
        return;
    }
    const int created = runItemDialog(window, "CREATEFLD", {ItemKind::createMacFolder, nullptr, nullptr});
    reportLastError();
    if (!created) return;
    flushVolume();
    UpdateWindow(window);
    reportLastError();
    refreshMacFolder();
    reportLastError();
}

void infoCommand(HWND window, int side)
{
    const int listId = side == pcSide ? IDC_PC_LIST : IDC_MAC_LIST;
    const LRESULT caret = SendDlgItemMessageA(window, listId, LB_GETCARETINDEX, 0, 0);
    if (caret < 0) return;
    const size_t index = static_cast<size_t>(caret);
    if (side == pcSide) {
        if (index >= pcPane.entries.size()) return;
        const PcEntry& entry = pcPane.entries[index];
        const bool directory = entry.kind == pcDirectory;
        const int changed = runItemDialog(window, directory ? "DOSDIRINFO" : "DOSINFO",
                                          {directory ? ItemKind::pcDirectory : ItemKind::pcFile, &entry, nullptr});
        if (changed == 1) refreshPcPane();
        reportLastError();
        return;
    }
    if (index >= macPane.entries.size()) return;
    macPane.selected = static_cast<int>(index);
    const MacEntry entry = macPane.entries[index];
    int changed = 0;
    if (entry.kind == macFolder) {
        changed = runItemDialog(window, "MACFLDRINFO", {ItemKind::macFolder, nullptr, &entry});
    } else if (entry.kind == macFile) {
        changed = runItemDialog(window, "MACINFO", {ItemKind::macFile, nullptr, &entry});
        UpdateWindow(window);
    }
    if (changed == 1) relistMacFolder();
    reportLastError();
}

}  // namespace

int runFormatDialog(HWND owner)
{
    const INT_PTR drive = DialogBoxParamA(appInstance, "FORMAT", owner, formatProc, 0);
    return drive >= 0 && drive < driveCount ? static_cast<int>(drive) : -1;
}

bool runCopySettingsDialog(HWND owner, bool macToPc)
{
    SettingsRequest request{macToPc, {}};
    return DialogBoxParamA(appInstance, macToPc ? "PREFMAC" : "PREFPC", owner, settingsProc,
                           reinterpret_cast<LPARAM>(&request)) == 1;
}

void runItemCommand(HWND window, int command, int side)
{
    switch (command) {
    case IDC_COPY:
    case IDC_DELETE:
        batchCommand(window, command, side);
        break;
    case IDC_NEW_FOLDER:
        newFolderCommand(window, side);
        break;
    case IDC_INFO:
        infoCommand(window, side);
        break;
    }
}

}  // namespace verrin
