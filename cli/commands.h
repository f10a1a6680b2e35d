// verrin-cli's commands and the helpers they share: opening an image's
// volume, parsing HFS paths, printing names and errors.
// Calls the engine, the drive table, the image drives and the end-of-command
// report of app/.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "app/report.h"
#include "hfs/hfs.h"

namespace verrin::cli {

// One command: its name, entry point and one-line summary for --help.
struct Command {
    const char* name;
    int (*run)(int argc, char** argv);  // argv[0] is the command name
    const char* summary;
};

int cmdVolumes(int argc, char** argv);
int cmdLs(int argc, char** argv);
int cmdCat(int argc, char** argv);
int cmdInfo(int argc, char** argv);
int cmdCheck(int argc, char** argv);
int cmdFormat(int argc, char** argv);
int cmdConvert(int argc, char** argv);

int cmdMkdir(int argc, char** argv);
int cmdRm(int argc, char** argv);
int cmdRename(int argc, char** argv);
int cmdMv(int argc, char** argv);
int cmdSettype(int argc, char** argv);
int cmdAttrib(int argc, char** argv);

// ---------------------------------------------------------------------------
// The write side shared by the write commands and the copies.

// A Mac name (length-prefixed) from UTF-8 text; false when it has no Mac
// Roman form or is not 1..31 characters.
bool macNameFromText(const std::string& text, uint8_t name[32]);
// Four Mac Roman characters from UTF-8 text (a type or creator code).
bool fourCharCode(const std::string& text, uint8_t code[4]);
// Opens IMAGE[#N] for writing, mounts it and runs the checks before the
// first change; false after printing why it may not be changed (no
// alternate MDB, or damage a change could spread, unless `force`).
bool mountForWrite(const std::string& imageArg, bool force);
// What every changing command's help says about --force.
extern const char forceHelp[];
// Makes the folder at PATH current; false after printing.
bool enterFolderPath(const std::string& path);
// Ends a write command (finishCommand): flushes when no error is pending;
// otherwise, or when the flush fails, prints the system's message, reverts
// the volume to its last flushed state and returns 1.
inline int finishWrite(const char* context) { return finishCommand(context) ? 0 : 1; }

// A command's arguments: the known flags that were given, the rest in
// order, and the first option the command does not know ("--" ends the
// options).
struct Arguments {
    std::vector<std::string> positional;
    std::vector<std::string> flags;
    std::string unknown;
    bool has(std::string_view flag) const;
};
Arguments splitArguments(int argc, char** argv, std::initializer_list<std::string_view> knownFlags);

// The terminal's side of the user interface (cli/terminal.cpp): the
// progress line on standard error while it is a terminal, and Ctrl-C as the
// progress window's Cancel (lastError becomes errCancelled at the next
// pump). Installed once at start.
void installTerminalUi();
bool wasInterrupted();
// True when standard input is a terminal (a question can be asked there).
bool terminalInput();
// The item the progress line showed last: the file a copy was at when a
// message came.
std::string lastProgressName();

// IMAGE or IMAGE#N (N counts volumes from 1; the default is 1).
bool splitImageArgument(const std::string& imageArg, std::string& path, int& volumeNumber);
// Opens an image file as the current drive and scans it; false after
// printing the error.
bool openDrive(const std::string& path, bool writable);
// Opens an image file as a drive: its index in the drive table, or -1
// after printing why it could not be opened.
int openImage(const std::string& path, bool writable, uint32_t sectorSize = 512);
// What a command mounts a volume for. Writing, the question whether a
// volume without its alternate master directory block is used read-only
// is answered without being shown: Yes (the drive's driveReadOnly flag is
// set), or No when the command forces changes.
enum class MountUse : uint8_t { reading, writing, forcedWriting };
// Opens IMAGE[#N] and mounts volume N; false after printing the error.
bool mountImageArgument(const std::string& imageArg, MountUse use);
// Why a text cannot be a Mac name of at most `maxLength` characters, in the
// user's words; empty when it can be one.
std::string macNameProblem(std::string_view text, size_t maxLength = 31);
// Splits an HFS path ("Folder:Sub:File", relative to the root; a leading
// ':' is allowed) into length-prefixed Mac Roman names. False with
// `problem` set when a name cannot be a Mac name.
bool parseMacPath(const std::string& path, std::vector<std::vector<uint8_t>>& names, std::string& problem);
// The names of a path on the mounted volume: parsed, and a first name that
// is the volume's own (as hfsutils paths begin) dropped when the root holds
// no item of that name. False after printing the problem.
bool volumePathNames(const std::string& path, std::vector<std::vector<uint8_t>>& names);
// Resolves a path from the root; prints "not found" or the engine's error.
bool findItem(const std::string& path, uint32_t& parentId, CatalogItem& item);
// The same for a path already split into names; `shown` names it in
// messages.
bool findNames(const std::vector<std::vector<uint8_t>>& names, const std::string& shown, uint32_t& parentId,
               CatalogItem& item);
// The path of an item for messages and listings: names joined by ':'.
std::string joinPath(const std::string& folderPath, const std::string& name);

// Prints the pending error (the system's own message text) with a context,
// clears it and drops unflushed changes (reportLastError). Returns 1 for
// use as an exit code.
inline int failWithError(const char* context)
{
    reportLastError(context);
    return 1;
}
// Prints a usage or argument error. Returns 2.
int failUsage(const char* command, const char* message);

std::string itemName(const uint8_t* name);
std::string fourChars(const uint8_t* p);
// An HFS date as local wall-clock time, "YYYY-MM-DDTHH:MM:SS".
std::string isoDate(uint32_t hfsDate);
std::string jsonString(const std::string& s);
// The same texts appended to `out`, as listings build their lines: a
// length-prefixed name, a type or creator code, the date (`separator`
// between day and time; `seconds` false ends it at the minutes), a quoted
// and escaped JSON string, a number in decimal right-aligned in `width`.
void appendItemName(std::string& out, const uint8_t* name);
void appendFourChars(std::string& out, const uint8_t* p);
void appendIsoDate(std::string& out, uint32_t hfsDate, char separator = 'T', bool seconds = true);
void appendJsonString(std::string& out, std::string_view s);
void appendNumber(std::string& out, uint32_t value, size_t width = 0);
bool wantsHelp(int argc, char** argv);

// ---------------------------------------------------------------------------
// Copies through the five translations (cli/transfer_commands.cpp).

int cmdGet(int argc, char** argv);
int cmdPut(int argc, char** argv);

// How a name clash is answered instead of the collision dialogs.
enum class CollisionPolicy { none, rename, overwrite, skip };

struct TransferOptions {
    int mode = 0;  // TranslationMode: 0 data, 1 text, 2 resource, 3 MacBinary, 4 BinHex
    bool modeGiven = false;
    CollisionPolicy policy = CollisionPolicy::none;
    std::string iniPath;  // empty: KVOL.INI beside the executable
};

// Consumes argv[i] (and its value) when it is -m, --ini or a collision
// flag; true then, with `problem` set for a bad value.
bool parseTransferOption(int argc, char** argv, int& i, TransferOptions& options, std::string& problem);
// Loads the settings, the translation table and the type map path,
// installs the translations and answers collisions by the policy. False
// after printing when the settings file named by --ini is missing.
bool prepareTransfer(const TransferOptions& options);
// Gives the translation the type and creator (Mac Roman bytes) that the
// command line named, in place of the settings and the type map.
void setTranslationCodes(int mode, const uint8_t type[4], const uint8_t creator[4]);

}  // namespace verrin::cli
