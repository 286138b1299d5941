#include "pe_builder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

namespace comhost_test {

void Put16(std::string &bytes, size_t at, uint16_t value) {
    std::memcpy(bytes.data() + at, &value, 2);
}

void Put32(std::string &bytes, size_t at, uint32_t value) {
    std::memcpy(bytes.data() + at, &value, 4);
}

uint32_t Get32(const std::string &bytes, size_t at) {
    uint32_t value;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

namespace {

// Orders ids as a directory lists them: strings first, then ordinals.
struct IdLess {
    bool operator()(const PeId &a, const PeId &b) const {
        if (a.isOrdinal != b.isOrdinal) return !a.isOrdinal;
        return a.isOrdinal ? a.ordinal < b.ordinal : a.text < b.text;
    }
};

using LanguageMap = std::map<WORD, std::string>;
using NameMap = std::map<PeId, LanguageMap, IdLess>;
using TypeMap = std::map<PeId, NameMap, IdLess>;

constexpr uint32_t kSectionRva = 0x1000;
constexpr size_t kSectionFileOffset = 0x200;

size_t Align(size_t n, size_t to) {
    return (n + to - 1) / to * to;
}

// Lays out the resource section; offsets are relative to its start.
std::string ResourceSection(const TypeMap &types) {
    // Sizes first: every directory, then strings, then data entries, data.
    size_t directories = 0;
    auto dirSize = [](size_t entries) { return 16 + 8 * entries; };
    directories += dirSize(types.size());
    for (const auto &[type, names] : types) {
        directories += dirSize(names.size());
        for (const auto &[name, languages] : names) directories += dirSize(languages.size());
    }
    std::string out(directories, '\0');
    std::map<std::u16string, size_t> strings;
    auto stringOffset = [&](const std::u16string &text) {
        auto it = strings.find(text);
        if (it != strings.end()) return it->second;
        size_t at = out.size();
        out.resize(at + 2 + 2 * text.size());
        Put16(out, at, static_cast<uint16_t>(text.size()));
        std::memcpy(out.data() + at + 2, text.data(), 2 * text.size());
        strings[text] = at;
        return at;
    };
    // Strings.
    for (const auto &[type, names] : types) {
        if (!type.isOrdinal) stringOffset(type.text);
        for (const auto &[name, languages] : names)
            if (!name.isOrdinal) stringOffset(name.text);
    }
    out.resize(Align(out.size(), 4));
    // Data entries then data, filled in as the leaves are written.
    std::vector<std::pair<size_t, const std::string *>> leaves;
    size_t next = 0;
    auto writeDir = [&](size_t at, const auto &map, auto &&childOffset) {
        size_t named = 0, numbered = 0;
        for (const auto &entry : map) (entry.first.isOrdinal ? numbered : named)++;
        Put16(out, at + 12, static_cast<uint16_t>(named));
        Put16(out, at + 14, static_cast<uint16_t>(numbered));
        size_t i = 0;
        for (const auto &entry : map) {
            const size_t e = at + 16 + 8 * i++;
            Put32(out, e, entry.first.isOrdinal ? entry.first.ordinal
                                                : 0x80000000u | static_cast<uint32_t>(stringOffset(entry.first.text)));
            Put32(out, e + 4, childOffset(entry.second));
        }
    };
    std::vector<size_t> dataEntrySlots;
    size_t rootAt = next;
    next += dirSize(types.size());
    writeDir(rootAt, types, [&](const NameMap &names) {
        size_t at = next;
        next += dirSize(names.size());
        writeDir(at, names, [&](const LanguageMap &languages) {
            size_t langAt = next;
            next += dirSize(languages.size());
            size_t i = 0;
            Put16(out, langAt + 14, static_cast<uint16_t>(languages.size()));
            for (const auto &[language, data] : languages) {
                const size_t e = langAt + 16 + 8 * i++;
                Put32(out, e, language);
                leaves.emplace_back(e + 4, &data);
            }
            return 0x80000000u | static_cast<uint32_t>(langAt);
        });
        return 0x80000000u | static_cast<uint32_t>(at);
    });
    const size_t entries = out.size();
    out.resize(entries + 16 * leaves.size());
    for (size_t i = 0; i < leaves.size(); ++i) {
        const size_t entry = entries + 16 * i;
        Put32(out, leaves[i].first, static_cast<uint32_t>(entry));
        const size_t dataAt = Align(out.size(), 4);
        out.resize(dataAt);
        out += *leaves[i].second;
        Put32(out, entry, kSectionRva + static_cast<uint32_t>(dataAt));
        Put32(out, entry + 4, static_cast<uint32_t>(leaves[i].second->size()));
    }
    return out;
}

}  // namespace

PeFile BuildPe(const std::vector<PeResource> &resources, bool pe32Plus) {
    TypeMap types;
    for (const PeResource &r : resources) types[r.type][r.name][r.language] = r.data;
    const std::string section = ResourceSection(types);

    PeFile pe;
    const size_t optionalSize = pe32Plus ? 240 : 224;
    pe.ntHeaders = 64;
    pe.optionalHeader = pe.ntHeaders + 24;
    pe.sectionTable = pe.optionalHeader + optionalSize;
    const size_t rawSize = Align(section.size(), 0x200);
    pe.bytes.assign(kSectionFileOffset + rawSize, '\0');
    std::string &b = pe.bytes;
    b[0] = 'M', b[1] = 'Z';
    Put32(b, 0x3C, static_cast<uint32_t>(pe.ntHeaders));
    std::memcpy(b.data() + pe.ntHeaders, "PE\0\0", 4);
    Put16(b, pe.ntHeaders + 4, pe32Plus ? 0x8664 : 0x14C);  // Machine
    Put16(b, pe.ntHeaders + 6, 1);                          // NumberOfSections
    Put16(b, pe.ntHeaders + 20, static_cast<uint16_t>(optionalSize));
    Put16(b, pe.ntHeaders + 22, 0x2102);  // executable, 32-bit machine, DLL
    Put16(b, pe.optionalHeader, pe32Plus ? 0x20B : 0x10B);
    const size_t countField = pe32Plus ? 108 : 92, directories = pe32Plus ? 112 : 96;
    Put32(b, pe.optionalHeader + countField, 16);
    Put32(b, pe.optionalHeader + directories + 16, kSectionRva);
    Put32(b, pe.optionalHeader + directories + 20, static_cast<uint32_t>(section.size()));
    std::memcpy(b.data() + pe.sectionTable, ".rsrc\0\0\0", 8);
    Put32(b, pe.sectionTable + 8, static_cast<uint32_t>(section.size()));
    Put32(b, pe.sectionTable + 12, kSectionRva);
    Put32(b, pe.sectionTable + 16, static_cast<uint32_t>(rawSize));
    Put32(b, pe.sectionTable + 20, static_cast<uint32_t>(kSectionFileOffset));
    std::memcpy(b.data() + kSectionFileOffset, section.data(), section.size());
    pe.resourceRoot = kSectionFileOffset;
    pe.resourceEnd = kSectionFileOffset + rawSize;
    pe.resourceRva = kSectionRva;
    return pe;
}

std::string ToPe32Plus(const std::string &in) {
    if (in.size() < 0x40) return {};
    const size_t nt = Get32(in, 0x3C);
    if (nt + 24 + 224 > in.size() || in.compare(nt, 4, std::string("PE\0\0", 4)) != 0) return {};
    const size_t optional = nt + 24;
    uint16_t optionalSize, sections;
    std::memcpy(&optionalSize, in.data() + nt + 20, 2);
    std::memcpy(&sections, in.data() + nt + 6, 2);
    if (optionalSize != 224 || static_cast<uint8_t>(in[optional]) != 0x0B || in[optional + 1] != 0x01) return {};
    const size_t table = optional + optionalSize, tableSize = 40 * static_cast<size_t>(sections);
    std::string out = in;
    // The headers' padding must have room for 16 more bytes.
    if (table + tableSize + 16 > out.size()) return {};
    for (size_t i = 0; i < 16; ++i)
        if (in[table + tableSize + i] != 0) return {};
    std::string header(240, '\0');
    std::memcpy(header.data(), in.data() + optional, 24);               // Magic .. BaseOfCode
    std::memcpy(header.data() + 24, in.data() + optional + 28, 4);      // ImageBase
    std::memcpy(header.data() + 32, in.data() + optional + 32, 40);     // SectionAlignment .. DllCharacteristics
    for (size_t i = 0; i < 4; ++i)                                       // stack and heap sizes
        std::memcpy(header.data() + 72 + 8 * i, in.data() + optional + 72 + 4 * i, 4);
    std::memcpy(header.data() + 104, in.data() + optional + 88, 4);     // LoaderFlags
    std::memcpy(header.data() + 108, in.data() + optional + 92, 4 + 128);  // directories
    Put16(header, 0, 0x20B);
    std::memcpy(out.data() + optional, header.data(), header.size());
    std::memcpy(out.data() + optional + 240, in.data() + table, tableSize);
    Put16(out, nt + 4, 0x8664);
    Put16(out, nt + 20, 240);
    uint16_t characteristics;
    std::memcpy(&characteristics, in.data() + nt + 22, 2);
    Put16(out, nt + 22, static_cast<uint16_t>(characteristics & ~0x0100));
    return out;
}

TempFile::TempFile(const std::string &bytes) {
    char path[] = "/tmp/comhost-pe-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        ADD_FAILURE() << "mkstemp failed";
        return;
    }
    path_ = path;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    if (done != bytes.size()) ADD_FAILURE() << "short write";
}

TempFile::~TempFile() {
    if (!path_.empty()) unlink(path_.c_str());
}

}  // namespace comhost_test
