// The ".reg" text format: reading, writing, applying to the registry and
// exporting a registry tree.
//
// Files start with "REGEDIT4" (8-bit text) or "Windows Registry Editor
// Version 5.00".  Reading detects the encoding from the byte-order mark
// (UTF-16LE, UTF-8); without one the text is UTF-8 when it is valid UTF-8,
// else text in the system ANSI code page.  Version 5 files are written as
// UTF-16LE with a byte-order mark and CRLF line ends, REGEDIT4 files in the
// ANSI code page.
//
// Sections "[path]" create a key, "[-path]" delete a key with its subtree.
// Values: "name"="text" (REG_SZ; \\ and \" are the escapes), @=... for the
// default value, "name"=- deletes a value, dword:XXXXXXXX, hex:bytes
// (REG_BINARY), hex(N):bytes for type N (hexadecimal; hex(2) REG_EXPAND_SZ
// and hex(7) REG_MULTI_SZ hold UTF-16LE bytes in version 5 files and 8-bit
// text in REGEDIT4 files).  A line ending in a backslash outside quotes goes
// on in the next line, whose leading blanks are dropped.  Lines starting with
// ";" are comments.  Values inside a "[-path]" section are ignored.
//
// Export is deterministic: keys come parent first, subkeys and values sorted
// without regard to case (the default value first); a REG_SZ is written as
// text only when that text reads back as the same bytes (one terminating NUL
// and none inside), otherwise as hex(1), so export and import round-trip
// byte for byte.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace regfile {

enum class Version { Regedit4, Version5 };

struct Value {
    std::u16string name;  // empty: the default value
    bool remove = false;  // "name"=-
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;  // as stored: text as UTF-16LE
};

struct Section {
    std::u16string path;  // as written, root name included
    bool remove = false;  // [-path]
    std::vector<Value> values;
    size_t line = 0;
};

struct File {
    Version version = Version::Version5;
    std::vector<Section> sections;
};

struct Error {
    size_t line = 0;  // 0: not tied to a line
    std::string message;
};

// Parses the bytes of a .reg file.
bool Parse(const std::string &bytes, File *out, Error *error);

// The bytes of a .reg file (UTF-16LE with BOM for version 5).
std::string Write(const File &file);

// Splits "HKLM\Software\X" (long or short root names, any case) into a
// predefined root, its canonical long name and the path below it.  False for
// an unknown root.
bool SplitKeyPath(const std::u16string &path, HKEY *root, std::u16string *rootName, std::u16string *subkey);

// Applies a parsed file to the registry, section by section, stopping at the
// first failure (error names the section's line and the system error code).
// Deleting a key or value that does not exist is not a failure.
LSTATUS Apply(const File &file, Error *error);

// Reads the tree at path (root name included) into sections, in export order.
LSTATUS Export(const std::u16string &path, Version version, File *out);

// Text helpers shared by the tool: UTF-8 to UTF-16 and back.
std::u16string FromUtf8(const std::string &text);
std::string ToUtf8(const std::u16string &text);

}  // namespace regfile
