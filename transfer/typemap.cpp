// File type map lookups. See typemap.h. Calls the profile reader
// (base/profile.h) and the name mapping (transfer/names.h).
#include "transfer/typemap.h"

#include <cstring>

#include "base/profile.h"
#include "transfer/names.h"

namespace verrin {

std::string lookupMacTypeMap(const std::string& ftmPath, const uint8_t* type, const uint8_t* creator,
                             std::string_view defaultExtension)
{
    uint8_t code[8];
    std::memcpy(code, type, 4);
    std::memcpy(code + 4, creator, 4);
    const std::string both = macCodeToPc(code, 8);
    std::string answer = profile::readString(ftmPath, macTypeMapSection, both, defaultExtension, 5);
    if (answer != defaultExtension) return answer;
    return profile::readString(ftmPath, macTypeMapSection, both.substr(0, 4), defaultExtension, 5);
}

bool lookupPcTypeMap(const std::string& ftmPath, const char* pcName, std::string_view defaultType,
                     std::string_view defaultCreator, uint8_t* typeCreator)
{
    const char* dot = std::strrchr(pcName, '.');
    if (!dot) return false;
    // The extra "_" is cut off again with the answer, so the default comes
    // back as exactly the type and creator, trailing spaces included
    // (blanks at the end of a value would otherwise be trimmed).
    const std::string def = std::string(defaultType) + std::string(defaultCreator) + "_";
    const std::string answer = profile::readString(ftmPath, pcTypeMapSection, dot + 1, def, 8);
    pcTextToMacBytes(typeCreator, answer, 8);
    return true;
}

}  // namespace verrin
