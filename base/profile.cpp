// Initialisation files: reading keys and rewriting one key in place. See
// profile.h. The last few files read are kept parsed for as long as their
// stamps stay the same. Calls the plain-file stamps (base/rawfile.h), the
// standard library and, on Windows, the system's replacing rename.
#include "base/profile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/rawfile.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace verrin::profile {

namespace {

enum class LineKind { other, section, entry };

struct Line {
    std::string text;  // without its line ending
    std::string eol;   // "\r\n", "\n", "\r" or "" for a last line without one
    LineKind kind = LineKind::other;
    std::string name;        // section name or key, trimmed
    std::string value;       // entries: the value, trimmed
    size_t valueStart = 0;   // entries: offset of the text after "=" and its blanks
};

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool readWholeFile(const std::string& path, std::string& out)
{
    out.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.append(chunk, got);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

void classify(Line& line, bool first)
{
    std::string_view t = line.text;
    if (first && t.substr(0, 3) == "\xEF\xBB\xBF") t.remove_prefix(3);  // UTF-8 mark
    const std::string_view trimmed = trim(t);
    if (!trimmed.empty() && trimmed.front() == '[') {
        const size_t close = trimmed.rfind(']');
        if (close != std::string_view::npos && close > 0) {
            line.kind = LineKind::section;
            line.name.assign(trim(trimmed.substr(1, close - 1)));
            return;
        }
    }
    const size_t eq = t.find('=');
    if (eq == std::string_view::npos) return;
    line.kind = LineKind::entry;
    line.name.assign(trim(t.substr(0, eq)));
    size_t start = static_cast<size_t>(t.data() - line.text.data()) + eq + 1;
    while (start < line.text.size() && isBlank(line.text[start])) ++start;
    line.valueStart = start;
    line.value.assign(trim(std::string_view(line.text).substr(start)));
}

// Splits the text into lines and classifies each.
std::vector<Line> parse(const std::string& content)
{
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = pos;
        while (end < content.size() && content[end] != '\n' && content[end] != '\r') ++end;
        Line line;
        line.text = content.substr(pos, end - pos);
        if (end < content.size()) {
            const size_t eolLength = (content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n') ? 2 : 1;
            line.eol = content.substr(end, eolLength);
            end += eolLength;
        }
        lines.push_back(std::move(line));
        pos = end;
    }
    for (size_t i = 0; i < lines.size(); ++i) classify(lines[i], i == 0);
    return lines;
}

// Index of the first section named `section`, or -1.
long findSection(const std::vector<Line>& lines, std::string_view section)
{
    const std::string_view wanted = trim(section);
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == LineKind::section && equalsIgnoringCase(lines[i].name, wanted))
            return static_cast<long>(i);
    return -1;
}

// Index of the first entry `key` inside the section that starts at
// `header`, or -1.
long findKey(const std::vector<Line>& lines, long header, std::string_view key)
{
    const std::string_view wanted = trim(key);
    for (size_t i = static_cast<size_t>(header) + 1; i < lines.size(); ++i) {
        if (lines[i].kind == LineKind::section) break;
        if (lines[i].kind == LineKind::entry && equalsIgnoringCase(lines[i].name, wanted))
            return static_cast<long>(i);
    }
    return -1;
}

// The files read lately, parsed: a copy that reads one key per file (the
// type map, once per file copied) parses the file once while it stays the
// same, and the settings file read in between does not push it out. A file
// whose stamp changes (any write to it, or its replacement) is read again.
struct ParsedFile {
    std::string path;
    bool present = false;  // false: the file could not be read at its last check
    FileStamp stamp{};
    uint64_t checkedInBatch = 0;  // the read batch that checked the stamp last (0: none)
    std::vector<Line> lines;
};
constexpr size_t parsedFilesKept = 4;
std::vector<ParsedFile> parsedFiles;  // oldest first

int openReadBatches = 0;
uint64_t readBatchNumber = 0;  // of the outermost batch open now, or of the last one

// The lines of the file; null when it cannot be read. Inside a read batch
// the stamp is checked at the file's first read only.
const std::vector<Line>* linesOf(const std::string& path)
{
    const uint64_t batch = openReadBatches > 0 ? readBatchNumber : 0;
    auto kept = std::find_if(parsedFiles.begin(), parsedFiles.end(),
                             [&](const ParsedFile& f) { return f.path == path; });
    if (kept != parsedFiles.end() && batch != 0 && kept->checkedInBatch == batch)
        return kept->present ? &kept->lines : nullptr;
    FileStamp stamp{};
    const bool present = rawPathStamp(path.c_str(), stamp);
    if (kept != parsedFiles.end() && present && kept->present && kept->stamp == stamp) {
        kept->checkedInBatch = batch;
        return &kept->lines;
    }
    if (kept == parsedFiles.end()) {
        if (parsedFiles.size() == parsedFilesKept) parsedFiles.erase(parsedFiles.begin());
        kept = parsedFiles.insert(parsedFiles.end(), ParsedFile{});
        kept->path = path;
    }
    std::string content;
    kept->present = present && readWholeFile(path, content);
    kept->stamp = stamp;
    kept->checkedInBatch = batch;
    kept->lines = kept->present ? parse(content) : std::vector<Line>{};
    return kept->present ? &kept->lines : nullptr;
}

bool lookup(const std::string& path, std::string_view section, std::string_view key, std::string& value)
{
    const std::vector<Line>* parsed = linesOf(path);
    if (!parsed) return false;
    const std::vector<Line>& lines = *parsed;
    const long header = findSection(lines, section);
    if (header < 0) return false;
    const long at = findKey(lines, header, key);
    if (at < 0) return false;
    std::string_view v = lines[static_cast<size_t>(at)].value;  // quotes go as in the system call
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    value.assign(v);
    return true;
}

bool syncAndClose(std::FILE* f)
{
    bool ok = std::fflush(f) == 0;
#ifdef _WIN32
    ok = ok && _commit(_fileno(f)) == 0;
#else
    ok = ok && fsync(fileno(f)) == 0;
#endif
    return std::fclose(f) == 0 && ok;
}

bool replaceFile(const std::string& from, const std::string& to)
{
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

}  // namespace

ReadBatch::ReadBatch()
{
    if (openReadBatches++ == 0) ++readBatchNumber;
}

ReadBatch::~ReadBatch() { --openReadBatches; }

std::string readString(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view def, size_t maxChars)
{
    std::string value;
    if (!lookup(path, section, key, value)) value.assign(def);
    if (value.size() > maxChars) value.resize(maxChars);
    return value;
}

bool hasKey(const std::string& path, std::string_view section, std::string_view key)
{
    std::string value;
    return lookup(path, section, key, value);
}

int readInt(const std::string& path, std::string_view section, std::string_view key, int def)
{
    std::string text;
    if (!lookup(path, section, key, text) || text.empty()) return def;
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    unsigned base = 10;
    if (i + 1 < text.size() && text[i] == '0') {
        const char p = text[i + 1];
        if (p == 'x' || p == 'X') base = 16;
        else if (p == 'o' || p == 'O') base = 8;
        else if (p == 'b' || p == 'B') base = 2;
        if (base != 10) i += 2;
    }
    uint32_t result = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else break;
        if (digit >= base) break;
        result = result * base + digit;  // wraps like the 32-bit system call
    }
    if (negative) result = 0u - result;
    return static_cast<int>(result);
}

