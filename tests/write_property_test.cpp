// Long seeded random sequences of changes against an in-memory model of the
// volume: create files of 0 bytes to several megabytes, append to and
// overwrite their forks, delete, rename, create and remove folders, set
// types. Name collisions (letters differ only in case) and a full volume
// occur on the way and must leave the volume as it was. After every step
// the consistency checker finds nothing and the listing equals the model;
// now and then the volume is remounted from the medium and every fork is
// compared; at the end hfsutils sees the same tree and the same bytes.
// VERRIN_PROPERTY_STEPS and VERRIN_PROPERTY_SEED override the number of
// steps and the seed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <random>

#include "base/macroman.h"
#include "hfs/check.h"
#include "hfs/internal.h"
#include "support/interop.h"
#include "support/peers.h"
#include "support/volumes.h"

using namespace verrin;
using namespace verrin::testsupport;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int defaultSteps = 120;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int defaultSteps = 120;
#else
constexpr int defaultSteps = 400;
#endif
#else
constexpr int defaultSteps = 400;
#endif

int steps()
{
    const char* s = std::getenv("VERRIN_PROPERTY_STEPS");
    return s && std::atoi(s) > 0 ? std::atoi(s) : defaultSteps;
}

uint32_t seed()
{
    const char* s = std::getenv("VERRIN_PROPERTY_SEED");
    return s && *s ? static_cast<uint32_t>(std::strtoul(s, nullptr, 10)) : 20261207u;
}

struct Item {
    bool folder = false;
    std::vector<uint8_t> name;  // length-prefixed Mac name
    uint32_t id = 0;            // folders
    std::string type = "????", creator = "????";
    std::string data, rsrc;
    std::vector<Item> children;
};

struct Model {
    Item root;  // ID 2
    std::mt19937 rng;
    bool crowd = false;  // many small items: longer names, small forks

    explicit Model(uint32_t seed) : rng(seed)
    {
        root.folder = true;
        root.id = 2;
    }
    uint32_t below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(rng() % n); }

    // Every item with its parent, folders before their contents.
    void collect(Item& folder, std::vector<std::pair<Item*, Item*>>& out)
    {
        for (Item& c : folder.children) {
            out.emplace_back(&c, &folder);
            if (c.folder) collect(c, out);
        }
    }
    std::vector<std::pair<Item*, Item*>> all()
    {
        std::vector<std::pair<Item*, Item*>> out;
        collect(root, out);
        return out;
    }
    std::vector<Item*> folders()
    {
        std::vector<Item*> out{&root};
        for (auto& [item, parent] : all())
            if (item->folder) out.push_back(item);
        return out;
    }
    std::vector<std::pair<Item*, Item*>> files()
    {
        std::vector<std::pair<Item*, Item*>> out;
        for (auto& p : all())
            if (!p.first->folder) out.push_back(p);
        return out;
    }

    // Short names from a small alphabet collide often, also by case.
    std::vector<uint8_t> randomName()
    {
        static const char letters[] = "abAB12";
        const uint32_t length = below(8) == 0 ? 20 + below(12) : 1 + below(crowd ? 7 : 3);
        std::string s;
        for (uint32_t i = 0; i < length; ++i) s += letters[below(6)];
        return macName(s);
    }
    uint32_t randomSize()
    {
        const uint32_t r = below(100);
        if (crowd) return r < 20 ? 0 : below(r < 95 ? 1500 : 40000);
        if (r < 10) return 0;
        if (r < 45) return below(600);
        if (r < 75) return below(8192);
        if (r < 93) return below(100000);
        if (r < 97) return below(1 << 20);
        return below(4 << 20);
    }
    std::string randomBytes(uint32_t n)
    {
        std::string s(n, '\0');
        uint32_t x = static_cast<uint32_t>(rng());
        for (char& c : s) {
            x = x * 1664525u + 1013904223u;
            c = static_cast<char>(x >> 24);
        }
        return s;
    }
    std::string randomCode()
    {
        static const char letters[] = "ABCDTEXTttxt?* ";
        std::string s;
        for (int i = 0; i < 4; ++i) s += letters[below(sizeof letters - 1)];
        return s;
    }
};

bool sameMacName(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    return compareMacNames(a.data(), b.data()) == 0;
}

// The child of `folder` whose name equals `name` in the catalog's order,
// other than `except`.
const Item* clash(const Item& folder, const std::vector<uint8_t>& name, const Item* except = nullptr)
{
    for (const Item& c : folder.children)
        if (&c != except && sameMacName(c.name, name)) return &c;
    return nullptr;
}

