// Interrupted changes. One table of changes (a put that splits a leaf and
// grows the catalog, an overwrite, a recursive delete, a rename, a format,
// a batch copy flushed after every file) is run once through a drive wrapper that
// records every write, the rollback journal as it stood at that moment,
// and every sync barrier. Then the machine is made to stop after each
// write, with the writes since the last barrier kept, dropped, kept in
// part, or kept with the last sector torn half-way; and before each commit
// with its journal half written. The next opening must leave a volume
// that checks clean and equals the volume before or after the commit it
// interrupted (a journal whose commit reached the medium is discarded,
// even on a DiskCopy image whose checksum the stop left behind). The same
// holds for the real verrin-cli killed at each of its write calls (a
// command equals its state before, after, or after one of its commits: a
// deletion commits after each folder's items), and every command syncs
// the image before it exits 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <tuple>

#include "base/ui_headless.h"
#include "devices/dc42_drive.h"
#include "devices/image_drive.h"
#include "hfs/check.h"
#include "hfs/format.h"
#include "hfs/internal.h"
#include "hfs/journal.h"
#include "support/peers.h"
#include "support/volumes.h"

using namespace verrin;
using namespace verrin::testsupport;

namespace {

// ---------------------------------------------------------------------------
// The recording drive.

struct Event {
    bool barrier;
    uint32_t address;
    std::string bytes;
    bool journalPresent;
    std::string journal;
};

struct Recorder {
    std::vector<Event> events;
    std::string journalPath;
    DriveWriteOp write = nullptr;
    DriveSyncOp sync = nullptr;
};
Recorder recorder;

int32_t recordingWrite(DriveEntry& entry, const uint8_t* buffer, uint32_t count, uint32_t address)
{
    const int32_t put = recorder.write(entry, buffer, count, address);
    if (put > 0) {
        Event e{false, address, std::string(reinterpret_cast<const char*>(buffer), size_t(put) * 512), false, {}};
        e.journalPresent = readFile(recorder.journalPath, e.journal);
        recorder.events.push_back(std::move(e));
    }
    return put;
}

bool recordingSync(DriveEntry& entry)
{
    recorder.events.push_back({true, 0, {}, false, {}});
    return !recorder.sync || recorder.sync(entry);
}

void startRecording(int drive)
{
    DriveEntry& e = driveTable[drive];
    recorder = Recorder{};
    ASSERT_TRUE(journalPathOf(e, recorder.journalPath));
    recorder.write = e.write;
    recorder.sync = e.sync;
    e.write = recordingWrite;
    e.sync = recordingSync;
}

// ---------------------------------------------------------------------------
// Volumes and their states.

std::string text(const uint8_t* name) { return std::string(reinterpret_cast<const char*>(name + 1), name[0]); }

// Everything a change can alter, as text: the MDB's counts and every item
// with its Finder information, fork contents and (when asked) dates.
std::string volumeState(bool withDates)
{
    std::ostringstream s;
    const uint8_t* m = volume.mdb->data;
    s << text(m + mdb::vn) << " files " << read32(m + mdb::filCnt) << " folders " << read32(m + mdb::dirCnt)
      << " free " << read16(m + mdb::freeBks) << " next " << read32(m + mdb::nxtCNID) << " root "
      << read16(m + mdb::nmFls) << "/" << read16(m + mdb::nmRtDirs) << "\n";
    std::vector<WalkedItem> items;
    EXPECT_TRUE(walkVolume(items)) << errorText(lastError);
    for (const WalkedItem& w : items) {
        const CatalogItem& it = w.item;
        s << w.path << " " << int(it.kind) << " id " << it.id << " n " << it.valence << " "
          << std::string(reinterpret_cast<const char*>(it.finderInfo), 16);
        if (withDates) s << " " << it.createDate << " " << it.modifyDate;
        std::string data, rsrc;
        if (it.kind == cdrFile) {
            EXPECT_TRUE(readWholeFork(w.parentId, it.name, dataFork, data));
            EXPECT_TRUE(readWholeFork(w.parentId, it.name, resourceFork, rsrc));
            s << " " << std::hash<std::string>{}(data) << "/" << data.size() << " " << std::hash<std::string>{}(rsrc)
              << "/" << rsrc.size();
        }
        s << "\n";
    }
    return s.str();
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
}

// Opens the image as the next run would (undoing an interrupted change),
// checks volume 1 and returns its state.
std::string stateOnOpening(const std::string& path, bool withDates)
{
    if (openImage(path, true) < 0 || !mountAt(0)) {
        ADD_FAILURE() << "does not mount: " << errorText(lastError);
        closeAll();
        return {};
    }
    const auto problems = checkLines();
    EXPECT_TRUE(problems.empty()) << joined(problems);
    const std::string state = volumeState(withDates);
    closeAll();
    EXPECT_FALSE(fileExists(journalPathBeside(path))) << "the journal stayed";
    return state;
}

// A new, empty partitioned volume made by the program's own formatter.
bool formatImage(const std::string& path, uint64_t bytes, const char* name)
{
    closeAll();
    if (!makeBlankFile(path, bytes)) return false;
    const int d = openImageDrive(path.c_str(), true);
    if (d < 0) return false;
    setNewVolumeName(reinterpret_cast<const uint8_t*>(name), static_cast<uint32_t>(std::strlen(name)));
    headless::reset();
    headless::scriptedAnswers = {uiAnswerOk, uiAnswerYes};
    formatDrive(d);
    const bool ok = lastError == errNone && headless::shown.size() == 2;
    closeAll();
    return ok;
}

bool putFile(uint32_t folder, const std::string& name, const std::string& data)
{
    if (!enterFolder(folder)) return false;
    FileInfo info{};
    const std::vector<uint8_t> n = macName(name);
    std::memcpy(info.name, n.data(), n.size());
    std::memcpy(info.finderInfo, "TEXTttxt", 8);
    createFile(info);
    FileRef ref = openFileRef(folder, info.name);
    if (lastError != errNone) return false;
    pinBuffer(ref.buffer);
    WriteRequest request{dataFork, ref, 0, reinterpret_cast<const uint8_t*>(data.data()),
                         static_cast<uint32_t>(data.size())};
    if (!data.empty()) appendToFork(request);
    unpinBuffer(ref.buffer);
    return lastError == errNone;
}

uint32_t makeFolder(uint32_t parent, const std::string& name)
{
    if (!enterFolder(parent)) return 0;
    createFolder(macName(name).data());
    CatalogItem item;
    return lookupCatalogItem(parent, macName(name).data(), item) == 1 ? item.id : 0;
}

bool removeTree(uint32_t folder)
{
    std::vector<CatalogItem> items;
    if (!listFolder(folder, items)) return false;
    for (const CatalogItem& it : items) {
        if (it.kind == cdrFolder && !removeTree(it.id)) return false;
        if (!enterFolder(folder)) return false;
        if (it.kind == cdrFolder)
            deleteFolder(it.name);
        else
            deleteFile(it.name);
        if (lastError != errNone) return false;
    }
    return true;
}

std::string bytesOf(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7) >> 3);
    return s;
}

