// Placeholder until the host file service exists.
#include "machine/host_files.h"
void HostFileOpenRead() {}
void HostFileCreate() {}
void HostFileClose() {}
void HostFileReadBlock() {}
void HostFileWriteBlock() {}
