// Start-up as every front end does it (the window, the runner, the browser page), and the paths
// its user names.
//
// One call chooses and enters the data folder (--dir, the working directory when it holds
// basic.rom, else the per-user folder), reads Lunabrik.cfg, loads the images and boots the
// machine, and lists what there is to say about it. Each message has one policy, the same in
// every front end:
//
//   message                                  policy
//   the data folder cannot be used           Stop: the front end says it and ends
//   basic.rom or dev_dos.rom cannot be read  Stop
//   waitstates that all but stop the machine Warn: the machine runs; said where it cannot be missed
//   font.bin missing or unreadable           Note: the machine runs, but nothing is drawn and the
//                                            clock does not tick (the display stays black)
//   the files folder Files/ made, or not     Note
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class StartupPolicy : uint8_t { Stop, Warn, Note };

enum class StartupEvent : uint8_t {
    FolderRefused,
    ImageMissing,
    SlowSpeed,
    FontMissing,
    FilesFolderMade,
    FilesFolderFailed,
};

struct StartupMessage {
    StartupEvent event;
    StartupPolicy policy;
    std::string text; // a sentence; a missing image's message has several lines
};

struct StartupOptions {
    // Choose and enter the data folder first (the desktop program, the runner); otherwise the
    // machine starts in the working directory as it is (the browser's file system, tests).
    bool choose_folder = false;
    const char* folder = nullptr; // --dir FOLDER, or null
    // Make the default files folder Files/ when nothing by that name exists (the desktop program;
    // a folder the user configured is never made).
    bool create_files_folder = false;
    // The end of the slow-speed message: how a speed is set with this front end.
    std::string how_to_set_speed;
};

struct StartupReport {
    bool started = false; // the machine is booted: no Stop among the messages
    bool font_loaded = false;
    std::string folder;                   // the working directory the machine uses (absolute)
    std::string missing_image;            // the image file that stopped the start, if one did
    std::vector<StartupMessage> messages; // in the order they arose

    // The texts of the messages with this policy, joined by separator.
    std::string Texts(StartupPolicy policy, const char* separator) const;
    // The message that stopped the start, or null.
    const StartupMessage* Stopped() const;
};

// The whole start. False when a message has the Stop policy (report.Stopped() names it); the
// machine's threads are not started either way.
bool SystemStartUp(const StartupOptions& options, StartupReport& report);

// The exit code of both programs when the data folder cannot be used.
constexpr int SystemFolderRefusedExit = 2;

// Names the user gives (on the command line, in the runner's commands) are relative to the folder
// the program was started in, not to the data folder it then works in. That folder is read once:
// at the first call of this or of SystemStartUp (a program's main calls this first, with its
// command line). An absolute or empty path is returned as it is.
std::string SystemPathFromStart(const std::string& path);

// The per-user folder ($XDG_DATA_HOME/lunabrik, or ~/.local/share/lunabrik); empty when there is
// no home at all.
std::string SystemUserFolder();