uint32_t catalogFreeNodes() { return read32(volume.catalogHeader->data + bth::freeNodes); }

// ---------------------------------------------------------------------------
// Replaying what was recorded.

void applyWrite(std::string& image, const Event& e, size_t bytes)
{
    image.replace(size_t(e.address) * 512, bytes, e.bytes, 0, bytes);
}

enum class Keep { all, none, odd, even, torn };

// The image as the medium holds it when the machine stops right after
// write `stop`: everything up to the last barrier before it, and of the
// writes since, what `keep` says.
std::string imageAtStop(const std::string& start, const std::vector<Event>& events, size_t stop, Keep keep)
{
    std::string image = start;
    size_t barrier = 0;  // first event after the last barrier
    for (size_t i = 0; i < stop; ++i)
        if (events[i].barrier) barrier = i + 1;
    for (size_t i = 0; i < barrier; ++i)
        if (!events[i].barrier) applyWrite(image, events[i], events[i].bytes.size());
    for (size_t i = barrier, n = 0; i <= stop; ++i, ++n) {
        const Event& e = events[i];
        const bool kept = keep == Keep::all || keep == Keep::torn || (keep == Keep::odd && n % 2 == 0) ||
                          (keep == Keep::even && n % 2 == 1);
        if (!kept) continue;
        if (keep == Keep::torn && i == stop)
            applyWrite(image, e, e.bytes.size() - 256);  // the last sector half written
        else
            applyWrite(image, e, e.bytes.size());
    }
    return image;
}

