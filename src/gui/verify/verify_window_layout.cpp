// The layout of the window 蜘蛛真伪: its controls, their places and captions,
// and its three save dialogs.
#include "gui/toolkit/window_description.h"
#include "gui/verify/verify_window.h"

namespace logdesk {

const WindowDescription& VerifyWindowDescription() {
    static const WindowDescription d{
        .name = "verify",
        .title = "蜘蛛真伪",
        .outerWidth = 822,
        .outerHeight = 496,
        .resizable = true,
        .maximizeBox = true,
        .controls =
            {
                {.name = "按钮停止验证",
                 .kind = ControlKind::Button,
                 .geometry = {8, 6, 96, 28},
                 .caption = "停止验证"},
                {.name = "进度条验证",
                 .kind = ControlKind::ProgressBar,
                 .geometry = {112, 12, 200, 16}},
                {.name = "标签状态",
                 .kind = ControlKind::Label,
                 .geometry = {320, 10, 200, 20},
                 .caption = "正在读取日志中的蜘蛛IP.."},
                {.name = "按钮导出列表",
                 .kind = ControlKind::Button,
                 .geometry = {528, 6, 80, 28},
                 .caption = "导出列表",
                 .enabled = false},
                {.name = "按钮导出IIS规则",
                 .kind = ControlKind::Button,
                 .geometry = {612, 6, 100, 28},
                 .caption = "导出IIS规则",
                 .enabled = false},
                {.name = "按钮导出IP列表",
                 .kind = ControlKind::Button,
                 .geometry = {716, 6, 82, 28},
                 .caption = "导出假IP",
                 .enabled = false},
                {.name = "列表框", .kind = ControlKind::ReportList, .geometry = {0, 40, 806, 290}},
                {.name = "标签占比",
                 .kind = ControlKind::Label,
                 .geometry = {8, 334, 400, 20},
                 .caption = "蜘蛛占比（声称的访问 / 验证为真的访问）："},
                {.name = "标签IP段",
                 .kind = ControlKind::Label,
                 .geometry = {412, 334, 284, 20},
                 .caption = "公布的IP段：无"},
                {.name = "按钮更新IP段",
                 .kind = ControlKind::Button,
                 .geometry = {700, 330, 98, 24},
                 .caption = "更新IP段"},
                {.name = "列表框占比",
                 .kind = ControlKind::ReportList,
                 .geometry = {0, 356, 806, 101}},
            },
        .dialogs =
            {
                {.name = "对话框导出",
                 .save = true,
                 .title = "导出列表数据",
                 .filter = "CSV逗号分隔文件(*.csv)|*.csv|文本文件(*.txt)|*.txt|全部文件(*.*)|*.*",
                 .initialFilter = 0,
                 .defaultExtension = "csv"},
                {.name = "对话框IIS规则",
                 .save = true,
                 .title = "导出IIS屏蔽规则",
                 .filter = "IIS配置片段(*.config)|*.config|PowerShell脚本(*.ps1)|*.ps1|"
                           "appcmd批处理(*.cmd)|*.cmd|全部文件(*.*)|*.*",
                 .initialFilter = 0,
                 .defaultExtension = "config"},
                {.name = "对话框IP列表",
                 .save = true,
                 .title = "导出假IP列表",
                 .filter = "文本文件(*.txt)|*.txt|全部文件(*.*)|*.*",
                 .initialFilter = 0,
                 .defaultExtension = "txt"},
            },
    };
    return d;
}

} // namespace logdesk
