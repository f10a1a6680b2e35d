// Initialisation ("profile") files: sections in square brackets followed by
// key=value lines, as KVOL.INI and KVOL.FTM are.
//
// Reading gives the results of the Windows private-profile calls on every
// platform: section and key names match regardless of case, the first
// matching section and the first matching key in it win, blanks around keys
// and values are ignored, a value wrapped in matching quotes loses them, and
// a missing file, section or key yields the default. Writing a key changes
// only that key's line (or adds one) and keeps every other line of the file
// as it was; the new file replaces the old one in one rename so a crash
// never leaves half a file. Calls the file stamps (base/rawfile.h), the
// standard library and, on Windows, the system's replacing rename.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace verrin::profile {

// Every read checks whether the file changed since it was last read
// (another program's edit is seen at once), except inside a read batch:
// while one is open, each file is checked at its first read only, and the
// reads see it as it was then or as this program's writes left it. A
// command that reads many keys opens one, so that it checks the file once
// instead of once per key. Batches nest; the outermost one counts.
struct ReadBatch {
    ReadBatch();
    ~ReadBatch();
    ReadBatch(const ReadBatch&) = delete;
    ReadBatch& operator=(const ReadBatch&) = delete;
};

// The value of key in section, cut to maxChars characters; def (also cut)
// when the file, the section or the key is missing. An empty value that is
// present is returned as empty.
std::string readString(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view def, size_t maxChars);

// True when the key is present in the section (its value may be empty).
bool hasKey(const std::string& path, std::string_view section, std::string_view key);

// The key's value as an integer: def when the key is missing or empty;
// otherwise an optional sign, an optional 0x/0o/0b prefix and the digits
// that follow (0 when there are none).
int readInt(const std::string& path, std::string_view section, std::string_view key, int def);

// Sets key in section to value (cut at the first line break). An existing
// key keeps its line, with only the text after "=" replaced; a new key goes
// after the last line of its section; a new section at the end of the file.
// False when the file could not be written (the old file is then intact).
bool writeString(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view value);

struct Entry {
    std::string section;
    std::string key;
    std::string value;
};
// Sets several keys, in order, with one replacement of the file.
bool writeStrings(const std::string& path, std::span<const Entry> entries);

// True when a and b are the same text apart from the case of ASCII
// letters, the way section and key names are matched.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace verrin::profile
