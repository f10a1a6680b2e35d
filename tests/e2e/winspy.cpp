// winspy: tells the end-to-end tests where things are on the screen of a
// running Windows program and what they show, so that the tests can click
// at the right spot and check what a person would see. It never acts on
// the program itself: keys and clicks come from xdotool.
//
// Usage (WINDOW is a window title, or class:NAME for a window class; with
// -d DESKTOP first, the windows of that desktop are searched, such as
// Wine's virtual desktop the program runs on):
//   winspy wait WINDOW [SECONDS]     exit 0 once a visible window matches
//   winspy gone WINDOW [SECONDS]     exit 0 once none matches
//   winspy center WINDOW ID          screen x y of a control's centre (ID 0:
//                                    the window's client area)
//   winspy row WINDOW ID INDEX       screen x y of the centre of a list row
//   winspy text WINDOW ID            a control's text (ID 0: the title)
//   winspy enabled WINDOW ID         1 or 0
//   winspy visible WINDOW ID         1 or 0
//   winspy list WINDOW ID            "count N selected I,J,..." of a list box
//   winspy combo WINDOW ID           the entries of a combo box, one a line,
//                                    the selected one marked with "> "
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* desktopName = nullptr;
bool onDesktop = false;

HWND findWindow(const char* selector)
{
    // The desktop may not exist yet while the program starts.
    if (desktopName && !onDesktop) {
        HDESK desktop = OpenDesktopA(desktopName, 0, FALSE, GENERIC_ALL);
        if (!desktop || !SetThreadDesktop(desktop)) return nullptr;
        onDesktop = true;
    }
    HWND window = std::strncmp(selector, "class:", 6) == 0 ? FindWindowA(selector + 6, nullptr)
                                                             : FindWindowA(nullptr, selector);
    return window && IsWindowVisible(window) ? window : nullptr;
}

HWND control(HWND window, int id) { return id == 0 ? window : GetDlgItem(window, id); }

int waitFor(const char* selector, double seconds, bool present)
{
    for (int tenths = 0; tenths <= static_cast<int>(seconds * 10); ++tenths) {
        if ((findWindow(selector) != nullptr) == present) return 0;
        Sleep(100);
    }
    return 1;
}

void printCenter(HWND item, RECT r)
{
    POINT p = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ClientToScreen(item, &p);
    std::printf("%ld %ld\n", p.x, p.y);
}

// Texts cross the process boundary as UTF-16 under Wine: ask for them in
// that form and print them as UTF-8.
void printWide(const wchar_t* text, const char* prefix)
{
    char out[2048] = "";
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, nullptr, nullptr);
    std::printf("%s%s\n", prefix, out);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::strcmp(argv[1], "-d") == 0) {
        desktopName = argv[2];
        argc -= 2;
        argv += 2;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: winspy COMMAND WINDOW [ARGS]\n");
        return 2;
    }
    const std::string command = argv[1];
    const char* selector = argv[2];
    if (command == "wait" || command == "gone")
        return waitFor(selector, argc > 3 ? std::atof(argv[3]) : 10.0, command == "wait");

    HWND window = findWindow(selector);
    if (!window) {
        std::fprintf(stderr, "winspy: no window %s\n", selector);
        return 1;
    }
    const int id = argc > 3 ? std::atoi(argv[3]) : 0;
    HWND item = control(window, id);
    if (!item) {
        std::fprintf(stderr, "winspy: no control %d\n", id);
        return 1;
    }
    if (command == "center") {
        RECT r;
        GetClientRect(item, &r);
        printCenter(item, r);
    } else if (command == "row" && argc > 4) {
        RECT r;
        if (SendMessageA(item, LB_GETITEMRECT, static_cast<WPARAM>(std::atoi(argv[4])), reinterpret_cast<LPARAM>(&r)) ==
            LB_ERR)
            return 1;
        printCenter(item, r);
    } else if (command == "text") {
        wchar_t text[1024] = L"";
        GetWindowTextW(item, text, 1024);
        printWide(text, "");
    } else if (command == "enabled") {
        std::printf("%d\n", IsWindowEnabled(item) ? 1 : 0);
    } else if (command == "visible") {
        std::printf("%d\n", IsWindowVisible(item) ? 1 : 0);
    } else if (command == "list") {
        const LRESULT count = SendMessageA(item, LB_GETCOUNT, 0, 0);
        std::printf("count %ld selected ", static_cast<long>(count));
        const char* separator = "";
        for (LRESULT i = 0; i < count; ++i)
            if (SendMessageA(item, LB_GETSEL, static_cast<WPARAM>(i), 0) > 0) {
                std::printf("%s%ld", separator, static_cast<long>(i));
                separator = ",";
            }
        std::printf("\n");
    } else if (command == "combo") {
        const LRESULT count = SendMessageA(item, CB_GETCOUNT, 0, 0);
        const LRESULT selected = SendMessageA(item, CB_GETCURSEL, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t text[512] = L"";
            if (SendMessageW(item, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) < 512)
                SendMessageW(item, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            printWide(text, i == selected ? "> " : "");
        }
    } else {
        std::fprintf(stderr, "winspy: unknown command %s\n", command.c_str());
        return 2;
    }
    return 0;
}
