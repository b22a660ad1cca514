// Placeholder until the settings file exists.
#include "machine/settings.h"
#include <cstring>
SettingsRecord Settings;
void CopyFilesFolder(char out[FilesFolderSize]) { std::memcpy(out, Settings.files_folder, FilesFolderSize); out[FilesFolderSize - 1] = 0; }
void SetFilesFolder(const char* folder) { std::strncpy(Settings.files_folder, folder, FilesFolderSize - 1); }
