/* Build configuration of the generic Z80 interpreter that bench/peer_z80emu.sh compares our
 * processor loop with (it replaces the interpreter's own z80config.h). HALT ends a run, as it
 * does in our workloads; everything else is the interpreter's default. bench/CMakeLists.txt builds
 * it twice, the second time with only the documented flags computed (its own faster setting, and
 * like our loop, which never computes the undocumented flag bits 3 and 5). */
#ifndef LUNABRIK_PEER_Z80CONFIG_H
#define LUNABRIK_PEER_Z80CONFIG_H

#define Z80_CATCH_HALT

#endif
