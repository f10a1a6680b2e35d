// Helpers for interop and corpus tests: scratch folders, command runs with
// captured output (fork/exec on Linux, CreateProcess on Windows), the peers
// with a private HOME, the corpus and the command-line tool's location.
// Calls only the standard library, POSIX and Win32.
#include "support/peers.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace fs = std::filesystem;

namespace verrin::testsupport {

namespace {

std::atomic<unsigned> scratchCounter{0};

// Keeps letters, digits, '-' and '_' of a test name for a folder name.
std::string tidyName(const std::string& s)
{
    std::string r;
    for (char c : s) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '_';
        r += ok ? c : '_';
    }
    return r.substr(0, 80);
}

// Paths built into the binary are the build machine's. Under Wine a Linux
// absolute path is reached through drive Z:.
std::string hostPath(std::string p)
{
#ifdef _WIN32
    if (!p.empty() && p[0] == '/') p = "Z:" + p;
    for (char& c : p)
        if (c == '/') c = '\\';
#endif
    return p;
}

unsigned processId()
{
#ifdef _WIN32
    return static_cast<unsigned>(GetCurrentProcessId());
#else
    return static_cast<unsigned>(getpid());
#endif
}

}  // namespace

ScratchDir::ScratchDir()
{
    std::string name = "test";
    if (const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info())
        name = std::string(info->test_suite_name()) + "." + info->name();
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path p = base / ("verrin-" + std::to_string(processId()) + "-" +
                                   std::to_string(scratchCounter++) + "-" + tidyName(name));
        if (fs::create_directories(p, ec)) {
            path = p.string();
            return;
        }
    }
    ADD_FAILURE() << "cannot create a scratch folder under " << base.string();
}

ScratchDir::~ScratchDir()
{
    if (path.empty() || std::getenv("VERRIN_KEEP_TEST_DIRS")) return;
    std::error_code ec;
    fs::remove_all(path, ec);
}

std::string ScratchDir::file(const std::string& name) const
{
    return (fs::path(path) / name).string();
}

#ifndef _WIN32

CommandResult runCommand(const std::vector<std::string>& argv, const CommandOptions& options)
{
    CommandResult result;
    if (argv.empty()) return result;

    // Everything the child needs is prepared before fork().
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e)
        if (options.home.empty() || std::strncmp(*e, "HOME=", 5) != 0) envStrings.emplace_back(*e);
    if (!options.home.empty()) envStrings.push_back("HOME=" + options.home);
    std::vector<char*> env;
    for (std::string& e : envStrings) env.push_back(e.data());
    env.push_back(nullptr);

    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0) return result;
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        close(inPipe[0]);
        close(inPipe[1]);
        return result;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1]}) close(fd);
        return result;
    }
    // A child that exits without reading its input must not kill us.
    std::signal(SIGPIPE, SIG_IGN);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        if (!options.workingDir.empty() && chdir(options.workingDir.c_str()) != 0) _exit(126);
        execvpe(args[0], args.data(), env.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    if (pid < 0) {
        close(inPipe[1]);
        close(outPipe[0]);
        close(errPipe[0]);
        return result;
    }

    int inFd = inPipe[1];
    if (options.input.empty()) {
        close(inFd);
        inFd = -1;
    } else {
        fcntl(inFd, F_SETFL, O_NONBLOCK);
    }
    size_t written = 0;
    int outFd = outPipe[0], errFd = errPipe[0];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
    char chunk[65536];
    while (outFd >= 0 || errFd >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                               std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd fds[3];
        nfds_t n = 0;
        if (outFd >= 0) fds[n++] = {outFd, POLLIN, 0};
        if (errFd >= 0) fds[n++] = {errFd, POLLIN, 0};
        if (inFd >= 0) fds[n++] = {inFd, POLLOUT, 0};
        const int ready = poll(fds, n, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR) break;
        for (nfds_t i = 0; i < n && ready > 0; ++i) {
            if (fds[i].revents == 0) continue;
            if (fds[i].fd == inFd) {
                const ssize_t w = write(inFd, options.input.data() + written, options.input.size() - written);
                if (w > 0) written += static_cast<size_t>(w);
                if (w < 0 && errno != EAGAIN) written = options.input.size();
                if (written >= options.input.size()) {
                    close(inFd);
                    inFd = -1;
                }
                continue;
            }
            const ssize_t r = read(fds[i].fd, chunk, sizeof chunk);
            if (r > 0) {
                (fds[i].fd == outFd ? result.out : result.err).append(chunk, static_cast<size_t>(r));
            } else if (r == 0 || errno != EINTR) {
                close(fds[i].fd);
                (fds[i].fd == outFd ? outFd : errFd) = -1;
            }
        }
    }
    for (int fd : {inFd, outFd, errFd})
        if (fd >= 0) close(fd);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (result.timedOut) {
        result.err += "\n[killed after " + std::to_string(options.timeoutSeconds) + " s]";
        result.exitCode = -1;
    } else if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else {
        result.err += "\n[terminated by signal " + std::to_string(WTERMSIG(status)) + "]";
        result.exitCode = -1;
    }
    return result;
}

bool havePeer(const char* name)
{
    const char* pathVar = std::getenv("PATH");
    if (!pathVar || !name || !*name) return false;
    std::stringstream dirs(pathVar);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) continue;
        const std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return true;
    }
    return false;
}

