// Writes the Lunabrik.cfg that the build's run folder and a new per-user folder start with: a real
// ABC80's pace (waitstates -1) and the default files folder. Run at build time in the folder that
// is to hold it; the file is made by the program's own settings writer, so it has its exact form.
#include "system/files.h"
#include "system/system.h"

#include <cstdio>

int main() {
    SystemSetWaitstates(SystemRealPace);
    SystemSetFilesFolder(SystemDefaultFilesFolder);
    const OutputResult written = SystemSaveSettings();
    if (!written.ok) {
        std::fprintf(stderr, "%s\n", written.Problem(SystemSettingsName).c_str());
        return 1;
    }
    return 0;
}
