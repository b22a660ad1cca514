// FNV-1a: a quick hash that tells files apart. The 32-bit form names the basic.rom a symbol file
// describes (written by the ROM build, checked by the debugger); the 64-bit one names the images a
// saved state was made with. Plain C++, header-only. Pass the last result as h to hash in pieces.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t Fnv1a32Basis = 2166136261u;
constexpr uint64_t Fnv1a64Basis = 0xCBF29CE484222325ull;

inline uint32_t Fnv1a32(const uint8_t* data, size_t size, uint32_t h = Fnv1a32Basis) {
    for (size_t i = 0; i < size; ++i)
        h = (h ^ data[i]) * 16777619u;
    return h;
}

inline uint64_t Fnv1a64(const uint8_t* data, size_t size, uint64_t h = Fnv1a64Basis) {
    for (size_t i = 0; i < size; ++i)
        h = (h ^ data[i]) * 0x100000001B3ull;
    return h;
}
