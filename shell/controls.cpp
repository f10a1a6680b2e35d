// Owner-drawn lists and buttons, the PC name column's scroll, combo box
// heights and the list font. See controls.h. Calls Win32 and the panes'
// line texts.
#include "shell/controls.h"

#include <cstring>
#include <initializer_list>

#include "app/panes.h"
#include "resources/kvol.h"
#include "shell/main_window.h"
#include "shell/panes.h"

namespace verrin {

HFONT listFont = nullptr;

namespace {

struct ButtonImage {
    HBITMAP normal;
    HBITMAP pressed;   // may be null
    HBITMAP disabled;  // may be null
    RECT focus;        // in the button's client coordinates
    int width;
    int height;
    int controlId;
};

constexpr int maxButtonImages = 10;
ButtonImage buttonImages[maxButtonImages];
int buttonImageCount = 0;

// How far a pressed face sinks, and the image and focus frame with it.
constexpr int pressedOffset = 2;

// Longest line a pane formats, with room to spare.
constexpr size_t lineCapacity = 128;

bool isList(int controlId) { return controlId == IDC_PC_LIST || controlId == IDC_MAC_LIST; }

void fillPolygon(HDC dc, const POINT* points, int count, int stockBrush)
{
    HRGN region = CreatePolygonRgn(points, count, ALTERNATE);
    if (!region) return;
    FillRgn(dc, region, static_cast<HBRUSH>(GetStockObject(stockBrush)));
    DeleteObject(region);
}

void fillStrip(HDC dc, LONG left, LONG top, LONG right, LONG bottom, int stockBrush)
{
    const RECT strip = {left, top, right, bottom};
    FillRect(dc, &strip, static_cast<HBRUSH>(GetStockObject(stockBrush)));
}

// The face: light grey, a black frame 2 pixels wide, and either a raised
// bevel (white top and left, grey bottom and right) or, pressed, a grey
// shadow along the top and left.
void drawButtonFace(HDC dc, const RECT& r, bool pressed)
{
    const LONG L = r.left, T = r.top, R = r.right, B = r.bottom;
    FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
    fillStrip(dc, L, T, L + 2, B, BLACK_BRUSH);
    fillStrip(dc, L, T, R, T + 2, BLACK_BRUSH);
    fillStrip(dc, R - 2, T, R, B, BLACK_BRUSH);
    fillStrip(dc, L, B - 2, R, B, BLACK_BRUSH);
    if (!pressed) {
        const POINT highlight[] = {{L + 2, B - 2}, {L + 2, T + 2}, {R - 2, T + 2},
                                   {R - 4, T + 4}, {L + 4, T + 4}, {L + 4, B - 4}};
        fillPolygon(dc, highlight, 6, WHITE_BRUSH);
        const POINT shadow[] = {{R - 2, T + 2}, {R - 2, B - 2}, {L + 2, B - 2},
                                {L + 3, B - 4}, {R - 4, B - 4}, {R - 4, T + 5}};
        fillPolygon(dc, shadow, 6, GRAY_BRUSH);
    } else {
        const POINT shadow[] = {{L + 2, B - 2}, {L + 2, T + 2}, {R - 2, T + 2},
                                {R - 2, T + 4}, {L + 4, T + 4}, {L + 4, B - 2}};
        fillPolygon(dc, shadow, 6, GRAY_BRUSH);
    }
}

void drawFocusFrame(HDC dc, const ButtonImage& slot, bool pressed)
{
    RECT focus = slot.focus;
    if (pressed) OffsetRect(&focus, pressedOffset, pressedOffset);
    DrawFocusRect(dc, &focus);
}

}  // namespace

int createListFont(HWND window)
{
    HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
    LOGFONTA description;
    if (!dialogFont || GetObjectA(dialogFont, sizeof description, &description) != sizeof description) return -1;
    description.lfWeight = FW_NORMAL;
    // The columns line up only in a fixed-pitch face; where the dialog's
    // face is missing the system picks one of those.
    description.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    listFont = CreateFontIndirectA(&description);
    return listFont ? 0 : -1;
}

void deleteListFont()
{
    if (listFont) DeleteObject(listFont);
    listFont = nullptr;
}

void measureListItem(HWND window, int controlId, MEASUREITEMSTRUCT& measure)
{
    if (!isList(controlId)) return;
    // The lists are measured while the dialog creates them, before the list
    // font exists: the list's own device context then has the system font.
    HWND list = GetDlgItem(window, controlId);
    RECT client = {0, 0, 0, 0};
    if (list) GetClientRect(list, &client);
    TEXTMETRICA metrics = {};
    HDC dc = GetDC(list);
    HGDIOBJ old = listFont ? SelectObject(dc, listFont) : nullptr;
    GetTextMetricsA(dc, &metrics);
    if (old) SelectObject(dc, old);
    ReleaseDC(list, dc);
    const double factor = metrics.tmHeight <= 18 ? 0.875 : 0.8;
    measure.itemHeight = static_cast<UINT>(metrics.tmHeight * factor);
    measure.itemWidth = static_cast<UINT>(client.right - client.left);
}

void drawListItem(int controlId, const DRAWITEMSTRUCT& draw)
{
    if (!isList(controlId)) return;
    // The lists never show a focus rectangle.
    if ((draw.itemAction & ODA_FOCUS) != 0 || static_cast<int>(draw.itemID) < 0) return;
    HDC dc = draw.hDC;
    const int saved = SaveDC(dc);
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &draw.rcItem, nullptr, 0, nullptr);
    if (listingVisible) {
        if (listFont) SelectObject(dc, listFont);
        SetBkMode(dc, TRANSPARENT);
        if ((draw.itemState & ODS_SELECTED) != 0) {
            HBRUSH caption = CreateSolidBrush(GetSysColor(COLOR_ACTIVECAPTION));
            FillRect(dc, &draw.rcItem, caption);
            DeleteObject(caption);
            SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
        }
        char line[lineCapacity];
        if (paneLineText(controlId, static_cast<int>(draw.itemID), line, sizeof line))
            TextOutA(dc, draw.rcItem.left + 2, draw.rcItem.top, line, static_cast<int>(std::strlen(line)));
    }
    RestoreDC(dc, saved);
}