namespace {

// The file text with key set to value in section (see writeString).
std::string setKey(const std::string& content, std::string_view section, std::string_view key,
                   std::string_view value)
{
    // A line break in the value would split the line and corrupt the file.
    const size_t cut = value.find_first_of("\r\n");
    if (cut != std::string_view::npos) value = value.substr(0, cut);
    section = trim(section);
    key = trim(key);

    const std::vector<Line> lines = parse(content);
    std::string newline = "\r\n";
    for (const Line& l : lines)
        if (!l.eol.empty()) {
            newline = l.eol;
            break;
        }

    const long header = findSection(lines, section);
    const long at = header >= 0 ? findKey(lines, header, key) : -1;
    std::string out;
    auto emit = [&](const std::string& text, const std::string& eol) {
        out += text;
        out += eol;
    };
    const std::string entry = std::string(key) + "=" + std::string(value);

    if (at >= 0) {
        for (size_t i = 0; i < lines.size(); ++i) {
            if (static_cast<long>(i) == at)
                emit(lines[i].text.substr(0, lines[i].valueStart) + std::string(value), lines[i].eol);
            else
                emit(lines[i].text, lines[i].eol);
        }
    } else if (header >= 0) {
        // After the last non-blank line of the section, so that the blank
        // lines separating it from the next section stay where they are.
        size_t last = static_cast<size_t>(header);
        for (size_t i = last + 1; i < lines.size() && lines[i].kind != LineKind::section; ++i)
            if (!trim(lines[i].text).empty()) last = i;
        for (size_t i = 0; i < lines.size(); ++i) {
            emit(lines[i].text, (i == last && lines[i].eol.empty()) ? newline : lines[i].eol);
            if (i == last) emit(entry, newline);
        }
    } else {
        for (const Line& l : lines) emit(l.text, l.eol);
        if (!lines.empty() && lines.back().eol.empty()) out += newline;
        if (!lines.empty() && !trim(lines.back().text).empty()) out += newline;
        emit("[" + std::string(section) + "]", newline);
        emit(entry, newline);
    }
    return out;
}

// Replaces the file by the text: a temporary file beside it, flushed to
// the disk, then renamed over the old one.
bool replaceContent(const std::string& path, const std::string& out)
{
    if (path.empty()) return false;
    parsedFiles.clear();
    const std::string temp = path + ".new";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    if (!syncAndClose(f) || !written || !replaceFile(temp, path)) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool writeString(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view value)
{
    const Entry entry{std::string(section), std::string(key), std::string(value)};
    return writeStrings(path, std::span<const Entry>(&entry, 1));
}

bool writeStrings(const std::string& path, std::span<const Entry> entries)
{
    std::string content;
    if (!readWholeFile(path, content)) {
        // A missing file is an empty one; a file that exists but cannot be
        // read must not be replaced by the few keys written here.
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::path(path), ec) || ec) return false;
        content.clear();
    }
    for (const Entry& e : entries) content = setKey(content, e.section, e.key, e.value);
    return replaceContent(path, content);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lo = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        if (lo(a[i]) != lo(b[i])) return false;
    }
    return true;
}

}  // namespace verrin::profile
