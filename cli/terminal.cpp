// verrin-cli on a terminal: the progress window as one line on standard
// error (only while that is a terminal), and Ctrl-C as the progress
// window's Cancel. A second Ctrl-C ends the program at once.
// Calls the user-interface seam and the operating system.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "base/errors.h"
#include "base/format.h"
#include "base/progress.h"
#include "base/ui.h"
#include "cli/commands.h"

namespace verrin::cli {

namespace {

std::atomic<bool> interrupted{false};

#ifdef _WIN32
BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (interrupted.exchange(true)) return FALSE;  // the second one: the system's way
    return TRUE;
}
#else
extern "C" void onInterrupt(int)
{
    if (interrupted.exchange(true)) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
    }
}
#endif

bool isTerminal(std::FILE* stream)
{
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

// The line being shown: the window's title, the files named so far (each
// copied file names itself once), the bytes and share done and the
// current name.
struct ProgressLine {
    bool open = false;
    bool drawn = false;
    std::string title;
    std::string name;
    int percent = -1;
    uint32_t files = 0;
    std::chrono::steady_clock::time_point lastDrawn{};
};
ProgressLine line;
std::string lastName;
bool onTerminal = false;
UiOps terminalUi;

std::string trimmedSize(uint64_t bytes)
{
    std::string text = formatSize(static_cast<double>(bytes));
    text.erase(0, text.find_first_not_of(' '));
    return text;
}

void draw(bool force)
{
    if (!onTerminal || !line.open) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - line.lastDrawn < std::chrono::milliseconds(100)) return;
    line.lastDrawn = now;
    std::string text = line.title;
    if (line.files) text += ": " + std::to_string(line.files) + (line.files == 1 ? " file" : " files");
    if (progressTotal > 0)
        text += ", " + trimmedSize(progressDone) + " of " + trimmedSize(progressTotal) + " bytes";
    if (line.percent >= 0) text += ", " + std::to_string(line.percent) + "%";
    if (!line.name.empty()) text += "  " + line.name;
    if (text.size() > 78) text = text.substr(0, 75) + "...";
    std::fprintf(stderr, "\r%-78s", text.c_str());
    std::fflush(stderr);
    line.drawn = true;
}

void progressOpen(const char* title, bool)
{
    line = ProgressLine{};
    lastName.clear();
    line.open = true;
    line.title = title ? title : "";
    draw(true);
}

void progressPercent(int percent)
{
    line.percent = percent;
    draw(false);
}

void progressName(const char* text)
{
    std::string name = text ? text : "";
    if (name == line.name) return;
    // A copy names each file as it starts it; a search shows its counts.
    if (progressTotal > 0) {
        lastName = name;
        ++line.files;
    }
    for (char& c : name)
        if (c == '\n') c = ' ';
    line.name = name;
    draw(false);
}

void progressClose()
{
    if (onTerminal && line.drawn) {
        draw(true);
        std::fputc('\n', stderr);
    }
    line = ProgressLine{};
}

void pump()
{
    if (interrupted && lastError == errNone) lastError = errCancelled;
}

}  // namespace

void installTerminalUi()
{
    onTerminal = isTerminal(stderr);
    terminalUi = *ui;
    terminalUi.progressOpen = progressOpen;
    terminalUi.progressPercent = progressPercent;
    terminalUi.progressName = progressName;
    terminalUi.progressClose = progressClose;
    terminalUi.pumpMessages = pump;
    installUi(&terminalUi);
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    std::signal(SIGINT, onInterrupt);
#endif
}

bool wasInterrupted() { return interrupted; }

bool terminalInput() { return isTerminal(stdin); }

std::string lastProgressName() { return lastName; }

}  // namespace verrin::cli
