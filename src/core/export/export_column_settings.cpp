#include "export_column_settings.h"

#include "csv_format.h"
#include "core/settings/settings_keys.h"
#include "core/text/gbk_codec.h"

namespace logdesk {

ExportColumnSettings ExportColumnSettings::read(ConfigFile& config, bool defaults,
                                                const std::vector<std::string>& fieldCaptions) {
    const FlagFamilySetting& marks = defaults ? settings::kExportDefaults : settings::kExportChoice;
    static const std::string numberCaption = Gbk("序号");
    ExportColumnSettings loaded;
    loaded.marks.push_back({numberCaption, marks.read(config, numberCaption, true)});
    for (const std::string& caption : fieldCaptions) {
        loaded.marks.push_back(
            {caption, marks.read(config, caption, IsDefaultExportColumn(caption))});
    }
    return loaded;
}

Result<void> ExportColumnSettings::write(ConfigFile& config) const {
    Result<void> saved;
    for (const ExportColumnMark& mark : marks) {
        Result<void> written = settings::kExportChoice.write(config, mark.caption, mark.checked);
        if (saved && !written) {
            saved = std::move(written);
        }
    }
    return saved;
}

} // namespace logdesk
