// The folder the program works in: where it reads basic.rom, dev_dos.rom, font.bin and
// Lunabrik.cfg, and where the default files folder Files/ lives.
//
//   --dir FOLDER given         that folder
//   else basic.rom in the working directory   the working directory, as it is (nothing created)
//   else a program of a build (its folder's parent holds CMakeCache.txt and run/basic.rom)
//        started in that build's source tree or build folder
//                              that build's run folder, as it is, as make run starts it
//   else                       the per-user folder $XDG_DATA_HOME/lunabrik
//   (~/.local/share/lunabrik), used only when it belongs to the user and others cannot write it
//
// A chosen folder other than the working directory is created when missing, given the installed
// free images it lacks (an image already there is never replaced) and a Files/ folder, and made
// the working directory, so every relative path of the program lives there. A folder made now also
// gets the installed Lunabrik.cfg (a real ABC80's pace); one that existed keeps its settings.
#pragma once

#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

// The exit code of both programs when the data folder cannot be used (refused, or it cannot be
// made or entered).
constexpr int DataFolderRefused = 2;

struct DataFolderReport {
    std::string folder;                 // the working directory in use (absolute)
    std::vector<std::string> looked_in; // the folders looked in, for the missing-ROM message
    std::vector<std::string> installed; // files copied in from the installed set now
    std::string images_from;            // where installed images were looked for
    std::string error;                  // why the folder could not be used (false returned)
};

// Who the per-user folder must belong to, and where the free images are copied from. The
// defaults are the running user and the installed set; tests give others.
struct DataFolderChecks {
    uid_t user = geteuid();
    std::string images; // empty: the installed free images
};

// Chooses the folder (explicit_folder may be null) and enters it. False, with report.error set,
// when it cannot be created or entered, or when it is the per-user folder and does not belong to
// checks.user, others may write it, its parent folder lets others replace it (writable by others
// without the sticky bit), or an image or the settings in it may be written by others (the error
// names what).
bool EnterDataFolder(const char* explicit_folder, DataFolderReport& report,
                     const DataFolderChecks& checks = {});

// Where the installed free images (and the debugger's basic.rom.sym) are: beside the program,
// bin/../share/lunabrik, so an install moved anywhere works, else where the build was configured
// to install them.
std::string InstalledImageFolder();

// The per-user folder: $XDG_DATA_HOME/lunabrik, or HOME's .local/share/lunabrik, HOME taken from
// the passwd entry of user when it is not set. Empty when there is no home at all: never a
// folder others share.
std::string UserDataFolder(uid_t user = geteuid());

// The default files folder Files/ in the working directory, made one level deep when nothing by
// that name exists: 0 made now, -1 something was there already, else the errno of the failure.
int MakeDefaultFilesFolder();