// One change of the table: how its starting volume is made (on the
// mounted, writable image), and the change itself.
struct Change {
    const char* name;
    std::function<bool()> prepare;
    std::function<bool()> run;
};

std::vector<Change> changes(int& drive)
{
    return {
        {"a put that splits a leaf and grows the catalog",
         [] {
             // Fill the catalog until no node is free.
             for (int i = 0; catalogFreeNodes() > 0 && i < 2000; ++i)
                 if (!putFile(2, "file " + std::to_string(1000 + i), bytesOf(300, i))) return false;
             return catalogFreeNodes() == 0;
         },
         [] {
             const uint32_t size = read32(volume.mdb->data + mdb::ctFlSize);
             for (int i = 0; i < 4; ++i)
                 if (!putFile(2, "file " + std::to_string(1500 + i), bytesOf(2000 + 700 * i, i))) return false;
             flushVolume();
             return lastError == errNone && read32(volume.mdb->data + mdb::ctFlSize) > size;
         }},
        {"an overwrite: a file deleted and put again in one commit",
         [] { return putFile(2, "Doc", bytesOf(20000, 3)); },
         [] {
             enterFolder(2);
             deleteFile(macName("Doc").data());
             if (!putFile(2, "Doc", bytesOf(30000, 4))) return false;
             flushVolume();
             return lastError == errNone;
         }},
        {"a recursive delete",
         [] {
             const uint32_t top = makeFolder(2, "Tree");
             const uint32_t sub = makeFolder(top, "Sub");
             for (int i = 0; i < 40; ++i)
                 if (!putFile(i % 3 ? top : sub, "item " + std::to_string(i), bytesOf(100 * i, i))) return false;
             return true;
         },
         [] {
             CatalogItem tree;
             if (lookupCatalogItem(2, macName("Tree").data(), tree) != 1 || !removeTree(tree.id)) return false;
             enterFolder(2);
             deleteFolder(macName("Tree").data());
             flushVolume();
             return lastError == errNone;
         }},
        {"a rename",
         [] { return makeFolder(2, "Old name") != 0 && putFile(2, "zz", "z"); },
         [] {
             enterFolder(2);
             renameItem(macName("Old name").data(), macName("A new name").data());
             flushVolume();
             return lastError == errNone;
         }},
        {"a format",
         [] { return putFile(2, "kept", bytesOf(5000, 1)); },
         [&drive] {
             closeVolume();
             setNewVolumeName(reinterpret_cast<const uint8_t*>("Fresh"), 5);
             headless::reset();
             headless::scriptedAnswers = {uiAnswerOk, uiAnswerYes};
             formatDrive(drive);
             return lastError == errNone && headless::shown.size() == 2;
         }},
        {"a batch copy flushed after every file",
         [] { return makeFolder(2, "Inbox") != 0; },
         [] {
             CatalogItem inbox;
             if (lookupCatalogItem(2, macName("Inbox").data(), inbox) != 1) return false;
             for (int i = 0; i < 5; ++i) {
                 if (!putFile(inbox.id, "copy " + std::to_string(i), bytesOf(i * 9000, i))) return false;
                 flushVolume();
             }
             return lastError == errNone;
         }},
    };
}

}  // namespace

