// The translation table and its stored form. See translation_table.h.
// Calls the profile file functions and the settings file path.
#include "transfer/translation_table.h"

#include <cstring>
#include <string>
#include <vector>

#include "base/profile.h"
#include "base/settings.h"

namespace verrin {

namespace {

constexpr TranslationSlot emptySlot(int index)
{
    return {{translationNames[index], {0, 0, 0, 0}, nullptr},
            {translationNames[index], {' ', ' ', ' ', ' ', 0}, {' ', ' ', ' ', ' ', 0}, nullptr}};
}

struct Routines {
    MacToPcRoutine macToPc;
    PcToMacRoutine pcToMac;
};
Routines installed[translationSlots] = {};

// Copies up to `width` characters of text into a field of width + 1 bytes,
// padding with spaces to exactly `width` when pad is set.
void setField(char* field, const char* text, size_t width, bool pad)
{
    size_t n = 0;
    for (; text && n < width && text[n]; ++n) field[n] = text[n];
    for (; pad && n < width; ++n) field[n] = ' ';
    field[n] = '\0';
}

}  // namespace

TranslationSlot translationTable[translationSlots] = {emptySlot(0), emptySlot(1), emptySlot(2), emptySlot(3),
                                                      emptySlot(4)};
int translationCount = 0;

void installTranslationRoutines(TranslationMode mode, MacToPcRoutine macToPc, PcToMacRoutine pcToMac)
{
    if (mode < 0 || mode >= translationSlots) return;
    installed[mode] = {macToPc, pcToMac};
    translationTable[mode].macToPc.routine = macToPc;
    translationTable[mode].pcToMac.routine = pcToMac;
}

int loadTranslationEntry(const char* name, MacToPcRoutine macToPc, PcToMacRoutine pcToMac)
{
    if (translationCount >= translationSlots) return -1;
    std::string value = profile::readString(settings.iniPath, mainPrefs, name, "        ", 13);
    // Drop the brackets (whatever the first and last characters are).
    std::string rest = value.size() >= 2 ? value.substr(1, value.size() - 2) : std::string();
    if (rest.size() < 8) rest = "        ";
    TranslationSlot& slot = translationTable[translationCount];
    setField(slot.pcToMac.type, rest.c_str(), 4, false);
    setField(slot.pcToMac.creator, rest.c_str() + 4, 4, false);
    setField(slot.macToPc.extension, rest.c_str() + 8, 3, false);
    slot.macToPc.name = name;
    slot.pcToMac.name = name;
    slot.macToPc.routine = macToPc;
    slot.pcToMac.routine = pcToMac;
    return translationCount++;
}

void loadTranslationTable()
{
    const profile::ReadBatch reads;
    translationCount = 0;
    for (int i = 0; i < translationSlots; ++i) translationTable[i] = emptySlot(i);
    for (int i = 0; i < translationSlots; ++i)
        loadTranslationEntry(translationNames[i], installed[i].macToPc, installed[i].pcToMac);
}

std::string storedTranslationValue(int index)
{
    const TranslationSlot& slot = translationTable[index];
    // Type and creator keep exactly four characters each so the stored
    // value splits at the same places when read back.
    char type[5];
    char creator[5];
    setField(type, slot.pcToMac.type, 4, true);
    setField(creator, slot.pcToMac.creator, 4, true);
    return std::string("<") + type + creator + slot.macToPc.extension + ">";
}

std::vector<profile::Entry> translationTableEntries()
{
    std::vector<profile::Entry> entries;
    for (int i = 0; i < translationCount; ++i)
        entries.push_back({mainPrefs, translationTable[i].macToPc.name, storedTranslationValue(i)});
    return entries;
}

void saveTranslationTable() { profile::writeStrings(settings.iniPath, translationTableEntries()); }

void setMacToPcDefault(TranslationMode mode, const char* extension)
{
    if (mode < 0 || mode >= translationSlots) return;
    setField(translationTable[mode].macToPc.extension, extension, 3, false);
}

void setPcToMacDefault(TranslationMode mode, const char* type, const char* creator)
{
    if (mode < 0 || mode >= translationSlots) return;
    setField(translationTable[mode].pcToMac.type, type, 4, true);
    setField(translationTable[mode].pcToMac.creator, creator, 4, true);
}

}  // namespace verrin
