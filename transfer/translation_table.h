// The translation table: the five translations, each with its display name
// (also its settings key), its routine in each copy direction and the
// user's defaults (the PC extension given to copies from the Mac, the type
// and creator given to copies to the Mac).
//
// The defaults are stored in "Main Prefs" of the settings file, one key per
// translation named after it, as "<" type creator extension ">". The
// routines are installed by the translation layer; a slot whose routine is
// not installed yet holds null. Calls the profile file functions and the
// settings paths.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/profile.h"
#include "base/settings.h"

namespace verrin {

// Mac to PC: copies the Mac file (length-prefixed name) in folder folderId
// to the PC current directory. Failures are left in lastError.
using MacToPcRoutine = void (*)(const uint8_t* macName, uint32_t folderId);
// PC to Mac: copies the PC file (name relative to the PC current directory)
// into the Mac folder folderId. Failures are left in lastError.
using PcToMacRoutine = void (*)(const char* pcName, uint32_t folderId);

struct MacToPcTranslation {
    const char* name;
    char extension[4];  // up to 3 characters, no dot, NUL-terminated
    MacToPcRoutine routine;
};

struct PcToMacTranslation {
    const char* name;
    char type[5];  // 4 characters and a NUL (PC characters)
    char creator[5];
    PcToMacRoutine routine;
};

struct TranslationSlot {
    MacToPcTranslation macToPc;
    PcToMacTranslation pcToMac;
};

extern TranslationSlot translationTable[translationSlots];
extern int translationCount;  // entries loaded

// Sets the routines of one translation, for the table loaded now and for
// every later load.
void installTranslationRoutines(TranslationMode mode, MacToPcRoutine macToPc, PcToMacRoutine pcToMac);

// Loads one entry from the settings file into the next free slot; -1 when
// all five are taken, else the slot's index. The key is read with at most
// 13 characters; the angle brackets are dropped; a remainder shorter than 8
// characters gives four spaces each for type and creator and no extension.
int loadTranslationEntry(const char* name, MacToPcRoutine macToPc, PcToMacRoutine pcToMac);
// Empties the table and loads the five entries in index order.
void loadTranslationTable();
// Writes every loaded entry back in its stored form.
void saveTranslationTable();
// Every loaded entry as the key and stored form saveTranslationTable writes
// (and saveSettings takes).
std::vector<profile::Entry> translationTableEntries();
// The stored form of one loaded entry: "<" type creator extension ">".
std::string storedTranslationValue(int index);

// Stores new defaults into a slot (as the copy settings dialogs do): the
// extension is cut to 3 characters, type and creator to 4 and padded with
// spaces to exactly 4.
void setMacToPcDefault(TranslationMode mode, const char* extension);
void setPcToMacDefault(TranslationMode mode, const char* type, const char* creator);

}  // namespace verrin
