// Writes the Lunabrik.cfg that the build's run folder and a new per-user folder start with: a real
// ABC80's pace (waitstates -1) and the default files folder. Run at build time in the folder that
// is to hold it; the file is made by the program's own settings writer, so it has its exact form.
#include "host/settings.h"

#include <cstdio>

int main() {
    SetWaitstates(-1);
    SetFilesFolder(DefaultFilesFolder);
    if (!WriteSettings()) {
        std::perror("Cannot write Lunabrik.cfg");
        return 1;
    }
    return 0;
}
