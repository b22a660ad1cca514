// Writes the symbol file of our basic.rom for the debugger: every routine and variable of the
// BASIC, static ones included, as "name = 0xADDR" lines sorted by address (C names without the
// underscore SDCC puts before them).
//   lunabrik-rom-symbols MAP ROM OUT SYM...
// MAP is the linker's map (global symbols with their addresses and modules); each SYM is one
// module's assembler symbol table (all its symbols, as offsets into its areas). A module's area
// starts where a global symbol of that area lies, less the symbol's offset. The first line holds a
// hash of ROM, so the debugger can tell that a basic.rom is the one these symbols describe.
#include "common/fnv.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <set>
#include <string>
#include <vector>

namespace {

// The whitespace-separated fields of an indented line (none for a line that starts otherwise).
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    if (line.empty() || (line[0] != ' ' && line[0] != '\t')) return fields;
    std::istringstream in(line);
    for (std::string field; in >> field;)
        fields.push_back(field);
    return fields;
}

// n digits of base 16 (upper case) or, with n = 0, any number of decimal digits.
bool Digits(const std::string& s, size_t n) {
    if (s.empty() || (n && s.size() != n)) return false;
    for (char c : s)
        if (!(c >= '0' && c <= '9') && !(n && c >= 'A' && c <= 'F')) return false;
    return true;
}

std::string Stem(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return name.substr(0, name.find('.'));
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: lunabrik-rom-symbols MAP ROM OUT SYM...\n");
        return 2;
    }
    std::ifstream map_file(argv[1]);
    std::ifstream rom_file(argv[2], std::ios::binary);
    if (!map_file || !rom_file) {
        std::fprintf(stderr, "lunabrik-rom-symbols: cannot read %s or %s\n", argv[1], argv[2]);
        return 1;
    }
    const std::vector<uint8_t> rom(std::istreambuf_iterator<char>(rom_file), {});

    // "     00008000  _ticks                             crt0"
    std::map<std::string, std::pair<uint32_t, std::string>> globals; // name -> address, module
    std::string line;
    while (std::getline(map_file, line)) {
        const auto f = Fields(line);
        if (f.size() == 3 && Digits(f[0], 8))
            globals[f[1]] = {uint32_t(std::stoul(f[0], nullptr, 16)), f[2]};
    }

    std::map<uint32_t, std::set<std::string>> out; // address -> names
    for (const auto& [name, where] : globals)
        out[where.first].insert(name);

    // "  1 _curline                                                       00512A R"
    for (int i = 4; i < argc; ++i) {
        std::ifstream sym(argv[i]);
        if (!sym) {
            std::fprintf(stderr, "lunabrik-rom-symbols: cannot read %s\n", argv[i]);
            return 1;
        }
        const std::string module = Stem(argv[i]);
        struct Entry {
            int area;
            std::string name;
            uint32_t offset;
        };
        std::vector<Entry> entries;
        std::map<int, uint32_t> base;
        // One symbol a line, or (an assembly module's table) several in columns split by '|'.
        while (std::getline(sym, line)) {
            std::istringstream columns(line);
            for (std::string column; std::getline(columns, column, '|');) {
                const auto f = Fields(column);
                if (f.size() != 4 || !Digits(f[0], 0) || !Digits(f[2], 6)) continue;
                if (f[3].find('R') == std::string::npos) continue; // a constant, not an address
                Entry e{std::stoi(f[0]), f[1], uint32_t(std::stoul(f[2], nullptr, 16))};
                auto g = globals.find(e.name);
                if (g != globals.end() && g->second.second == module)
                    base[e.area] = g->second.first - e.offset;
                entries.push_back(e);
            }
        }
        for (const Entry& e : entries) {
            if (!base.count(e.area) || e.name.find('$') != std::string::npos || e.name[0] == '.')
                continue;
            out[(base[e.area] + e.offset) & 0xFFFF].insert(e.name);
        }
    }

    std::FILE* f = std::fopen(argv[3], "w");
    if (!f) {
        std::fprintf(stderr, "lunabrik-rom-symbols: cannot write %s\n", argv[3]);
        return 1;
    }
    std::fprintf(f, "; basic.rom fnv1a 0x%08X\n",
                 Fnv1a32(rom.data(), rom.size())); // the debugger checks it
    std::fprintf(f, "; the free BASIC's routines and variables, for the debugger\n");
    for (const auto& [address, names] : out)
        for (const auto& name : names) {
            if (name.rfind("s__", 0) == 0 || name.rfind("l__", 0) == 0 || name[0] == '.')
                continue; // the linker's own
            const std::string c_name = name[0] == '_' ? name.substr(1) : name;
            std::fprintf(f, "%s = 0x%04X\n", c_name.c_str(), address & 0xFFFF);
        }
    return std::fclose(f) == 0 ? 0 : 1;
}
