// The crawler share chart window's layout: its controls, their places, captions and fonts, and
// its file dialogs.
#include "gui/charts/chart_window.h"
#include "gui/toolkit/window_description.h"

namespace logdesk {

const WindowDescription& ChartWindowDescription() {
    static const WindowDescription d{
        .name = "chart",
        .title = "蜘蛛占比统计",
        .outerWidth = 862,
        .outerHeight = 614,
        .resizable = true,
        .maximizeBox = true,
        .controls =
            {
                {.name = "按钮统计",
                 .kind = ControlKind::Button,
                 .geometry = {8, 8, 224, 32},
                 .caption = "点我刷新统计",
                 .font = kHei19Bold},
                {.name = "组合框图标类型",
                 .kind = ControlKind::DropDown,
                 .geometry = {242, 10, 172, 27},
                 .font = kSong19Bold,
                 .items = {"显示饼形图", "显示柱状图", "显示趋势图"}},
                {.name = "按钮复制截图",
                 .kind = ControlKind::Button,
                 .geometry = {424, 8, 120, 32},
                 .caption = "复制图表",
                 .font = kHei19Bold},
                {.name = "按钮保存截图",
                 .kind = ControlKind::Button,
                 .geometry = {544, 8, 120, 32},
                 .caption = "保存图表",
                 .font = kHei19Bold},
                {.name = "复选框当今蜘蛛",
                 .kind = ControlKind::CheckBox,
                 .geometry = {676, 10, 164, 27},
                 .caption = "识别当今蜘蛛",
                 .font = kSong16Bold},
                {.name = "饼形图",
                 .kind = ControlKind::PieChart,
                 .geometry = {8, 48, 480, 296},
                 .caption = "蜘蛛 访问次数[占比]",
                 .font = kSong19Bold},
                {.name = "柱状图",
                 .kind = ControlKind::BarChart,
                 .geometry = {8, 48, 384, 224},
                 .caption = "访问 ${v} 次",
                 .visible = false,
                 .font = kSong19Bold},
                // The window puts the lines where the other charts are and
                // the crawlers' check boxes below them, in as many rows as
                // they need up to this height.
                {.name = "趋势图",
                 .kind = ControlKind::LineChart,
                 .geometry = {8, 48, 480, 224},
                 .caption = "蜘蛛每日访问次数",
                 .visible = false,
                 .font = kSong19Bold},
                {.name = "复选框组趋势蜘蛛",
                 .kind = ControlKind::CheckBoxGroup,
                 .geometry = {8, 276, 480, 124},
                 .visible = false,
                 .font = kSong16},
            },
        .dialogs =
            {
                {.name = "通用对话框1",
                 .save = true,
                 .title = "",
                 .filter = "bmp位图|*.bmp|\r\njpg图像|*.jpg|\r\ngif图片|*.gif|\r\ntiff丰富格式图片|"
                           "*.tiff|\r\n"
                           "png可移植网络图形|*.png",
                 .initialFilter = 4,
                 .defaultExtension = "png"},
            },
    };
    return d;
}

} // namespace logdesk
