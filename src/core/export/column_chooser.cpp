#include "column_chooser.h"

#include "csv_format.h"
#include "core/settings/settings_keys.h"
#include "core/text/gbk_codec.h"

namespace logdesk {

namespace {

const std::string& ChoiceSection() {
    static const std::string name = Gbk(settings::kExportChoiceSection);
    return name;
}
const std::string& DefaultsSection() {
    static const std::string name = Gbk(settings::kExportDefaultsSection);
    return name;
}
const std::string& NumberCaption() {
    static const std::string name = Gbk("序号");
    return name;
}
const std::string& CheckedSuffix() {
    static const std::string name = Gbk(settings::kCheckedSuffix);
    return name;
}

} // namespace

std::vector<ExportColumn> FillChooser(ConfigFile& config, bool defaults,
                                      const std::vector<std::string>& fieldCaptions) {
    config.selectSection(defaults ? DefaultsSection() : ChoiceSection());
    std::vector<ExportColumn> entries;
    entries.push_back(
        {NumberCaption(), config.readBool(NumberCaption() + CheckedSuffix(), true), 0});
    int column = 0;
    for (const std::string& caption : fieldCaptions) {
        ++column;
        const bool checked =
            config.readBool(caption + CheckedSuffix(), IsDefaultExportColumn(caption));
        entries.push_back({caption, checked, column});
    }
    return entries;
}

Result<void> SaveChoice(ConfigFile& config, const std::vector<ExportColumn>& entries) {
    config.selectSection(ChoiceSection());
    Result<void> saved;
    for (const ExportColumn& entry : entries) {
        Result<void> written = config.writeBool(entry.caption + CheckedSuffix(), entry.checked);
        if (saved && !written) {
            saved = std::move(written);
        }
    }
    return saved;
}

} // namespace logdesk
