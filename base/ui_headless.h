// The headless user interface: scripted answers for tests, flags and
// terminal output for the command-line tool.
//
// Questions are answered from a queue of scripted answers; when the queue is
// empty the default answer for the button set is given (No for Yes/No
// questions, Cancel for OK/Cancel, OK for plain messages). Every message and
// question is recorded so tests can see what the user would have seen.
// Calls only the seam in base/ui.h and the error word.
#pragma once

#include <string>
#include <vector>

#include "base/ui.h"

namespace verrin::headless {

struct Prompt {
    std::string text;
    std::string caption;
    int buttons;
    int icon;
};

// The table itself; installed by default.
extern const UiOps ops;

// Everything shown since the last reset. The copy settings dialogs are
// recorded here too, with their title as text and caption, and answered
// from scriptedAnswers like a message box (uiAnswerOk or uiAnswerCancel);
// with no answer scripted they end with OK.
extern std::vector<Prompt> shown;
// Answers given to the next message boxes, in order.
extern std::vector<int> scriptedAnswers;
// Answers and names given to the next collision prompts, in order.
struct NameAnswer {
    int answer;
    std::string newName;
};
extern std::vector<NameAnswer> scriptedNames;
// When set, the next n calls to pumpMessages set errCancelled on the n-th
// (0: never cancel).
extern int cancelAfterPumps;
// Percentages reported to the progress window, the titles it was opened
// with and the texts of its name line.
extern std::vector<int> progressPercents;
extern std::vector<std::string> progressTitles;
extern std::vector<std::string> progressNames;
// When true, messages and questions are echoed to standard error.
extern bool echo;

void reset();

}  // namespace verrin::headless