int registerButtonImage(HWND window, HINSTANCE module, int controlId, int normalId, int pressedId, int disabledId)
{
    if (normalId == 0 || buttonImageCount >= maxButtonImages) return -1;
    ButtonImage& slot = buttonImages[buttonImageCount];
    slot = {};
    slot.controlId = controlId;
    slot.normal = LoadBitmapA(module, MAKEINTRESOURCEA(normalId));
    if (!slot.normal) return -1;
    BITMAP info = {};
    GetObjectA(slot.normal, sizeof info, &info);
    slot.width = info.bmWidth;
    slot.height = info.bmHeight;
    if (pressedId) slot.pressed = LoadBitmapA(module, MAKEINTRESOURCEA(pressedId));
    if (disabledId) slot.disabled = LoadBitmapA(module, MAKEINTRESOURCEA(disabledId));
    RECT button = {0, 0, 0, 0};
    GetWindowRect(GetDlgItem(window, controlId), &button);
    const LONG W = button.right - button.left, H = button.bottom - button.top;
    const LONG x = (W - slot.width + 1) / 2, y = (H - slot.height + 1) / 2;
    slot.focus = {x - 2, y - 2, x + slot.width + 2, y + slot.height + 2};
    ++buttonImageCount;
    return 0;
}

void drawButton(const DRAWITEMSTRUCT& draw)
{
    if (draw.CtlType != ODT_BUTTON) return;
    int index = -1;
    for (int i = 0; i < buttonImageCount; ++i)
        if (buttonImages[i].controlId == static_cast<int>(draw.CtlID)) {
            index = i;
            break;
        }
    if (index < 0) return;
    // The Copy button shows its second image while copying from the Mac.
    if (draw.CtlID == IDC_COPY && activeSide == macSide && index + 1 < buttonImageCount) ++index;
    const ButtonImage& slot = buttonImages[index];
    const bool pressed = (draw.itemState & ODS_SELECTED) != 0;
    const bool focused = (draw.itemState & ODS_FOCUS) != 0;
    HDC dc = draw.hDC;

    if ((draw.itemAction & (ODA_DRAWENTIRE | ODA_SELECT)) == 0) {
        // Only the focus changed: the dotted frame inverts, so drawing it
        // again takes it away when the focus left.
        drawFocusFrame(dc, slot, pressed);
        return;
    }
    const RECT& r = draw.rcItem;
    drawButtonFace(dc, r, pressed);
    HBITMAP image = slot.normal;
    if ((draw.itemState & ODS_DISABLED) != 0 && slot.disabled)
        image = slot.disabled;
    else if (pressed && slot.pressed)
        image = slot.pressed;
    LONG x = r.left + (r.right - r.left - slot.width + 1) / 2;
    LONG y = r.top + (r.bottom - r.top - slot.height + 1) / 2;
    if (pressed && !slot.pressed) {
        x += pressedOffset;
        y += pressedOffset;
    }
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, image);
    BitBlt(dc, x, y, slot.width, slot.height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    if (focused) drawFocusFrame(dc, slot, pressed);
}

