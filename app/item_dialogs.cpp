// The item dialogs' logic (see dialogs.h): what each shows, when OK is
// enabled, and what OK asks, changes and reports.
#include "app/dialogs.h"

#include <cstring>

#include "base/format.h"
#include "base/settings.h"
#include "base/ui.h"
#include "transfer/names.h"
#include "transfer/pcfile.h"

namespace verrin {

namespace {

std::string sizeText(uint32_t bytes) { return groupThousands(std::to_string(bytes)) + " bytes"; }

bool ask(const char* question, const char* caption)
{
    return messageBox(question, caption, uiYesNo, uiIconQuestion) == uiAnswerYes;
}

void warn(const char* text) { messageBox(text, nullptr, uiOk, uiIconWarning); }

// A name the PC-name field lets through, naming an item of the current
// directory (never a path, "." or "..").
bool acceptablePcName(const std::string& name)
{
    if (name.empty() || name.size() > static_cast<size_t>(pcNameFieldLength) || name == "." || name == "..")
        return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || !pcNameEditAccepts(static_cast<unsigned char>(c), settings.allowUpper != 0))
            return false;
    return true;
}

std::string cut(const std::string& text, int length) { return text.substr(0, static_cast<size_t>(length)); }

// A typed type or creator as its 4 Mac bytes (shorter texts padded with
// spaces; they cannot be stored, OK stays disabled for them).
void macCode(const std::string& text, uint8_t code[4])
{
    std::memset(code, ' ', 4);
    pcTextToMacBytes(code, cut(text, macCodeFieldLength), 4);
}

}  // namespace

ItemInfo itemInfo(const PcEntry& entry)
{
    ItemInfo info{};
    info.title = entry.kind == pcDirectory ? "PC Directory Information" : "PC File Information";
    info.name = entry.name;
    if (entry.kind != pcDirectory) info.size = sizeText(entry.size);
    info.modified = formatDosDateTime(entry.dateTime);
    return info;
}

ItemInfo itemInfo(const MacEntry& entry)
{
    ItemInfo info{};
    info.title = entry.kind == macFolder ? "Mac Folder Information" : "Mac File Information";
    info.name = macNameToPc(entry.name);
    if (entry.kind != macFolder) {
        info.type = macCodeToPc(entry.type, 4);
        info.creator = macCodeToPc(entry.creator, 4);
        info.size = sizeText(entry.firstSize);
        info.rsrcSize = sizeText(entry.secondSize);
    }
    info.modified = formatDosDateTime(entry.dateTime);
    return info;
}

bool nameOkEnabled(const std::string& name) { return !name.empty(); }

bool macFileOkEnabled(const std::string& name, const std::string& type, const std::string& creator)
{
    return !name.empty() && type.size() == static_cast<size_t>(macCodeFieldLength) &&
           creator.size() == static_cast<size_t>(macCodeFieldLength);
}

int pcItemInfoOk(const PcEntry& entry, const std::string& name)
{
    if (name == entry.name) return 0;
    const bool directory = entry.kind == pcDirectory;
    if (!ask(directory ? "Rename directory?" : "Rename this file?", directory ? "Rename PC Directory" : "Rename PC File"))
        return 0;
    if (!acceptablePcName(name) || !pcMove(entry.name.c_str(), name.c_str())) {
        warn(directory ? "Could not rename directory." : "Could not rename this file.");
        return 0;
    }
    return 1;
}

int macFileInfoOk(const MacEntry& entry, const std::string& name, const std::string& type, const std::string& creator)
{
    const std::string typedName = cut(name, macNameFieldLength);
    uint8_t newType[4], newCreator[4];
    macCode(type, newType);
    macCode(creator, newCreator);
    const bool nameDiffers = typedName != macNameToPc(entry.name);
    const bool typeDiffers = std::memcmp(newType, entry.type, 4) != 0;
    const bool creatorDiffers = std::memcmp(newCreator, entry.creator, 4) != 0;
    if (!nameDiffers && !typeDiffers && !creatorDiffers) return 0;

    std::string question;
    if (nameDiffers) question += "Rename this file?";
    if (typeDiffers) question += "\nChange file type?";
    if (creatorDiffers) question += "\nChange file creator?";
    if (!ask(question.c_str(), "Change Mac File Info")) return 0;

    uint8_t newName[32] = {};
    pcNameToMac(newName, typedName.c_str());
    if (typeDiffers || creatorDiffers) setTypeCreator(entry.name, newType, newCreator);
    if (nameDiffers) renameItem(entry.name, newName);
    if (lastError == errNone) {
        flushVolume();
        if (lastError == errNone) return 1;
    }
    warn("Could not change file info");
    return 0;
}

int macFolderInfoOk(const MacEntry& entry, const std::string& name)
{
    const std::string typedName = cut(name, macNameFieldLength);
    if (typedName == macNameToPc(entry.name)) return 0;
    if (!ask("Rename folder?", "Rename Mac Folder")) return 0;
    uint8_t newName[32] = {};
    pcNameToMac(newName, typedName.c_str());
    renameItem(entry.name, newName);
    if (lastError == errNone) flushVolume();
    if (lastError != errNone) {
        warn("Could not rename folder.");
        return 0;
    }
    return 1;
}

int createMacFolderOk(const std::string& name)
{
    uint8_t folderName[32] = {};
    pcNameToMac(folderName, cut(name, macNameFieldLength).c_str());
    createFolder(folderName);
    return 1;
}

int createPcDirectoryOk(const std::string& name)
{
    if (!acceptablePcName(name) || !pcMakeDirectory(name.c_str())) setError(errPcCreate);
    return 1;
}

}  // namespace verrin