TEST(Interruptions, EveryStopLeavesTheVolumeBeforeOrAfterTheChange)
{
    ScratchDir dir;
    const std::string path = dir.file("v.img");
    int drive = -1;
    int stops = 0;
    for (const Change& change : changes(drive)) {
        SCOPED_TRACE(change.name);
        // The starting volume, and one run of the change, recorded.
        ASSERT_TRUE(formatImage(path, 2 << 20, "Stops"));
        ASSERT_GE(openImage(path, true), 0);
        ASSERT_TRUE(mountAt(0));
        ASSERT_TRUE(change.prepare()) << errorText(lastError);
        flushVolume();
        ASSERT_EQ(lastError, errNone);
        closeAll();
        std::string start;
        ASSERT_TRUE(readFile(path, start));
        drive = openImage(path, true);
        ASSERT_GE(drive, 0);
        ASSERT_TRUE(mountAt(0));
        startRecording(drive);
        ASSERT_TRUE(change.run()) << errorText(lastError);
        closeAll();
        const std::vector<Event> events = recorder.events;

        // The states the change passes through: at the start and after
        // each barrier (one per commit).
        std::vector<std::string> states;
        std::vector<size_t> barriers;
        ASSERT_TRUE(writeFile(path, start));
        states.push_back(stateOnOpening(path, true));
        for (size_t i = 0; i < events.size(); ++i) {
            if (!events[i].barrier) continue;
            barriers.push_back(i);
            std::string image = start;
            for (size_t k = 0; k < i; ++k)
                if (!events[k].barrier) applyWrite(image, events[k], events[k].bytes.size());
            ASSERT_TRUE(writeFile(path, image));
            states.push_back(stateOnOpening(path, true));
        }
        ASSERT_GE(barriers.size(), 1u);
        EXPECT_NE(states.front(), states.back());

        for (size_t stop = 0; stop < events.size(); ++stop) {
            if (events[stop].barrier) continue;
            const size_t commit = std::upper_bound(barriers.begin(), barriers.end(), stop) - barriers.begin();
            const Event& e = events[stop];
            for (Keep keep : {Keep::all, Keep::none, Keep::odd, Keep::even, Keep::torn}) {
                SCOPED_TRACE("stop after write " + std::to_string(stop) + ", keeping " +
                             std::to_string(static_cast<int>(keep)));
                ASSERT_TRUE(writeFile(path, imageAtStop(start, events, stop, keep)));
                if (e.journalPresent) {
                    ASSERT_TRUE(writeFile(journalPathBeside(path), e.journal));
                }
                const std::string state = stateOnOpening(path, true);
                ++stops;
                const bool after = commit + 1 < states.size() && state == states[commit + 1];
                EXPECT_TRUE(state == states[commit] || after) << state;
            }
            // Stopped while writing the journal: none of its commit's units
            // were written yet, only the data before it.
            if (e.journalPresent) {
                const size_t from = commit ? barriers[commit - 1] + 1 : 0;
                std::string image = start;
                for (size_t k = 0; k <= stop; ++k)
                    if (!events[k].barrier && (k < from || !events[k].journalPresent))
                        applyWrite(image, events[k], events[k].bytes.size());
                ASSERT_TRUE(writeFile(path, image));
                ASSERT_TRUE(writeFile(journalPathBeside(path), e.journal.substr(0, e.journal.size() / 2)));
                EXPECT_EQ(stateOnOpening(path, true), states[commit]);
                ++stops;
            }
            if (HasFailure()) return;
        }
    }
    std::printf("%d stops, each left the volume before or after its commit\n", stops);
}

// A journal that does not belong to the image as it is now (another
// program changed it since) is never applied: the image opens read-only,
// says why, and is left byte for byte as it was until the journal goes.
TEST(Interruptions, AJournalThatDoesNotMatchIsNeverApplied)
{
    ScratchDir dir;
    const std::string path = dir.file("m.img");
    ASSERT_TRUE(formatImage(path, 1 << 20, "Match"));
    std::string start;
    ASSERT_TRUE(readFile(path, start));
    const auto changeOnce = [&](const char* folder, bool record) {
        const int drive = openImage(path, true);
        ASSERT_TRUE(drive >= 0 && mountAt(0));
        if (record) startRecording(drive);
        ASSERT_NE(makeFolder(2, folder), 0u);
        flushVolume();
        ASSERT_EQ(lastError, errNone);
        closeAll();
    };
    changeOnce("Mine", true);
    const auto withJournal =
        std::find_if(recorder.events.begin(), recorder.events.end(), [](const Event& e) { return e.journalPresent; });
    ASSERT_NE(withJournal, recorder.events.end());
    ASSERT_TRUE(writeFile(path, start));
    changeOnce("Theirs", false);
    std::string theirs;
    ASSERT_TRUE(readFile(path, theirs));
    const std::string journal = journalPathBeside(path);
    ASSERT_TRUE(writeFile(journal, withJournal->journal));

    headless::reset();
    ASSERT_GE(openImage(path, true), 0);
    ASSERT_TRUE(mountAt(0));
    ASSERT_EQ(headless::shown.size(), 1u);
    EXPECT_NE(headless::shown[0].text.find("the disk has changed since"), std::string::npos) << headless::shown[0].text;
    EXPECT_FALSE(volumeWritable());
    EXPECT_EQ(lastError, errVolumeReadOnly);
    lastError = errNone;
    closeAll();
    std::string now;
    ASSERT_TRUE(readFile(path, now));
    EXPECT_TRUE(now == theirs);
    EXPECT_TRUE(fileExists(journal));

    // Once the journal is removed the image is written again.
    std::filesystem::remove(journal);
    changeOnce("Later", false);
}

