// The user-interface seam.
//
// The engine, the formatters and the transfer layer ask questions, show
// messages, prompt for a new name and drive the progress window only through
// the table of operations installed here. The Windows program installs its
// dialogs; tests and the command-line tool install the headless table
// (base/ui_headless.h). Calls nothing else.
#pragma once

#include <cstdint>

namespace verrin {

enum UiButtons : int { uiOk = 0, uiOkCancel = 1, uiYesNo = 4, uiYesNoCancel = 3 };
enum UiIcon : int { uiNoIcon = 0, uiIconStop = 0x10, uiIconQuestion = 0x20, uiIconWarning = 0x30, uiIconInfo = 0x40 };
enum UiAnswer : int { uiAnswerOk = 1, uiAnswerCancel = 2, uiAnswerYes = 6, uiAnswerNo = 7 };

// Result of the two name-collision dialogs.
enum CollisionAnswer : int { collisionOk = 0, collisionSkip = 1, collisionCancel = 2, collisionOverwrite = 3 };

// Parts of the two panes that a change of the pane records (app/panes.h)
// asks the window to show again.
enum PanePart : unsigned {
    panePcList = 1,          // the PC entries: refill the PC file list
    panePcDirectoryBox = 2,  // the PC directory box and its ".." button
    panePcDriveLabel = 4,    // the "PC Drive:" label
    paneMacList = 8,         // the Mac entries: refill the Mac file list
    paneMacFolderBox = 16,   // the Mac folder box and its ".." button
    paneMacDriveLabel = 32,  // the "Mac Drive:" label
    paneMacDriveBox = 64,    // the Mac drive box: show no selection
    paneKeepTopLine = 128,   // with a list bit: keep the list's first visible line
    paneRedrawLists = 256,   // repaint both lists' lines: the arrays kept their count and order
};

struct UiOps {
    // A message box. caption null means the system's default caption.
    // Returns one of UiAnswer.
    int (*messageBox)(const char* text, const char* caption, int buttons, int icon);
    // The "PC/Mac Name Already Exists" dialogs: mac selects which; name is
    // the name in question; on collisionOk newName (capacity newNameSize)
    // holds the text typed.
    int (*askNewName)(bool mac, const char* name, char* newName, int newNameSize);
    // The progress window: open with a title (bar hidden when showBar is
    // false), update the bar to a percentage, set the name line, close.
    void (*progressOpen)(const char* title, bool showBar);
    void (*progressPercent)(int percent);
    void (*progressName)(const char* text);
    void (*progressClose)();
    // Lets pending window messages run; a Cancel pressed meanwhile sets
    // lastError to errCancelled.
    void (*pumpMessages)();
    // The pane records changed: show the PanePart bits in `parts` again.
    // While a tree walk has the listings frozen only the directory and
    // folder boxes are announced.
    void (*paneChanged)(unsigned parts);
    // The copy settings dialog of one direction ("Mac to PC Copy Settings"
    // when macToPc, else "PC to Mac Copy Settings"), shown before a copy
    // while CopyPrefs is on: 1 for OK (the dialog stored its values), 0 for
    // Cancel (the copy is abandoned).
    int (*copySettingsDialog)(bool macToPc);
};

// The installed table; never null (the headless table is the default).
extern const UiOps* ui;
void installUi(const UiOps* ops);

inline int messageBox(const char* text, const char* caption, int buttons, int icon)
{
    return ui->messageBox(text, caption, buttons, icon);
}

inline void pumpMessages() { ui->pumpMessages(); }

}  // namespace verrin
