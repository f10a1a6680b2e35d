// The headless user-interface table. See ui_headless.h. Calls the error
// word and the C library's standard error stream.
#include "base/ui_headless.h"

#include <cstdio>
#include <cstring>

#include "base/errors.h"

namespace verrin {

namespace headless {

std::vector<Prompt> shown;
std::vector<int> scriptedAnswers;
std::vector<NameAnswer> scriptedNames;
int cancelAfterPumps = 0;
std::vector<int> progressPercents;
std::vector<std::string> progressTitles;
std::vector<std::string> progressNames;
bool echo = false;

namespace {

int defaultAnswer(int buttons)
{
    switch (buttons) {
    case uiYesNo:
        return uiAnswerNo;
    case uiYesNoCancel:
    case uiOkCancel:
        return uiAnswerCancel;
    default:
        return uiAnswerOk;
    }
}

int headlessMessageBox(const char* text, const char* caption, int buttons, int icon)
{
    shown.push_back({text ? text : "", caption ? caption : "", buttons, icon});
    if (echo) {
        if (caption && *caption)
            std::fprintf(stderr, "%s: %s\n", caption, text ? text : "");
        else
            std::fprintf(stderr, "%s\n", text ? text : "");
    }
    if (!scriptedAnswers.empty()) {
        const int a = scriptedAnswers.front();
        scriptedAnswers.erase(scriptedAnswers.begin());
        return a;
    }
    return defaultAnswer(buttons);
}

int headlessAskNewName(bool mac, const char* name, char* newName, int newNameSize)
{
    shown.push_back({name ? name : "", mac ? "Mac Name Already Exists" : "PC Name Already Exists", uiOkCancel, 0});
    if (scriptedNames.empty()) return collisionCancel;
    NameAnswer a = scriptedNames.front();
    scriptedNames.erase(scriptedNames.begin());
    if (a.answer == collisionOk && newName && newNameSize > 0) {
        std::strncpy(newName, a.newName.c_str(), static_cast<size_t>(newNameSize - 1));
        newName[newNameSize - 1] = '\0';
    }
    return a.answer;
}

void headlessProgressOpen(const char* title, bool)
{
    progressTitles.emplace_back(title ? title : "");
}

void headlessProgressPercent(int percent) { progressPercents.push_back(percent); }
void headlessProgressName(const char* text)
{
    if (text && *text) progressNames.emplace_back(text);
}
void headlessProgressClose() {}

void headlessPump()
{
    if (cancelAfterPumps > 0 && --cancelAfterPumps == 0) lastError = errCancelled;
}

void headlessPaneChanged(unsigned) {}

int headlessCopySettings(bool macToPc)
{
    const char* title = macToPc ? "Mac to PC Copy Settings" : "PC to Mac Copy Settings";
    shown.push_back({title, title, uiOkCancel, uiNoIcon});
    if (scriptedAnswers.empty()) return 1;
    const int a = scriptedAnswers.front();
    scriptedAnswers.erase(scriptedAnswers.begin());
    return a == uiAnswerOk ? 1 : 0;
}

}  // namespace

const UiOps ops = {
    headlessMessageBox,   headlessAskNewName,    headlessProgressOpen, headlessProgressPercent,
    headlessProgressName, headlessProgressClose, headlessPump,         headlessPaneChanged,
    headlessCopySettings,
};

void reset()
{
    shown.clear();
    scriptedAnswers.clear();
    scriptedNames.clear();
    cancelAfterPumps = 0;
    progressPercents.clear();
    progressTitles.clear();
    progressNames.clear();
}

}  // namespace headless

const UiOps* ui = &headless::ops;

void installUi(const UiOps* ops) { ui = ops ? ops : &headless::ops; }

}  // namespace verrin