std::string pathOf(const std::string& prefix, const std::vector<uint8_t>& name)
{
    const std::string n = macNameToUtf8(name.data());
    return prefix.empty() ? n : prefix + ":" + n;
}

void describeModel(const Item& folder, const std::string& prefix, HlsListing& out)
{
    for (const Item& c : folder.children) {
        ListedItem l;
        l.kind = c.folder ? 'd' : 'f';
        if (c.folder) {
            l.items = static_cast<uint32_t>(c.children.size());
        } else {
            l.type = c.type;
            l.creator = c.creator;
            l.data = static_cast<uint32_t>(c.data.size());
            l.rsrc = static_cast<uint32_t>(c.rsrc.size());
        }
        const std::string p = pathOf(prefix, c.name);
        out[p] = l;
        if (c.folder) describeModel(c, p, out);
    }
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
}

// Writes bytes at a fork position in pieces of random size.
bool writeAt(Model& m, FileRef& ref, uint8_t fork, uint32_t position, const std::string& bytes)
{
    WriteRequest request{fork, ref, position, nullptr, 0};
    size_t at = 0;
    while (at < bytes.size()) {
        const size_t piece = std::min<size_t>(bytes.size() - at, 1 + m.below(70000));
        request.data = reinterpret_cast<const uint8_t*>(bytes.data()) + at;
        request.length = static_cast<uint32_t>(piece);
        if (appendToFork(request) != request.length || lastError != errNone) return false;
        at += piece;
    }
    return true;
}

bool forkEquals(uint32_t parentId, const Item& file)
{
    std::string data, rsrc;
    if (!readWholeFork(parentId, file.name.data(), dataFork, data)) return false;
    if (!readWholeFork(parentId, file.name.data(), resourceFork, rsrc)) return false;
    return data == file.data && rsrc == file.rsrc;
}

// Ends a step: a change that succeeded is flushed; a failure must be the
// expected one (or a full volume where space was asked for) and is
// reverted. Returns whether the model should take the change.
std::map<std::string, int> failures;  // refused steps by error text

bool finishStep(int32_t expected, bool mayRunOutOfRoom, const std::string& what)
{
    const int32_t code = lastError;
    if (code != errNone) ++failures[errorText(code)];
    if (code == errNone) {
        EXPECT_EQ(expected, errNone) << what << ": succeeded where it should fail";
        flushVolume();
        EXPECT_EQ(lastError, errNone) << what << ": flush failed";
        return lastError == errNone;
    }
    const bool allowed = code == expected || (mayRunOutOfRoom && code == errMacDiskFull);
    EXPECT_TRUE(allowed) << what << ": " << errorText(code);
    lastError = errNone;
    revertVolume();
    EXPECT_EQ(lastError, errNone) << what << ": revert failed";
    return false;
}

// How a run draws its steps: upper bounds (of 100) for create, write,
// delete, rename, mkdir and rmdir; settype takes the rest.
struct Mix {
    uint32_t volumeKb;
    int steps;
    uint32_t bound[6];
    bool crowd;
};