// A commit deletes its journal without syncing the folder, so a crash may
// bring the journal back after the change reached the medium. On a
// DiskCopy image stopped after its units were written but before the
// checksum was (the sync's own work), that journal is discarded without a
// word, the change stays and the checksum is brought up to date; with one
// run of the same commit lost instead, the change is undone as before.
TEST(Interruptions, AJournalOfAFinishedCommitIsDiscardedATornOneUndone)
{
    ScratchDir dir;
    const std::string path = dir.file("f.image");
    ASSERT_TRUE(createDiskCopyImage(path.c_str(), nullptr, 819200));
    int drive = openImage(path, true);
    ASSERT_GE(drive, 0);
    setNewVolumeName(reinterpret_cast<const uint8_t*>("Finished"), 8);
    headless::reset();
    headless::scriptedAnswers = {uiAnswerOk, uiAnswerYes};
    formatDrive(drive);
    ASSERT_EQ(lastError, errNone);
    closeAll();
    std::string start, after;
    ASSERT_TRUE(readFile(path, start));
    drive = openImage(path, true);
    ASSERT_TRUE(drive >= 0 && mountAt(0));
    startRecording(drive);
    ASSERT_NE(makeFolder(2, "Kept"), 0u);
    flushVolume();
    ASSERT_EQ(lastError, errNone);
    closeAll();
    const std::vector<Event> events = recorder.events;
    ASSERT_EQ(std::count_if(events.begin(), events.end(), [](const Event& e) { return e.barrier; }), 1);
    ASSERT_TRUE(events.front().journalPresent);
    ASSERT_TRUE(readFile(path, after));
    constexpr size_t checksumAt = 72;  // the data checksum in the header
    ASSERT_NE(after.compare(checksumAt, 4, start, checksumAt, 4), 0);

    std::string finished = after;
    finished.replace(checksumAt, 4, start, checksumAt, 4);
    std::string torn = after;
    const size_t firstRun = diskCopyHeaderSize + size_t(events.front().address) * 512;
    torn.replace(firstRun, events.front().bytes.size(), start, firstRun, events.front().bytes.size());
    for (const auto& [image, expected, told] :
         {std::tuple{finished, after, false}, std::tuple{torn, start, true}}) {
        ASSERT_TRUE(writeFile(path, image));
        ASSERT_TRUE(writeFile(journalPathBeside(path), events.front().journal));
        headless::reset();
        ASSERT_TRUE(openImage(path, true) >= 0 && mountAt(0));
        CatalogItem item;
        EXPECT_EQ(lookupCatalogItem(2, macName("Kept").data(), item), told ? 0 : 1);
        EXPECT_EQ(headless::shown.size(), told ? 1u : 0u);
        closeAll();
        std::string now;
        ASSERT_TRUE(readFile(path, now));
        EXPECT_TRUE(now == expected) << (told ? "torn" : "finished");
        EXPECT_FALSE(fileExists(journalPathBeside(path)));
    }
}

