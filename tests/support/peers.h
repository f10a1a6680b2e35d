// Helpers for interop and corpus tests.
//
// A scratch folder per test, running a command with its output captured,
// running the reference peers (hfsutils, macutils, Perl) with a private
// HOME, skipping when a peer or the corpus is missing, and locating the
// command-line tool. The peers are Linux programs: under the Windows build
// havePeer() is always false, so tests that need them skip, while the rest
// of these helpers (scratch folders, files, the corpus) still work.
// Calls only the standard library and the operating system.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace verrin::testsupport {

// A fresh folder under the system's temporary folder, named after the
// running test and removed with everything inside when the value goes out
// of scope (kept when VERRIN_KEEP_TEST_DIRS is set, for post-mortems).
struct ScratchDir {
    std::string path;
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    // path + "/" + name
    std::string file(const std::string& name) const;
};

struct CommandResult {
    int exitCode = -1;  // -1: could not start, was killed or timed out
    bool timedOut = false;
    std::string out;
    std::string err;
};

struct CommandOptions {
    std::string home;        // non-empty: HOME for the child
    std::string workingDir;  // non-empty: the child's current folder
    std::string input;       // fed to the child's standard input
    int timeoutSeconds = 120;
};

// Runs argv[0] (searched in PATH) with the given arguments, no shell in
// between, and collects its exit code, standard output and error output.
CommandResult runCommand(const std::vector<std::string>& argv, const CommandOptions& options = {});

// True when the named program is on PATH (always false on Windows, where
// the Linux peers cannot run).
bool havePeer(const char* name);

// Runs a peer with HOME set to a private folder inside `dir`: hfsutils
// keeps its current volume in $HOME/.hcwd, so each test needs its own.
CommandResult runPeer(const ScratchDir& dir, const std::vector<std::string>& argv,
                      const std::string& input = {});

// A zero-filled file of `bytes` bytes; false when it could not be written.
bool makeBlankFile(const std::string& path, uint64_t bytes);
// Makes a blank image of `kilobytes` KiB and formats it as one HFS volume
// with hformat. False (with the peer's messages added to the test's
// failure output) when that fails.
bool makeHfsImage(const ScratchDir& dir, const std::string& path, uint32_t kilobytes, const std::string& volumeName);

bool writeFile(const std::string& path, const std::string& bytes);
bool readFile(const std::string& path, std::string& bytes);
bool fileExists(const std::string& path);

// The shared corpus of real classic-Mac files, beside the repository. Empty
// when the folder is absent.
std::string corpusDir();
// Path of a corpus file given relative to the corpus folder; a ".gz" file
// is unpacked into `dir` first (Linux only). Empty when it is unavailable.
std::string corpusFile(const ScratchDir& dir, const std::string& relative);

// The verrin-cli binary built beside the tests, and a run of it.
std::string cliPath();
CommandResult runCli(const std::vector<std::string>& args, const CommandOptions& options = {});

}  // namespace verrin::testsupport

// Skips the current test when a peer program is missing (or on Windows).
#define VERRIN_REQUIRE_PEER(name)                                                \
    do {                                                                         \
        if (!::verrin::testsupport::havePeer(name)) GTEST_SKIP() << "peer " << (name) << " not available"; \
    } while (0)

// Skips the current test when the corpus folder is absent.
#define VERRIN_REQUIRE_CORPUS()                                                  \
    do {                                                                         \
        if (::verrin::testsupport::corpusDir().empty()) GTEST_SKIP() << "corpus folder not present"; \
    } while (0)
