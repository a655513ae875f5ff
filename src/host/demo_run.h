#pragma once
// A scripted consolidation through the real screen, for runs without a display: the screen is
// opened from the menu's code, its filter filled, two requests picked in the request picker and
// the confirm button pressed, as a user would; the dialogs are answered by the script.

#include <QString>

namespace host {

class MainWindow;

// Runs the script in `window` and saves demo-screen.png, demo-picker.png and demo-result.png
// in `dir` (created when missing). Prints the report dialog's text on stdout and every error
// on stderr. Returns 0 when the run reported a generated number, else 1.
int runDemo(MainWindow& window, const QString& dir);

}  // namespace host
