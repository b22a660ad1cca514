// Placeholder until the settings file exists.
#include "machine/settings.h"
SettingsRecord Settings;
