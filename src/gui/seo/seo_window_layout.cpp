// The layout of the window 抓取分析: its controls, their places, captions and
// fonts, and its two file dialogs.
#include "core/stats/page_builds.h"
#include "gui/seo/seo_window.h"
#include "gui/stats/stats_list_export.h"
#include "gui/toolkit/window_description.h"

namespace logdesk {
namespace {

// The tabs' captions, the pages' own, in tab order.
std::vector<const char*> TabCaptions() {
    std::vector<const char*> captions;
    for (const StatsPage page : SeoPages()) {
        captions.push_back(StatsPageEntryOf(page).tabCaption.data()); // a literal: NUL-terminated
    }
    return captions;
}

} // namespace

const WindowDescription& SeoWindowDescription() {
    static const WindowDescription d{
        .name = "seo",
        .title = "抓取分析",
        .outerWidth = 822,
        .outerHeight = 496,
        .resizable = true,
        .maximizeBox = true,
        .controls =
            {
                // As wide as the room left of the buttons at its right; the
                // window keeps it so as it is resized.
                {.name = "选择夹",
                 .kind = ControlKind::TabStrip,
                 .geometry = {0, 0, 500, 36},
                 .font = kHei19Bold,
                 .items = TabCaptions()},
                {.name = "按钮选择清单",
                 .kind = ControlKind::Button,
                 .geometry = {390, 3, 104, 30},
                 .caption = "选择URL清单",
                 .container = "选择夹",
                 .page = SeoTabOf(StatsPage::Coverage)},
                {.name = "组合框目录层级",
                 .kind = ControlKind::DropDown,
                 .geometry = {390, 5, 104, 26},
                 .font = kSong12,
                 .container = "选择夹",
                 .page = SeoTabOf(StatsPage::Sections),
                 .items = {"一级目录", "二级目录"}},
                {.name = "进度条统计",
                 .kind = ControlKind::ProgressBar,
                 .geometry = {504, 12, 120, 12},
                 .visible = false},
                {.name = "按钮停止统计",
                 .kind = ControlKind::Button,
                 .geometry = {630, 3, 84, 30},
                 .caption = "重新统计"},
                {.name = "按钮导出列表",
                 .kind = ControlKind::Button,
                 .geometry = {718, 3, 84, 30},
                 .caption = "导出列表",
                 .enabled = false},
                {.name = "标签状态",
                 .kind = ControlKind::Label,
                 .geometry = {6, 36, 794, 22},
                 .font = kSong12},
                {.name = "列表框", .kind = ControlKind::ReportList, .geometry = {0, 58, 806, 375}},
                // Stands where the list is while it shows; the window
                // gives it the list's place.
                {.name = "标签提示",
                 .kind = ControlKind::Label,
                 .geometry = {8, 66, 480, 60},
                 .visible = false,
                 .font = kSong16},
                {.name = "选择夹蜘蛛",
                 .kind = ControlKind::TabStrip,
                 .geometry = {0, 433, 806, 24},
                 .font = kSong12},
            },
        .dialogs =
            {
                kListExportDialog,
                {.name = "对话框URL清单",
                 .save = false,
                 .title = "选择网站的URL清单",
                 .filter = "网站地图和URL清单|*.xml;*.gz;*.txt;*.csv|全部文件(*.*)|*.*",
                 .initialFilter = 0,
                 .multiple = true},
            },
    };
    return d;
}

} // namespace logdesk
