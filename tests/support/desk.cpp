// The desk for pane, batch and dialog tests. See desk.h.
#include "support/desk.h"

#include <cstring>
#include <fstream>

#include "app/panes.h"
#include "base/macroman.h"
#include "base/settings.h"
#include "base/ui_headless.h"
#include "devices/image_drive.h"
#include "hfs/format.h"
#include "hfs/hfs.h"
#include "support/volumes.h"
#include "transfer/streams.h"
#include "transfer/translation_table.h"
#include "transfer/translations.h"

namespace fs = std::filesystem;

namespace verrin::testsupport {

Desk::Desk()
{
    home = fs::current_path();
    pc = dir.file("pc");
    fs::create_directory(pc);
    fs::current_path(pc);
    image = dir.file("desk.img");
    closeAll();
    headless::reset();
    settings = Settings{};
    settings.copyPrefs = 0;
    settings.iniPath = dir.file("KVOL.INI");
    settings.ftmPath = dir.file("KVOL.FTM");
    loadTranslationTable();
    installTranslations();
    pcPane = PcPane{};
    macPane = MacPane{};
    listingVisible = true;
}

Desk::~Desk()
{
    for (int i = 0; i < transferStreamCount; ++i) closeTransfer(i);
    closeAll();
    headless::reset();
    pcPane = PcPane{};
    macPane = MacPane{};
    listingVisible = true;
    fs::current_path(home);
}

bool Desk::mountNew(uint32_t kilobytes, const char* volumeName)
{
    if (!makeBlankFile(image, uint64_t{kilobytes} * 1024)) return false;
    drive = openImageDrive(image.c_str(), true);
    if (drive < 0) return false;
    setNewVolumeName(reinterpret_cast<const uint8_t*>(volumeName), static_cast<uint32_t>(std::strlen(volumeName)));
    headless::scriptedAnswers = {uiAnswerOk, uiAnswerYes};
    formatDrive(drive);
    headless::reset();
    if (lastError != errNone || !chooseMacDrive(drive) || macPane.entries.empty()) return false;
    openMacEntry(0);
    return volume.mounted && currentFolderId == 2;
}

bool writeTree(const std::string& root, const Tree& tree)
{
    for (const auto& [path, contents] : tree) {
        const fs::path p = fs::path(root) / path;
        std::error_code ec;
        if (!path.empty() && path.back() == '/') {
            fs::create_directories(p, ec);
            continue;
        }
        fs::create_directories(p.parent_path(), ec);
        if (!writeFile(p.string(), contents)) return false;
    }
    return true;
}

Tree readTree(const std::string& root)
{
    Tree tree;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(e.path(), root).generic_string();
        if (e.is_directory()) {
            tree[rel + "/"] = "";
        } else {
            std::string bytes;
            readFile(e.path().string(), bytes);
            tree[rel] = bytes;
        }
    }
    return tree;
}

namespace {

void collect(uint32_t folderId, const std::string& prefix, Tree& tree, int depth)
{
    std::vector<CatalogItem> items;
    if (depth > 64 || !listFolder(folderId, items)) return;
    for (const CatalogItem& item : items) {
        const std::string path = prefix + macNameToUtf8(item.name);
        if (item.kind == cdrFolder) {
            tree[path + "/"] = "";
            collect(item.id, path + "/", tree, depth + 1);
        } else {
            std::string data;
            readWholeFork(folderId, item.name, dataFork, data);
            tree[path] = data;
        }
    }
}

}  // namespace

Tree macTree(uint32_t folderId)
{
    Tree tree;
    collect(folderId, "", tree, 0);
    return tree;
}

std::vector<int> pcSelection(const std::vector<std::string>& names)
{
    std::vector<int> out;
    for (const std::string& n : names)
        if (const int i = findPcEntry(n); i >= 0) out.push_back(i);
    return out;
}

std::vector<int> macSelection(const std::vector<std::string>& names)
{
    std::vector<int> out;
    for (const std::string& n : names) {
        const std::vector<uint8_t> name = macName(n);
        if (const int i = findMacEntry(name.data()); i >= 0) out.push_back(i);
    }
    return out;
}

std::vector<std::string> shownTexts()
{
    std::vector<std::string> out;
    for (const auto& p : headless::shown) out.push_back(p.text);
    return out;
}

std::vector<std::string> shownCaptions()
{
    std::vector<std::string> out;
    for (const auto& p : headless::shown) out.push_back(p.caption);
    return out;
}

}  // namespace verrin::testsupport
