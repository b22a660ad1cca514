// The program's start-up and run, apart from main() so that tests can drive them.
#pragma once

#include <QString>

#include <memory>
#include <string>
#include <vector>

class MainWindow;
struct CommandLine;
struct BootReport;

// The folders the start looked in for the images (named in the missing-ROM message).
void SetFoldersLookedIn(const std::vector<std::string>& folders);

// The machine's start-up (settings, ROM images, character generator, the default files folder,
// processor reset), with what went wrong said on standard error. False when a ROM image is
// missing. Needs no display.
bool StartCore(BootReport& report);

// True when Qt can open a window: an X or Wayland display is set, or a platform that needs none
// (offscreen) was chosen.
bool DisplayAvailable(int argc, char** argv);

// Start-up, in order: the machine (StartCore), then the main window (display, RenderThread,
// 20 ms tick) shown, then the ProcessorThread; a program file on the command line is typed in once
// the machine waits for input. When a ROM image is missing it says so on standard error and,
// where a user can see one, in a message box, and returns null. Needs a QApplication.
std::unique_ptr<MainWindow> StartLunabrik(const CommandLine* line = nullptr);

// What start-up has to tell the user in the status bar (font.bin missing, Files/ created or not).
QString StartupNotice(const BootReport& report);

// Start-up and the event loop; the program's exit code: 0 after Quit or the close box, 1 when a
// ROM image is missing.
int RunLunabrik(const CommandLine* line = nullptr);
