// The per-file translations in both directions: the five Mac-to-PC writers
// and the five PC-to-Mac readers, which the batch copy calls once per file
// through the translation table's slots.
// Calls the transfer streams, the codecs, the name mapping, the type map,
// the settings and the translation table.
#pragma once

#include <cstdint>

namespace verrin {

// Mac to PC: copies the Mac file `macName` (length-prefixed) of folder
// `folderId` into the PC current directory. Failures stay in lastError;
// a failed or cancelled copy leaves no PC file.
void dataFileToPc(const uint8_t* macName, uint32_t folderId);
void textFileToPc(const uint8_t* macName, uint32_t folderId);
void resourceFileToPc(const uint8_t* macName, uint32_t folderId);
void macBinaryToPc(const uint8_t* macName, uint32_t folderId);
void binHexToPc(const uint8_t* macName, uint32_t folderId);

// PC to Mac: copies the PC file `pcName` (relative to the current
// directory) into the Mac folder `folderId`, which is the current Mac
// folder. Failures stay in lastError; the file made so far is left to the
// caller's revertVolume (the error report), which drops it.
void dataFileToMac(const char* pcName, uint32_t folderId);
void textFileToMac(const char* pcName, uint32_t folderId);
void resourceFileToMac(const char* pcName, uint32_t folderId);
void macBinaryToMac(const char* pcName, uint32_t folderId);
void binHexToMac(const char* pcName, uint32_t folderId);

// Puts the ten routines into the translation table's slots.
void installTranslations();

}  // namespace verrin