#else  // _WIN32

namespace {

// Quotes one argument the way the C runtime's command-line parser undoes.
std::string quoteArgument(const std::string& a)
{
    if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos) return a;
    std::string r = "\"";
    size_t slashes = 0;
    for (char c : a) {
        if (c == '\\') {
            ++slashes;
        } else if (c == '"') {
            r.append(slashes * 2 + 1, '\\');
            r += '"';
            slashes = 0;
            continue;
        } else {
            slashes = 0;
        }
        r += c;
    }
    r.append(slashes, '\\');
    r += '"';
    return r;
}

HANDLE inheritableFile(const std::string& path, bool forWriting)
{
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    return CreateFileA(path.c_str(), forWriting ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &sa, forWriting ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

// Output goes through files in a scratch folder: simple, and without the
// deadlock risk of two pipes read by one thread.
CommandResult runCommand(const std::vector<std::string>& argv, const CommandOptions& options)
{
    CommandResult result;
    if (argv.empty()) return result;
    ScratchDir io;
    const std::string inPath = io.file("in"), outPath = io.file("out"), errPath = io.file("err");
    if (!writeFile(inPath, options.input)) return result;

    std::string commandLine;
    for (const std::string& a : argv) {
        if (!commandLine.empty()) commandLine += ' ';
        commandLine += quoteArgument(a);
    }
    HANDLE in = inheritableFile(inPath, false);
    HANDLE out = inheritableFile(outPath, true);
    HANDLE err = inheritableFile(errPath, true);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        options.workingDir.empty() ? nullptr : options.workingDir.c_str(), &si, &pi);
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    if (!started) return result;
    const DWORD waited = WaitForSingleObject(pi.hProcess, static_cast<DWORD>(options.timeoutSeconds) * 1000u);
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, INFINITE);
        result.timedOut = true;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    readFile(outPath, result.out);
    readFile(errPath, result.err);
    result.exitCode = result.timedOut ? -1 : static_cast<int>(code);
    return result;
}

bool havePeer(const char*)
{
    return false;
}

#endif

CommandResult runPeer(const ScratchDir& dir, const std::vector<std::string>& argv, const std::string& input)
{
    CommandOptions options;
    options.home = dir.file("home");
    std::error_code ec;
    fs::create_directories(options.home, ec);
    options.input = input;
    options.workingDir = dir.path;
    return runCommand(argv, options);
}

bool makeBlankFile(const std::string& path, uint64_t bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    const std::string zeros(65536, '\0');
    while (bytes > 0) {
        const uint64_t n = std::min<uint64_t>(bytes, zeros.size());
        f.write(zeros.data(), static_cast<std::streamsize>(n));
        bytes -= n;
    }
    return static_cast<bool>(f);
}

bool makeHfsImage(const ScratchDir& dir, const std::string& path, uint32_t kilobytes, const std::string& volumeName)
{
    if (!makeBlankFile(path, static_cast<uint64_t>(kilobytes) * 1024)) {
        ADD_FAILURE() << "cannot write " << path;
        return false;
    }
    const CommandResult r = runPeer(dir, {"hformat", "-l", volumeName, path});
    if (r.exitCode != 0) {
        ADD_FAILURE() << "hformat failed (" << r.exitCode << "): " << r.err << r.out;
        return false;
    }
    return true;
}

bool writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

bool readFile(const std::string& path, std::string& bytes)
{
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    std::ostringstream s;
    s << f.rdbuf();
    bytes = s.str();
    return true;
}

bool fileExists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(path, ec);
}

std::string corpusDir()
{
    const std::string dir = hostPath(VERRIN_SOURCE_DIR "/../shared/corpus");
    std::error_code ec;
    return fs::is_directory(dir, ec) ? dir : std::string();
}

std::string corpusFile(const ScratchDir& dir, const std::string& relative)
{
    const std::string base = corpusDir();
    if (base.empty()) return {};
    const std::string source = (fs::path(base) / hostPath(relative)).string();
    if (!fileExists(source)) return {};
    const std::string gz = ".gz";
    if (relative.size() <= gz.size() || relative.compare(relative.size() - gz.size(), gz.size(), gz) != 0)
        return source;
    // Where gzip cannot run (the Windows build under Wine), the test script
    // unpacks the compressed images beforehand into the folder named by
    // VERRIN_UNPACKED_CORPUS.
    if (const char* unpacked = std::getenv("VERRIN_UNPACKED_CORPUS")) {
        const std::string copy = (fs::path(hostPath(unpacked)) / fs::path(relative).stem()).string();
        if (fileExists(copy)) return copy;
    }
    if (!havePeer("gzip")) return {};
    const std::string target = dir.file(fs::path(relative).stem().string());
    const CommandResult r =
        runCommand({"sh", "-c", "gzip -dc -- \"$1\" > \"$2\"", "sh", source, target}, CommandOptions{});
    return r.exitCode == 0 ? target : std::string();
}

std::string cliPath()
{
    return hostPath(VERRIN_CLI_PATH);
}

CommandResult runCli(const std::vector<std::string>& args, const CommandOptions& options)
{
    std::vector<std::string> argv{cliPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCommand(argv, options);
}

}  // namespace verrin::testsupport
