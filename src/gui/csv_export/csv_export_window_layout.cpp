// The CSV export window's layout: its controls, their places, captions and fonts, and
// its file dialogs.
#include "gui/csv_export/csv_export_window.h"
#include "gui/toolkit/window_description.h"

namespace logdesk {

const WindowDescription& CsvExportWindowDescription() {
    static const WindowDescription d{
        .name = "csvexport",
        .title = "导出 csv 文件",
        .outerWidth = 479,
        .outerHeight = 381,
        .resizable = false,
        .maximizeBox = false,
        .controls =
            {
                {.name = "标签1",
                 .kind = ControlKind::Label,
                 .geometry = {8, 8, 456, 24},
                 .caption = "启用/禁止列输出，调整列顺序：",
                 .font = kSong16Bold},
                {.name = "选择列表框",
                 .kind = ControlKind::CheckList,
                 .geometry = {8, 40, 248, 296}},
                {.name = "按钮全选",
                 .kind = ControlKind::Button,
                 .geometry = {280, 40, 184, 32},
                 .caption = "全部打勾列",
                 .font = kSong16},
                {.name = "按钮不选",
                 .kind = ControlKind::Button,
                 .geometry = {280, 72, 184, 32},
                 .caption = "全部禁勾列",
                 .font = kSong16},
                {.name = "按钮反选",
                 .kind = ControlKind::Button,
                 .geometry = {280, 104, 184, 32},
                 .caption = "反向打勾列",
                 .font = kSong16},
                {.name = "按钮上移",
                 .kind = ControlKind::Button,
                 .geometry = {280, 160, 87, 32},
                 .caption = "上移列",
                 .font = kSong16},
                {.name = "按钮下移",
                 .kind = ControlKind::Button,
                 .geometry = {377, 160, 87, 32},
                 .caption = "下移列",
                 .font = kSong16},
                {.name = "按钮恢复默认字段设置",
                 .kind = ControlKind::Button,
                 .geometry = {280, 216, 184, 32},
                 .caption = "恢复默认列设置",
                 .font = kSong16},
                {.name = "按钮导出保存",
                 .kind = ControlKind::Button,
                 .geometry = {280, 269, 184, 67},
                 .caption = "导出保存",
                 .font = kHei29Bold},
            },
        .dialogs =
            {
                {.name = "通用对话框3",
                 .save = true,
                 .title = "导出到csv",
                 .filter = "csv文件(*.csv)|*.csv|文本文件(*.txt)|*.txt|全部文件(*.*)|*.*",
                 .initialFilter = 0,
                 .defaultExtension = "csv"},
            },
    };
    return d;
}

} // namespace logdesk
