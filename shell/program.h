// The program's start-up and run, apart from main() so that tests can drive them.
#pragma once

#include "system/startup.h"

#include <QString>

#include <memory>

class MainWindow;
struct CommandLine;

// The start-up the desktop program asks for: the data folder chosen and entered when it runs
// from a command line (tests start in the folder they are in), the default files folder made.
StartupOptions WindowStartup(const CommandLine* line);
// Every start-up message on standard error, one a line. Returns report.started.
bool SayStartup(const StartupReport& report);
// What stopped the start, in a message box where a user can see one (not under the offscreen or
// minimal platforms); needs a QApplication.
void ShowStartupStop(const StartupReport& report);
// The exit code of a start that stopped: 2 for a data folder that cannot be used, 1 for a
// missing ROM image; 0 when it started.
int StartupExitCode(const StartupReport& report);
// Platforms with no screen a user could see a message box on.
bool PlatformIsHeadless();

// True when Qt can open a window: an X or Wayland display is set, or a platform that needs none
// (offscreen) was chosen.
bool DisplayAvailable(int argc, char** argv);

// The main window shown, then the ProcessorThread; a program file on the command line is typed in
// once the machine waits for input. started: the start-up main() ran; without it the start-up
// runs here in the working directory (said on standard error). When it stopped (a ROM image is
// missing) it is said in a message box where a user can see one, and null is returned. Needs a
// QApplication.
std::unique_ptr<MainWindow> StartLunabrik(const CommandLine* line = nullptr,
                                          const StartupReport* started = nullptr);

// What start-up has to tell the user in the status bar: the notes (font.bin missing, Files/ made
// or not), then the warnings (a speed that all but stops the machine).
QString StartupNotice(const StartupReport& report);

// Start-up when not done yet, then the event loop; the program's exit code: 0 after Quit or the
// close box, else StartupExitCode.
int RunLunabrik(const CommandLine* line = nullptr, const StartupReport* started = nullptr);
