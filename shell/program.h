// The program's start-up and run, apart from main() so that tests can drive them.
#pragma once

#include <memory>

class MainWindow;

// Start-up, in order: read the settings, load the address space, build and show the main window
// (display, RenderThread, character generator, 20 ms tick), reset the processor, start the
// ProcessorThread. When a ROM image is missing it says so on standard error and in a message box
// and returns null. Needs a QApplication.
std::unique_ptr<MainWindow> StartLunabrik();

// Start-up and the event loop; the program's exit code: 0 after Quit or the close box, 1 when a
// ROM image is missing.
int RunLunabrik();
