// Start-up and the tick, shared by every front end (the desktop program, the headless runner and
// the tests), so the machine starts and keeps time the same way everywhere.
#pragma once

class RenderEvent;

struct StartupOptions {
    // Create the files folder when it is the default "Files/" and does not exist yet (one level).
    // The desktop program asks for this; a folder the user configured is never created.
    bool create_default_files_folder = false;
};

struct StartupReport {
    const char* missing_rom = nullptr; // the ROM image that could not be loaded, or null
    bool font_loaded = false; // false: font.bin missing or unreadable, the display stays black
    bool files_folder_created = false; // the default files folder was created now
    int files_folder_error = 0;        // errno of a failed attempt to create it, else 0
};

// In order: read Lunabrik.cfg; fill memory and load basic.rom and dev_dos.rom (a missing image
// stops here: false, report.missing_rom names it); build the character generator from font.bin
// (its failure does not stop the start); prepare the files folder when asked; reset the
// processor. The front end then starts its threads and its 20 ms tick.
bool StartMachine(const StartupOptions& options, StartupReport& report);

// One 20 ms tick: raises TICK (the 50 Hz NMI, and the end of a HALT), then has a frame drawn:
// signals the RenderThread's event, or with no event (a single-threaded front end) renders the
// frame here and counts it.
void MachineTick(RenderEvent* render_event);
