// The copy settings dialogs' logic (see dialogs.h): the form they show and
// what OK stores.
#include "app/dialogs.h"

#include "base/settings.h"
#include "transfer/translation_table.h"

namespace verrin {

namespace {

int validTranslation(int index) { return index >= 0 && index < translationSlots ? index : DataFile; }

std::string cut(const std::string& text, int length) { return text.substr(0, static_cast<size_t>(length)); }

}  // namespace

CopySettingsForm openCopySettings(bool macToPc)
{
    CopySettingsForm form{};
    if (macToPc) {
        form.useMap = settings.macUseMap != 0;
        form.copyDir = settings.macCopyDir != 0;
        form.filter = settings.macCopyFilter != 0;
        form.filterType = settings.macFilterType;
        form.filterCreator = settings.macFilterCrtr;
        form.filterExt = settings.macFilterExt;
        form.autoRename = settings.autoRename != 0;
        form.allowUpper = settings.allowUpper != 0;
    } else {
        form.useMap = settings.pcUseMap != 0;
        form.copyDir = settings.pcCopyDir != 0;
        form.filter = settings.pcCopyFilter != 0;
        form.filterExt = settings.pcFilterExt;
    }
    chooseCopyTranslation(form, macToPc, macToPc ? settings.macTrans : settings.pcTrans);
    return form;
}

void chooseCopyTranslation(CopySettingsForm& form, bool macToPc, int translation)
{
    form.translation = validTranslation(translation);
    form.mapEnabled = form.translation == DataFile || form.translation == TextFile;
    const TranslationSlot& slot = translationTable[form.translation];
    if (macToPc) {
        form.extension = slot.macToPc.extension;
    } else {
        form.type = slot.pcToMac.type;
        form.creator = slot.pcToMac.creator;
    }
}

void storeCopySettings(const CopySettingsForm& form, bool macToPc)
{
    const auto mode = static_cast<TranslationMode>(validTranslation(form.translation));
    if (macToPc) {
        settings.macTrans = mode;
        settings.macUseMap = form.useMap;
        settings.macCopyDir = form.copyDir;
        settings.macCopyFilter = form.filter;
        settings.autoRename = form.autoRename;
        settings.allowUpper = form.allowUpper;
        setMacToPcDefault(mode, cut(form.extension, pcExtensionFieldLength).c_str());
        settings.macFilterType = cut(form.filterType, macCodeFieldLength);
        settings.macFilterCrtr = cut(form.filterCreator, macCodeFieldLength);
        settings.macFilterExt = cut(form.filterExt, macFilterExtFieldLength);
    } else {
        settings.pcTrans = mode;
        settings.pcUseMap = form.useMap;
        settings.pcCopyDir = form.copyDir;
        settings.pcCopyFilter = form.filter;
        setPcToMacDefault(mode, cut(form.type, macCodeFieldLength).c_str(), cut(form.creator, macCodeFieldLength).c_str());
        settings.pcFilterExt = cut(form.filterExt, pcExtensionFieldLength);
    }
}

}  // namespace verrin
