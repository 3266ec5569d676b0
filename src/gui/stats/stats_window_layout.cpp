// The detailed statistics window's layout: its controls, their places, captions and fonts, and
// its file dialogs.
#include "core/settings/settings_keys.h"
#include "core/stats/page_builds.h"
#include "gui/stats/stats_list_export.h"
#include "gui/stats/stats_window.h"
#include "gui/toolkit/window_description.h"

namespace logdesk {
namespace {

// The page tabs' captions or icons, from the pages' entries, in tab order.
std::vector<const char*> PageTabTexts(std::string_view StatsPageEntry::*text) {
    std::vector<const char*> texts;
    for (const StatsPageEntry* entry : StatsPageTabs()) {
        texts.push_back((entry->*text).data()); // literals: NUL-terminated
    }
    return texts;
}

} // namespace

const WindowDescription& StatsWindowDescription() {
    static const WindowDescription d{
        .name = "stats",
        .title =
            "精细化统计 - "
            "双击列表可以打开URL、读取子项、查询IP所在地，右击可复制该行；右击栏目头可导出数据",
        .outerWidth = 822,
        .outerHeight = 496,
        .resizable = true,
        .maximizeBox = true,
        .controls =
            {
                {.name = "选择夹",
                 .kind = ControlKind::TabStrip,
                 .geometry = {0, 0, 815, 36},
                 .font = kHei19Bold,
                 .items = PageTabTexts(&StatsPageEntry::tabCaption),
                 .itemIcons = PageTabTexts(&StatsPageEntry::tabIcon)},
                {.name = "组合框时间单位",
                 .kind = ControlKind::DropDown,
                 .geometry = {688, 5, 120, 26},
                 .font = kSong12,
                 .container = "选择夹",
                 .page = 0,
                 .items = {"按小时", "按日期"}},
                {.name = "标签1",
                 .kind = ControlKind::Label,
                 .geometry = {520, 4, 152, 24},
                 .caption = "HTTP前缀(双击打开URL用)：",
                 .font = kSong12,
                 .container = "选择夹",
                 .page = 1},
                {.name = "编辑框http前缀",
                 .kind = ControlKind::EditBox,
                 .geometry = {672, 4, 136, 24},
                 .caption = settings::kUrlPrefix.defaultText.data(),
                 .font = kSong12,
                 .container = "选择夹",
                 .page = 1},
                // Opens the window 抓取分析 over the log, from the page of
                // the URLs it tells more of.
                {.name = "按钮抓取分析",
                 .kind = ControlKind::Button,
                 .geometry = {436, 2, 70, 32},
                 .caption = "抓取分析",
                 .container = "选择夹",
                 .page = StatsPageEntryOf(StatsPage::Url).tab},
                {.name = "按钮验证蜘蛛",
                 .kind = ControlKind::Button,
                 .geometry = {436, 2, 70, 32},
                 .caption = "验证蜘蛛",
                 .container = "选择夹",
                 .page = 2},
                {.name = "图片框1",
                 .kind = ControlKind::PictureBox,
                 .geometry = {508, 2, 304, 32},
                 .container = "选择夹",
                 .page = 2},
                {.name = "按钮查询选中ip",
                 .kind = ControlKind::Button,
                 .geometry = {10, 0, 112, 32},
                 .caption = "查询选中IP(双击)",
                 .container = "图片框1"},
                {.name = "按钮查询全部ip",
                 .kind = ControlKind::Button,
                 .geometry = {122, 0, 88, 32},
                 .caption = "查询全部IP",
                 .container = "图片框1"},
                {.name = "按钮百度该IP",
                 .kind = ControlKind::Button,
                 .geometry = {210, 0, 88, 32},
                 .caption = "百度该IP",
                 .container = "图片框1"},
                {.name = "标签2",
                 .kind = ControlKind::Label,
                 .geometry = {520, 4, 152, 24},
                 .caption = "HTTP前缀(双击打开URL用)：",
                 .font = kSong12,
                 .container = "选择夹",
                 .page = 3},
                {.name = "编辑框http前缀1",
                 .kind = ControlKind::EditBox,
                 .geometry = {672, 4, 136, 24},
                 .caption = settings::kStatusUrlPrefix.defaultText.data(),
                 .font = kSong12,
                 .container = "选择夹",
                 .page = 3},
                {.name = "列表框", .kind = ControlKind::ReportList, .geometry = {0, 37, 816, 408}},
                {.name = "列表框URL",
                 .kind = ControlKind::ListBox,
                 .geometry = {624, 40, 192, 400},
                 .visible = false,
                 .items = {"双击行可查询该状态的URL", "然后单击URL列表浏览器打开",
                           "右击URL列表可导出"}},
                {.name = "选择夹蜘蛛",
                 .kind = ControlKind::TabStrip,
                 .geometry = {0, 440, 816, 24},
                 .visible = false,
                 .font = kSong12},
            },
        .dialogs = {kListExportDialog},
    };
    return d;
}

} // namespace logdesk