void freeButtonImages()
{
    for (int i = 0; i < buttonImageCount; ++i) {
        for (HBITMAP b : {buttonImages[i].normal, buttonImages[i].pressed, buttonImages[i].disabled})
            if (b) DeleteObject(b);
        buttonImages[i] = {};
    }
    buttonImageCount = 0;
}

void setScrollLimit(HWND window)
{
    SetScrollRange(GetDlgItem(window, IDC_PC_HSCROLL), SB_CTL, 0, pcPane.overflow, FALSE);
    pcPane.hScrollPos = 0;
    clampScroll(window);
}

void clampScroll(HWND window)
{
    int32_t& position = pcPane.hScrollPos;
    if (position > pcPane.overflow) position = pcPane.overflow;
    if (position < 0) position = 0;
    HWND bar = GetDlgItem(window, IDC_PC_HSCROLL);
    if (GetScrollPos(bar, SB_CTL) != position) {
        SetScrollPos(bar, SB_CTL, position, TRUE);
        InvalidateRect(GetDlgItem(window, IDC_PC_LIST), nullptr, FALSE);
    }
}

void onHScroll(HWND window, int request, int thumbPosition)
{
    int32_t& position = pcPane.hScrollPos;
    switch (request) {
    case SB_LINELEFT:
        position -= 1;
        break;
    case SB_LINERIGHT:
        position += 1;
        break;
    case SB_PAGELEFT:
        position -= 10;
        break;
    case SB_PAGERIGHT:
        position += 10;
        break;
    case SB_THUMBTRACK:
        position = thumbPosition;
        break;
    default:
        return;
    }
    clampScroll(window);
}

void sizeComboDropDown(HWND dialog, int comboId, bool select)
{
    HWND combo = GetDlgItem(dialog, comboId);
    if (listingVisible) {
        LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
        if (count > 15) count = 15;
        if (count < 0) count = 0;
        const LRESULT itemHeight = SendMessageA(combo, CB_GETITEMHEIGHT, 0, 0);
        RECT r;
        GetWindowRect(combo, &r);
        const int height = static_cast<int>(r.bottom - r.top + count * itemHeight + 8);
        SetWindowPos(combo, nullptr, 0, 0, r.right - r.left, height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
    }
    if (select) SendMessageA(combo, CB_SETCURSEL, 0, 0);
}

int trimComboToSelection(HWND dialog, int comboId)
{
    HWND combo = GetDlgItem(dialog, comboId);
    const LRESULT selected = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (selected == CB_ERR) return 0;
    for (LRESULT i = 0; i < selected; ++i) SendMessageA(combo, CB_DELETESTRING, 0, 0);
    sizeComboDropDown(dialog, comboId, true);
    return static_cast<int>(selected);
}

}  // namespace verrin
