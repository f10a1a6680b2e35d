// The file type map: KVOL.FTM, a hand-edited initialisation file beside the
// program, maps Mac type/creator codes to PC extensions (section
// "Mac Type Map") and PC extensions to type/creator codes ("PC Type Map").
// Only the Data File translation consults it. The program never writes it;
// a missing file behaves like an empty one. Codes are written in the file
// in PC characters (through macNameToPc / pcNameToMac).
// Calls the profile reader and the name mapping.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace verrin {

inline constexpr const char* macTypeMapSection = "Mac Type Map";
inline constexpr const char* pcTypeMapSection = "PC Type Map";

// The PC extension for a Mac file with this type and creator (4 bytes each,
// Mac Roman), given the translation's own extension as the default. A
// type-and-creator entry wins over a type-only entry; one whose value
// equals the default falls through to the type-only entry. Values are cut
// to 5 characters.
std::string lookupMacTypeMap(const std::string& ftmPath, const uint8_t* type, const uint8_t* creator,
                             std::string_view defaultExtension);

// The type and creator for a PC file: looks up the text after the name's
// last "." in "PC Type Map" and copies the answer (cut to 8 characters,
// converted to Mac bytes) over typeCreator[0..8) in order; an answer
// shorter than 8 fills only its first bytes. The default is the
// translation's type and creator (PC text, 4 characters each). Returns
// false, touching nothing, when the name has no "." at all.
bool lookupPcTypeMap(const std::string& ftmPath, const char* pcName, std::string_view defaultType,
                     std::string_view defaultCreator, uint8_t* typeCreator);

}  // namespace verrin
