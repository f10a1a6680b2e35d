// Drawing of the main window's owner-drawn lists and command buttons, the
// sideways scroll of the PC name column, the height of the path combo
// boxes' dropped lists, and the program's list font.
//
// The lists hold no strings: each line is asked from the pane formatters
// (shell/panes.h) when it is drawn, in the fixed-pitch list font, so that
// its columns line up under the column headers. Each command button shows a
// registered bitmap on a self-drawn three-dimensional face. Calls the Win32
// drawing functions and the panes' line texts.
#pragma once

#include <windows.h>

namespace verrin {

// The main window's font at normal weight; also given to the combo boxes
// and to the name fields of the dialogs.
extern HFONT listFont;
// 0 on success, -1 when the font could not be made.
int createListFont(HWND mainWindow);
void deleteListFont();

// WM_MEASUREITEM and WM_DRAWITEM of the lists 111 and 119 (others are left
// alone).
void measureListItem(HWND window, int controlId, MEASUREITEMSTRUCT& measure);
void drawListItem(int controlId, const DRAWITEMSTRUCT& draw);

// Registers the bitmaps (resource IDs; 0 for no pressed or disabled image)
// of a command button; up to ten slots. -1 when the normal ID is 0 or the
// table is full.
int registerButtonImage(HWND window, HINSTANCE module, int controlId, int normalId, int pressedId,
                        int disabledId);
// WM_DRAWITEM of the command buttons.
void drawButton(const DRAWITEMSTRUCT& draw);
void freeButtonImages();

// Scroll bar 112 moves the PC name column's first shown character
// (pcPane.hScrollPos) over 0..pcPane.overflow, the characters by which the
// longest name of the PC directory exceeds its 44-character column.
void setScrollLimit(HWND window);
void clampScroll(HWND window);
void onHScroll(HWND window, int request, int thumbPosition);

// Gives a drop-down combo box room for up to 15 entries when dropped; with
// select, selects entry 0.
void sizeComboDropDown(HWND dialog, int comboId, bool select);
// Deletes the entries above the selected one, so that it becomes entry 0,
// and resizes; returns how many were deleted (0 without a selection).
int trimComboToSelection(HWND dialog, int comboId);

}  // namespace verrin
