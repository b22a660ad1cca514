// Symbol files: names for addresses, from the ROM build's basic.rom.sym or any file of
// "NAME = ADDR" and "NAME EQU ADDR" lines.
#include "common/fnv.h"
#include "host/data_folder.h"
#include "host/file_io.h"
#include "system/debugger.h"
#include "system/debugger_text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Symbols: front end's thread only.
std::vector<std::pair<uint16_t, std::string>> SymbolsByAddress; // sorted by address
std::vector<std::pair<std::string, uint16_t>> SymbolsByName;    // sorted by name

constexpr off_t MaxSymbolFileSize = 64 << 20; // far more than 65,536 addresses need

bool IsNameChar(char c) { return std::isalnum(uint8_t(c)) || c == '_' || c == '.' || c == '$'; }

void AddSymbol(const std::string& name, uint16_t address) {
    auto by_name = std::lower_bound(SymbolsByName.begin(), SymbolsByName.end(),
                                    std::make_pair(name, uint16_t(0)),
                                    [](const auto& a, const auto& b) { return a.first < b.first; });
    if (by_name != SymbolsByName.end() && by_name->first == name) {
        const uint16_t old = by_name->second;
        by_name->second = address;
        auto it =
            std::find(SymbolsByAddress.begin(), SymbolsByAddress.end(), std::make_pair(old, name));
        if (it != SymbolsByAddress.end()) SymbolsByAddress.erase(it);
    } else {
        SymbolsByName.insert(by_name, {name, address});
    }
    auto at = std::upper_bound(SymbolsByAddress.begin(), SymbolsByAddress.end(),
                               std::make_pair(address, name));
    SymbolsByAddress.insert(at, {address, name});
}

// A plain file opened for reading as a stream; null for anything else (a FIFO would block).
FILE* OpenPlainText(const std::string& path) {
    const int fd = OpenPlainFileForReading(path.c_str());
    FILE* f = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (fd >= 0 && !f) close(fd);
    return f;
}

} // namespace

bool DebugLoadSymbols(const std::string& path, SymbolLoadReport* report) {
    SymbolLoadReport r;
    struct stat info;
    FILE* f = nullptr;
    if (stat(path.c_str(), &info) != 0)
        r.error = "cannot read " + path + ": " + std::strerror(errno);
    else if (!S_ISREG(info.st_mode))
        r.error = "cannot read " + path + ": not a plain file";
    else if (info.st_size > MaxSymbolFileSize)
        r.error = "cannot read " + path + ": larger than a symbol file can be";
    else if (!(f = OpenPlainText(path))) // swapped for something else since the stat: refused
        r.error =
            "cannot read " + path + ": " + (errno ? std::strerror(errno) : "not a plain file");
    if (!f) {
        if (report) *report = r;
        return false;
    }
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, f)) {
        std::string line = buffer;
        if (line.size() == sizeof buffer - 1 && line.back() != '\n') { // too long: skip it whole
            int c;
            while ((c = std::fgetc(f)) != EOF && c != '\n') {
            }
            ++r.skipped;
            continue;
        }
        size_t i = 0;
        while (i < line.size() && std::isspace(uint8_t(line[i])))
            ++i;
        if (i == line.size() || line[i] == ';' || line[i] == '#' || line.compare(i, 2, "//") == 0)
            continue;
        size_t start = i;
        while (i < line.size() && IsNameChar(line[i]))
            ++i;
        const std::string name = line.substr(start, i - start);
        while (i < line.size() && std::isspace(uint8_t(line[i])))
            ++i;
        std::string rest;
        if (i < line.size() && line[i] == '=') {
            rest = line.substr(i + 1);
        } else if (line.size() - i >= 3 && std::toupper(uint8_t(line[i])) == 'E' &&
                   std::toupper(uint8_t(line[i + 1])) == 'Q' &&
                   std::toupper(uint8_t(line[i + 2])) == 'U') {
            rest = line.substr(i + 3);
        } else {
            ++r.skipped;
            continue;
        }
        const size_t comment = rest.find(';');
        if (comment != std::string::npos) rest.resize(comment);
        size_t b = 0;
        while (b < rest.size() && std::isspace(uint8_t(rest[b])))
            ++b;
        uint32_t address;
        if (name.empty() || std::isdigit(uint8_t(name[0])) ||
            !ParseNumber(std::string_view(rest).substr(b), 10, 0xFFFF, address)) {
            ++r.skipped;
            continue;
        }
        AddSymbol(name, uint16_t(address));
        ++r.loaded;
    }
    std::fclose(f);
    if (report) *report = r;
    return true;
}

void DebugClearSymbols() {
    SymbolsByAddress.clear();
    SymbolsByName.clear();
}

bool DebugLoadRomSymbols(const std::string& folder, SymbolLoadReport* report) {
    const std::string dir = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    SymbolLoadReport r;
    auto fail = [&](const std::string& why) {
        r.error = why;
        if (report) *report = r;
        return false;
    };
    // The first line names the basic.rom the symbols belong to: "; basic.rom fnv1a 0x12345678".
    std::string sym_path = dir + "basic.rom.sym";
    FILE* sym = OpenPlainText(sym_path);
    if (!sym) { // a per-user folder holds the images only: the installed symbols, if they fit
        sym_path = InstalledImageFolder() + "/basic.rom.sym";
        sym = OpenPlainText(sym_path);
    }
    if (!sym) return fail("no basic.rom.sym in " + dir);
    unsigned expected = 0;
    const int got = std::fscanf(sym, "; basic.rom fnv1a %x", &expected);
    std::fclose(sym);
    if (got != 1) return fail("basic.rom.sym does not name its basic.rom");
    FILE* rom = OpenPlainText(dir + "basic.rom");
    if (!rom) return fail("no basic.rom in " + dir);
    uint32_t h = Fnv1a32Basis; // as the ROM build computes it
    uint8_t chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, rom)) > 0;)
        h = Fnv1a32(chunk, n, h);
    std::fclose(rom);
    if (h != expected) return fail("basic.rom is not the free BASIC that basic.rom.sym describes");
    return DebugLoadSymbols(sym_path, report);
}

bool DebugSymbolAddress(const std::string& name, uint16_t& address) {
    auto it = std::lower_bound(SymbolsByName.begin(), SymbolsByName.end(),
                               std::make_pair(name, uint16_t(0)),
                               [](const auto& a, const auto& b) { return a.first < b.first; });
    if (it == SymbolsByName.end() || it->first != name) return false;
    address = it->second;
    return true;
}

std::string DebugSymbolAt(uint16_t address) {
    auto it = std::lower_bound(SymbolsByAddress.begin(), SymbolsByAddress.end(),
                               std::make_pair(address, std::string()));
    if (it == SymbolsByAddress.end() || it->first != address) return {};
    return it->second;
}

std::string DebugSymbolize(uint16_t address) {
    auto it = std::upper_bound(
        SymbolsByAddress.begin(), SymbolsByAddress.end(), address,
        [](uint16_t a, const std::pair<uint16_t, std::string>& s) { return a < s.first; });
    if (it == SymbolsByAddress.begin()) return {};
    --it;
    const uint16_t offset = uint16_t(address - it->first);
    if (offset >= 0x100) return {};
    return offset ? it->second + "+" + HexText(offset, 2) : it->second;
}

size_t DebugSymbolCount() { return SymbolsByAddress.size(); }