// The real command-line tool, killed at each of its write calls, then any
// command run on the image.
TEST(Interruptions, KilledCommandsLeaveTheImageBeforeOrAfter)
{
    VERRIN_REQUIRE_PEER("strace");
    ScratchDir dir;
    const std::string base = dir.file("base.img");
    const std::string img = dir.file("k.img");
    ASSERT_EQ(runCli({"format", base, "--name", "Killed", "--size", "2M"}).exitCode, 0);
    std::vector<std::string> files;
    for (int i = 0; i < 30; ++i) {
        files.push_back(dir.file("f" + std::to_string(i)));
        ASSERT_TRUE(writeFile(files.back(), bytesOf(100 + 300 * i, i)));
    }
    std::vector<std::string> put = {"put", base, ":"};
    put.insert(put.end(), files.begin(), files.begin() + 20);
    ASSERT_EQ(runCli(put).exitCode, 0);
    ASSERT_EQ(runCli({"mkdir", base, "Tree"}).exitCode, 0);
    put[2] = "Tree";
    ASSERT_EQ(runCli(put).exitCode, 0);

    std::vector<std::string> morePut = {"put", img, ":"};
    morePut.insert(morePut.end(), files.begin() + 20, files.end());
    // New contents under the names of two files on the volume.
    std::filesystem::create_directory(dir.file("new"));
    ASSERT_TRUE(writeFile(dir.file("new/f1"), bytesOf(9000, 7)));
    ASSERT_TRUE(writeFile(dir.file("new/f2"), bytesOf(50, 8)));
    const std::vector<std::vector<std::string>> commands = {
        morePut,
        {"put", "--overwrite", img, ":", dir.file("new/f1"), dir.file("new/f2")},
        {"rm", "-r", img, "Tree"},
        {"rename", img, "Tree", "Branch"},
        {"mkdir", img, "New folder"},
        {"format", img, "--name", "Again"},
    };
    std::string start;
    ASSERT_TRUE(readFile(base, start));
    ASSERT_TRUE(writeFile(img, start));
    const std::string before = stateOnOpening(img, false);
    // verrin-cli under strace with the given options, LeakSanitizer off (it
    // cannot run under a tracer in a sanitizer build). True when it exited 0.
    const auto runTraced = [&](const std::vector<std::string>& options, const std::vector<std::string>& command) {
        std::vector<std::string> argv = {"env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-f"};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back(cliPath());
        argv.insert(argv.end(), command.begin(), command.end());
        return runCommand(argv).exitCode == 0;
    };
    int kills = 0;
    for (const auto& command : commands) {
        SCOPED_TRACE(command[0]);
        // The states the command commits (a deletion flushes after each
        // folder's items): before, after each commit (the command stopped
        // at the next commit's one folder sync, which makes its journal
        // stable before any of its units is written), and at its end.
        std::vector<std::string> committed = {before};
        for (int n = 2; n < 400; ++n) {
            ASSERT_TRUE(writeFile(img, start));
            if (runTraced({"-o", "/dev/null", "-e", "trace=fsync", "-e",
                           "inject=fsync:signal=KILL:when=" + std::to_string(n)},
                          command))
                break;
            committed.push_back(stateOnOpening(img, false));
        }
        ASSERT_TRUE(writeFile(img, start));
        ASSERT_EQ(runCli(command).exitCode, 0);
        committed.push_back(stateOnOpening(img, false));
        EXPECT_NE(before, committed.back());

        // It syncs the image after its last write, before it exits.
        ASSERT_TRUE(writeFile(img, start));
        ASSERT_TRUE(runTraced({"-o", dir.file("trace"), "-e", "trace=openat,pwrite64,fdatasync,fsync"}, command));
        std::string trace;
        ASSERT_TRUE(readFile(dir.file("trace"), trace));
        std::istringstream lines(trace);
        std::string fd;
        bool synced = false;
        for (std::string l; std::getline(lines, l);) {
            if (l.find("openat(AT_FDCWD, \"" + img + "\"") != std::string::npos && l.rfind("= ") != std::string::npos)
                fd = l.substr(l.rfind("= ") + 2);
            if (fd.empty()) continue;
            if (l.find("pwrite64(" + fd + ",") != std::string::npos) synced = false;
            if (l.find("fdatasync(" + fd + ")") != std::string::npos || l.find("fsync(" + fd + ")") != std::string::npos)
                synced = true;
        }
        EXPECT_TRUE(synced) << trace;

        // Killed at each write call in turn, then any command run on it.
        for (int k = 1; k < 400; ++k) {
            ASSERT_TRUE(writeFile(img, start));
            if (runTraced({"-o", "/dev/null", "-e", "trace=write,pwrite64", "-e",
                           "inject=write,pwrite64:signal=KILL:when=" + std::to_string(k)},
                          command))
                break;  // it finished before its k-th write
            SCOPED_TRACE("killed at write " + std::to_string(k));
            ++kills;
            const CommandResult check = runCli({"check", img});
            EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
            const std::string state = stateOnOpening(img, false);
            EXPECT_NE(std::find(committed.begin(), committed.end(), state), committed.end()) << state;
            if (HasFailure()) return;
        }
    }
    std::printf("%d kills, each left the volume before or after a commit\n", kills);
}