// Runs the random steps on a fresh volume; `done` counts the steps that
// changed the volume, by kind.
void runModel(const ScratchDir& dir, const std::string& image, const Mix& mix, std::map<std::string, int>& done)
{
    ASSERT_TRUE(makeHfsImage(dir, image, mix.volumeKb, "Model"));
    ASSERT_GE(openImage(image, true), 0);
    ASSERT_TRUE(mountAt(0));

    Model m(seed());
    m.crowd = mix.crowd;
    const int total = mix.steps;
    const uint32_t* bound = mix.bound;
    for (int step = 0; step < total; ++step) {
        const uint32_t op = m.below(100);
        auto folders = m.folders();
        auto files = m.files();
        std::string what;
        if (op < bound[0] || files.empty()) {
            // Create a file with both forks.
            Item* folder = folders[m.below(static_cast<uint32_t>(folders.size()))];
            Item f;
            f.name = m.randomName();
            f.type = m.randomCode();
            f.creator = m.randomCode();
            f.data = m.randomBytes(m.randomSize());
            f.rsrc = m.randomBytes(m.below(4) == 0 ? m.randomSize() : 0);
            what = "create " + pathOf("", f.name) + " in " + std::to_string(folder->id);
            const int32_t expected = clash(*folder, f.name) ? errNameExists : errNone;
            if (enterFolder(folder->id)) {
                FileInfo info{};
                std::memcpy(info.name, f.name.data(), f.name.size());
                std::memcpy(info.finderInfo, f.type.data(), 4);
                std::memcpy(info.finderInfo + 4, f.creator.data(), 4);
                createFile(info);
                if (lastError == errNone) {
                    FileRef ref = openFileRef(folder->id, info.name);
                    if (lastError == errNone) {
                        pinBuffer(ref.buffer);
                        writeAt(m, ref, dataFork, 0, f.data) && writeAt(m, ref, resourceFork, 0, f.rsrc);
                        unpinBuffer(ref.buffer);
                    }
                }
            }
            if (finishStep(expected, true, what)) {
                folder->children.push_back(f);
                EXPECT_TRUE(forkEquals(folder->id, f)) << what;
                ++done["create"];
            }
        } else if (op < bound[1]) {
            // Append to a fork, or overwrite part of it in place.
            auto [file, parent] = files[m.below(static_cast<uint32_t>(files.size()))];
            const uint8_t fork = m.below(3) == 0 ? resourceFork : dataFork;
            std::string& bytes = fork == dataFork ? file->data : file->rsrc;
            const bool append = bytes.empty() || m.below(2) == 0;
            const uint32_t position = append ? static_cast<uint32_t>(bytes.size())
                                             : m.below(static_cast<uint32_t>(bytes.size()));
            const uint32_t length = append ? m.randomSize()
                                           : 1 + m.below(static_cast<uint32_t>(bytes.size()) - position);
            const std::string piece = m.randomBytes(length);
            what = std::string(append ? "append to " : "overwrite ") + pathOf("", file->name);
            if (enterFolder(parent->id)) {
                FileRef ref = openFileRef(parent->id, file->name.data());
                if (lastError == errNone) {
                    pinBuffer(ref.buffer);
                    writeAt(m, ref, fork, position, piece);
                    unpinBuffer(ref.buffer);
                }
            }
            if (finishStep(errNone, append, what)) {
                bytes.replace(position, piece.size(), piece);
                ++done[append ? "append" : "overwrite"];
            }
            EXPECT_TRUE(forkEquals(parent->id, *file)) << what;
        } else if (op < bound[2]) {
            auto [file, parent] = files[m.below(static_cast<uint32_t>(files.size()))];
            what = "delete " + pathOf("", file->name);
            if (enterFolder(parent->id)) deleteFile(file->name.data());
            if (finishStep(errNone, false, what)) {
                parent->children.erase(parent->children.begin() + (file - parent->children.data()));
                ++done["delete"];
            }
        } else if (op < bound[3]) {
            auto items = m.all();
            if (items.empty()) continue;
            auto [item, parent] = items[m.below(static_cast<uint32_t>(items.size()))];
            const std::vector<uint8_t> newName = m.randomName();
            what = "rename " + pathOf("", item->name) + " to " + pathOf("", newName);
            const int32_t expected = clash(*parent, newName, item) ? errNameExists : errNone;
            if (enterFolder(parent->id)) renameItem(item->name.data(), newName.data());
            // A longer name may split a node, and a full volume refuses that.
            if (finishStep(expected, true, what)) {
                item->name = newName;
                ++done["rename"];
            }
        } else if (op < bound[4]) {
            Item* folder = folders[m.below(static_cast<uint32_t>(folders.size()))];
            Item f;
            f.folder = true;
            f.name = m.randomName();
            what = "mkdir " + pathOf("", f.name);
            const int32_t expected = clash(*folder, f.name) ? errNameExists : errNone;
            if (enterFolder(folder->id)) createFolder(f.name.data());
            if (finishStep(expected, true, what)) {
                CatalogItem made;
                ASSERT_EQ(lookupCatalogItem(folder->id, f.name.data(), made), 1) << what;
                f.id = made.id;
                folder->children.push_back(f);
                ++done["mkdir"];
            }
        } else if (op < bound[5]) {
            if (folders.size() < 2) continue;
            Item* target = folders[1 + m.below(static_cast<uint32_t>(folders.size() - 1))];
            Item* parent = nullptr;
            for (auto& [item, p] : m.all())
                if (item == target) parent = p;
            ASSERT_NE(parent, nullptr);
            what = "rmdir " + pathOf("", target->name);
            const bool empty = target->children.empty();
            if (enterFolder(parent->id)) deleteFolder(target->name.data());
            // A folder that still holds items stays, without an error.
            if (finishStep(errNone, false, what) && empty) {
                parent->children.erase(parent->children.begin() + (target - parent->children.data()));
                ++done["rmdir"];
            }
        } else {
            auto [file, parent] = files[m.below(static_cast<uint32_t>(files.size()))];
            const std::string type = m.randomCode(), creator = m.randomCode();
            what = "settype " + pathOf("", file->name);
            if (enterFolder(parent->id))
                setTypeCreator(file->name.data(), reinterpret_cast<const uint8_t*>(type.data()),
                               reinterpret_cast<const uint8_t*>(creator.data()));
            if (finishStep(errNone, false, what)) {
                file->type = type;
                file->creator = creator;
                ++done["settype"];
            }
        }
        SCOPED_TRACE("step " + std::to_string(step) + ": " + what);

        // The volume as the cache holds it: sound, and equal to the model.
        const auto problems = checkLines();
        ASSERT_TRUE(problems.empty()) << joined(problems);
        std::vector<WalkedItem> walked;
        ASSERT_TRUE(walkVolume(walked)) << errorText(lastError);
        HlsListing model;
        describeModel(m.root, "", model);
        ASSERT_EQ(describeListing(listingOf(walked)), describeListing(model));

        // Now and then: from the medium, every fork.
        if (step % 50 == 49 || step + 1 == total) {
            closeAll();
            ASSERT_GE(openImage(image, true), 0);
            ASSERT_TRUE(mountAt(0));
            ASSERT_TRUE(checkLines().empty());
            for (auto& [file, parent] : m.files()) EXPECT_TRUE(forkEquals(parent->id, *file)) << pathOf("", file->name);
        }
    }
    closeAll();
}

bool everyTenth(const std::string& path) { return std::hash<std::string>()(path) % 10 == 0; }

}  // namespace

TEST(WriteProperties, RandomChangesKeepTheVolumeEqualToTheModel)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string image = dir.file("prop.img");
    const int total = steps();
    std::map<std::string, int> done;
    failures.clear();
    runModel(dir, image, {4000, total, {25, 42, 54, 66, 80, 90}, false}, done);
    if (HasFatalFailure()) return;
    // Every kind of step happened.
    for (const char* kind : {"create", "append", "overwrite", "delete", "rename", "mkdir", "rmdir", "settype"})
        EXPECT_GT(done[kind], 0) << kind;
    // Refusals happened on the way, and were reverted cleanly (a full
    // volume needs the full length of the run).
    EXPECT_GT(failures[errorText(errNameExists)], 0);
    if (total >= 400) {
        EXPECT_GT(failures[errorText(errMacDiskFull)], 0);
    }
    expectSameAsHfsutils(dir, image);
}

TEST(WriteProperties, ACrowdOfSmallItemsGrowsBothTrees)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string image = dir.file("crowd.img");
    const int total = 3 * steps();
    std::map<std::string, int> done;
    failures.clear();
    runModel(dir, image, {3000, total, {50, 58, 63, 70, 88, 91}, true}, done);
    if (HasFatalFailure()) return;
    ASSERT_GE(openImage(image, false), 0);
    ASSERT_TRUE(mountAt(0));
    // The catalog tree has grown several levels (and its file beyond the
    // clump it was formatted with).
    if (total >= 1200) {
        EXPECT_GE(read16(volume.catalogHeader->data + bth::depth), 3u);
    }
    closeAll();
    expectSameAsHfsutils(dir, image, everyTenth);
}

TEST(WriteProperties, AWriteEndingInsideTheForkKeepsTheBytesAfterIt)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string image = dir.file("w.img");
    ASSERT_TRUE(makeHfsImage(dir, image, 800, "W"));
    ASSERT_GE(openImage(image, true), 0);
    ASSERT_TRUE(mountAt(0));
    ASSERT_TRUE(enterFolder(2));
    Item f;
    f.name = macName("file");
    Model m(1);
    f.data = m.randomBytes(2000);
    FileInfo info{};
    std::memcpy(info.name, f.name.data(), f.name.size());
    createFile(info);
    FileRef ref = openFileRef(2, info.name);
    ASSERT_EQ(lastError, errNone);
    pinBuffer(ref.buffer);
    ASSERT_TRUE(writeAt(m, ref, dataFork, 0, f.data));
    // Inside one sector, and across a sector boundary.
    ASSERT_TRUE(writeAt(m, ref, dataFork, 100, "0123456789"));
    ASSERT_TRUE(writeAt(m, ref, dataFork, 1020, "abcdefgh"));
    unpinBuffer(ref.buffer);
    f.data.replace(100, 10, "0123456789");
    f.data.replace(1020, 8, "abcdefgh");
    flushVolume();
    ASSERT_EQ(lastError, errNone);
    EXPECT_TRUE(forkEquals(2, f));
    EXPECT_TRUE(checkLines().empty());
    closeAll();
}
