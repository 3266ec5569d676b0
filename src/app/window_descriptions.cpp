#include "window_descriptions.h"

#include "app/controls.h"

#include <QApplication>
#include <QChartView>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QWidget>
#include <cstring>

// The images live in a static library, whose resources are registered only
// when asked for.
static void RegisterImages() {
    Q_INIT_RESOURCE(resources);
}

namespace logdesk {

namespace {

using K = ControlKind;
constexpr FontDescription kHei29{"黑体", 29, false};
constexpr FontDescription kHei29Bold{"黑体", 29, true};
constexpr FontDescription kHei19Bold{"黑体", 19, true};
constexpr FontDescription kSong19Bold{"宋体", 19, true};
constexpr FontDescription kSong16Bold{"宋体", 16, true};
constexpr FontDescription kSong16{"宋体", 16, false};
constexpr FontDescription kSong12{"宋体", 12, false};

} // namespace

const WindowDescription& MainWindowDescription() {
    static const WindowDescription d{
        "main",
        "岚溪日志台 v1.1 - 岚溪QQ：88886666 - 分析、统计、导出IIS网站日志的站长必备工具",
        977,
        648,
        true,
        true,
        {
            {"图片框操作",
             K::PictureBox,
             0,
             0,
             64,
             90,
             "",
             true,
             true,
             {},
             true,
             nullptr,
             -1,
             {},
             ":/icons/help.svg"},
            {"超级链接框操作", K::LinkLabel, 0, 63, 63, 24, "操作帮助", true, true, kSong12, true,
             "图片框操作"},
            {"图片框更新",
             K::PictureBox,
             64,
             0,
             64,
             90,
             "",
             true,
             true,
             {},
             true,
             nullptr,
             -1,
             {},
             ":/icons/update.svg"},
            {"超级链接框更新", K::LinkLabel, 1, 63, 63, 24, "查看更新", true, true, kSong12, true,
             "图片框更新"},
            {"图片框QQ",
             K::PictureBox,
             128,
             0,
             64,
             90,
             "",
             true,
             true,
             {},
             true,
             nullptr,
             -1,
             {},
             ":/icons/chat.svg"},
            {"超级链接框QQ", K::LinkLabel, 0, 63, 63, 24, "呼叫岚溪", true, true, kSong12, true,
             "图片框QQ"},
            {"图片框软件",
             K::PictureBox,
             192,
             0,
             64,
             90,
             "",
             true,
             true,
             {},
             true,
             nullptr,
             -1,
             {},
             ":/icons/software.svg"},
            {"超级链接框软件", K::LinkLabel, 0, 63, 63, 24, "更多软件", true, true, kSong12, true,
             "图片框软件"},
            {"图片框官网",
             K::PictureBox,
             256,
             0,
             296,
             90,
             "",
             true,
             true,
             {},
             true,
             nullptr,
             -1,
             {},
             ":/icons/logo.svg"},
            {"标签10", K::Separator, -3, 91, 1000, 2},
            {"按钮选择日志文件", K::Button, 8, 110, 232, 40, "导入日志文件", true, true, kHei29},
            {"按钮导出csv文件", K::Button, 248, 110, 232, 40, "导出 csv 文件", true, false, kHei29},
            {"按钮蜘蛛占比图表化", K::Button, 488, 110, 232, 40, "蜘蛛占比统计", true, false,
             kHei29},
            {"按钮精细化统计分析", K::Button, 728, 110, 232, 40, "更多精细统计", true, false,
             kHei29},
            {"列表框", K::ReportList, 8, 160, 952, 448},
        },
        {
            {"对话框日志", false, "",
             "IIS日志文件(ex*.log)|ex*.log|其他日志文件(*.log)|*.log|全部文件(*.*)|*.*", 0, ""},
        },
    };
    return d;
}

const WindowDescription& ChartWindowDescription() {
    static const WindowDescription d{
        "chart",
        "蜘蛛占比统计",
        862,
        614,
        true,
        true,
        {
            {"按钮统计", K::Button, 8, 8, 224, 32, "点我刷新统计", true, true, kHei19Bold},
            {"组合框图标类型",
             K::DropDown,
             242,
             10,
             172,
             27,
             "",
             true,
             true,
             kSong19Bold,
             false,
             nullptr,
             -1,
             {"显示饼形图", "显示柱状图"}},
            {"按钮复制截图", K::Button, 424, 8, 120, 32, "复制图表", true, true, kHei19Bold},
            {"按钮保存截图", K::Button, 544, 8, 120, 32, "保存图表", true, true, kHei19Bold},
            {"饼形图", K::PieChart, 8, 48, 480, 296, "蜘蛛 访问次数[占比]", true, true,
             kSong19Bold},
            {"柱状图", K::BarChart, 8, 48, 384, 224, "访问 ${v} 次", false, true, kSong19Bold},
        },
        {
            {"通用对话框1", true, "",
             "bmp位图|*.bmp|\r\njpg图像|*.jpg|\r\ngif图片|*.gif|\r\ntiff丰富格式图片|*.tiff|\r\n"
             "png可移植网络图形|*.png",
             4, "png"},
        },
    };
    return d;
}

const WindowDescription& CsvExportWindowDescription() {
    static const WindowDescription d{
        "csvexport",
        "导出 csv 文件",
        479,
        381,
        false,
        false,
        {
            {"标签1", K::Label, 8, 8, 456, 24, "启用/禁止列输出，调整列顺序：", true, true,
             kSong16Bold},
            {"选择列表框", K::CheckList, 8, 40, 248, 296},
            {"按钮全选", K::Button, 280, 40, 184, 32, "全部打勾列", true, true, kSong16},
            {"按钮不选", K::Button, 280, 72, 184, 32, "全部禁勾列", true, true, kSong16},
            {"按钮反选", K::Button, 280, 104, 184, 32, "反向打勾列", true, true, kSong16},
            {"按钮上移", K::Button, 280, 160, 87, 32, "上移列", true, true, kSong16},
            {"按钮下移", K::Button, 377, 160, 87, 32, "下移列", true, true, kSong16},
            {"按钮恢复默认字段设置", K::Button, 280, 216, 184, 32, "恢复默认列设置", true, true,
             kSong16},
            {"按钮导出保存", K::Button, 280, 269, 184, 67, "导出保存", true, true, kHei29Bold},
        },
        {
            {"通用对话框3", true, "导出到csv",
             "csv文件(*.csv)|*.csv|文本文件(*.txt)|*.txt|全部文件(*.*)|*.*", 0, "csv"},
        },
    };
    return d;
}

const WindowDescription& StatsWindowDescription() {
    static const WindowDescription d{
        "stats",
        "精细化统计 - "
        "双击列表可以打开URL、读取子项、查询IP所在地，右击可复制该行；右击栏目头可导出数据",
        822,
        496,
        true,
        true,
        {
            {"选择夹",
             K::TabStrip,
             0,
             0,
             815,
             36,
             "",
             true,
             true,
             kHei19Bold,
             false,
             nullptr,
             -1,
             {"蜘蛛流量", "URL 流量", "IP 流量", "访问状态"},
             nullptr,
             {":/icons/tab-spiders.svg", ":/icons/tab-urls.svg", ":/icons/tab-ips.svg",
              ":/icons/tab-status.svg"}},
            {"标签1", K::Label, 520, 4, 152, 24, "HTTP前缀(双击打开URL用)：", true, true, kSong12,
             false, "选择夹", 1},
            {"编辑框http前缀", K::EditBox, 672, 4, 136, 24, "http://www.baidu.com/", true, true,
             kSong12, false, "选择夹", 1},
            {"图片框1", K::PictureBox, 508, 2, 304, 32, "", true, true, {}, false, "选择夹", 2},
            {"按钮查询选中ip",
             K::Button,
             10,
             0,
             112,
             32,
             "查询选中IP(双击)",
             true,
             true,
             {},
             false,
             "图片框1"},
            {"按钮查询全部ip",
             K::Button,
             122,
             0,
             88,
             32,
             "查询全部IP",
             true,
             true,
             {},
             false,
             "图片框1"},
            {"按钮百度该IP",
             K::Button,
             210,
             0,
             88,
             32,
             "百度该IP",
             true,
             true,
             {},
             false,
             "图片框1"},
            {"标签2", K::Label, 520, 4, 152, 24, "HTTP前缀(双击打开URL用)：", true, true, kSong12,
             false, "选择夹", 3},
            {"编辑框http前缀1", K::EditBox, 672, 4, 136, 24, "http://www.baidu.com/", true, true,
             kSong12, false, "选择夹", 3},
            {"列表框", K::ReportList, 0, 37, 816, 408},
            {"列表框URL",
             K::ListBox,
             624,
             40,
             192,
             400,
             "",
             false,
             true,
             {},
             false,
             nullptr,
             -1,
             {"双击行可查询该状态的URL", "然后单击URL列表浏览器打开", "右击URL列表可导出"}},
            {"选择夹蜘蛛", K::TabStrip, 0, 440, 816, 24, "", false, true, kSong12},
        },
        {
            {"对话框导出", true, "导出列表数据",
             "CSV逗号分隔文件(*.csv)|*.csv|文本文件(*.txt)|*.txt|全部文件(*.*)|*.*", 0, "csv"},
        },
    };
    return d;
}

const DialogDescription* FindDialog(const WindowDescription& description, const char* name) {
    for (const DialogDescription& dialog : description.dialogs) {
        if (std::strcmp(dialog.name, name) == 0) {
            return &dialog;
        }
    }
    return nullptr;
}

std::unique_ptr<FileDialog> MakeFileDialog(const WindowDescription& description, const char* name) {
    auto dialog = std::make_unique<FileDialog>();
    if (const DialogDescription* d = FindDialog(description, name)) {
        dialog->save = d->save;
        dialog->title = QString::fromUtf8(d->title);
        dialog->filter = QString::fromUtf8(d->filter);
        dialog->initialFilter = d->initialFilter;
        dialog->defaultExtension = QString::fromUtf8(d->defaultExtension);
    }
    return dialog;
}

namespace {

QFont FontFor(const FontDescription& font) {
    // Controls without a font of their own take the default GUI font, not
    // their container's (a button on a tab strip is not bold).
    if (font.face == nullptr) {
        QFont f = QApplication::font();
        f.setResolveMask(QFont::AllPropertiesResolved); // stop inheriting from the parent
        return f;
    }
    QFont f = QApplication::font();
    // The Windows faces are rarely installed elsewhere; fall back on a CJK
    // face of the same style.
    const QString face = QString::fromUtf8(font.face);
    if (face == QStringLiteral("黑体")) {
        f.setFamilies({face, QStringLiteral("SimHei"), QStringLiteral("WenQuanYi Micro Hei"),
                       QStringLiteral("Noto Sans CJK SC")});
    } else {
        f.setFamilies({face, QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei"),
                       QStringLiteral("Noto Serif CJK SC")});
    }
    f.setPixelSize(font.pixelHeight);
    f.setBold(font.bold);
    return f;
}

QWidget* CreateControl(const ControlDescription& c, QWidget* parent) {
    const QString caption = QString::fromUtf8(c.caption);
    switch (c.kind) {
    case K::PictureBox: {
        auto* box = new PictureBox(parent);
        if (c.image != nullptr) {
            box->setPixmap(QPixmap(QString::fromUtf8(c.image)));
        }
        return box;
    }
    case K::LinkLabel: {
        auto* link = new LinkLabel(parent);
        link->setCaption(caption);
        return link;
    }
    case K::Label:
        return new Label(caption, parent);
    case K::Separator: {
        auto* line = new Label(parent);
        line->setFrameStyle(QFrame::HLine | QFrame::Sunken);
        return line;
    }
    case K::Button:
        return new Button(caption, parent);
    case K::ReportList:
        return new ReportList(parent);
    case K::DropDown: {
        auto* box = new DropDown(parent);
        for (const char* item : c.items) {
            box->addItem(QString::fromUtf8(item));
        }
        box->setCurrentIndex(0);
        return box;
    }
    case K::ListBox: {
        auto* list = new ListBox(parent);
        for (const char* item : c.items) {
            list->addEntry(QString::fromUtf8(item));
        }
        return list;
    }
    case K::CheckList:
        return new CheckList(parent);
    case K::EditBox:
        return new EditBox(caption, parent);
    case K::TabStrip: {
        auto* tabs = new TabStrip(parent);
        for (std::size_t i = 0; i < c.items.size(); ++i) {
            const int index = tabs->addTab(QString::fromUtf8(c.items[i]));
            if (i < c.itemIcons.size()) {
                tabs->setTabIcon(index, QIcon(QString::fromUtf8(c.itemIcons[i])));
            }
        }
        if (!c.itemIcons.empty()) {
            tabs->setIconSize(QSize(32, 32));
        }
        return tabs;
    }
    case K::PieChart:
    case K::BarChart: {
        auto* view = new QChartView(parent);
        view->setRenderHint(QPainter::Antialiasing);
        view->chart()->setTitle(caption);
        return view;
    }
    }
    return nullptr;
}

} // namespace

void BuildWindow(QWidget* window, const WindowDescription& description) {
    static const bool registered = (RegisterImages(), true);
    (void)registered;
    window->setObjectName(QString::fromUtf8(description.name));
    window->setWindowTitle(QString::fromUtf8(description.title));
    const QSize client(description.outerWidth - kFrameWidth,
                       description.outerHeight - kFrameHeight);
    Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    if (description.maximizeBox) {
        flags |= Qt::WindowMaximizeButtonHint;
    }
    window->setWindowFlags(flags);
    if (description.resizable) {
        window->resize(client);
    } else {
        window->setFixedSize(client);
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window->move(area.center() -
                     QPoint(description.outerWidth / 2, description.outerHeight / 2));
    }

    for (const ControlDescription& c : description.controls) {
        QWidget* parent = window;
        if (c.container != nullptr) {
            parent = window->findChild<QWidget*>(QString::fromUtf8(c.container));
        }
        QWidget* control = CreateControl(c, parent);
        control->setObjectName(QString::fromUtf8(c.name));
        control->setGeometry(c.left, c.top, c.width, c.height);
        control->setFont(FontFor(c.font));
        if (c.handCursor) {
            control->setCursor(Qt::PointingHandCursor);
        }
        control->setEnabled(c.enabled);
        if (auto* tabs = qobject_cast<TabStrip*>(parent); tabs != nullptr && c.page >= 0) {
            tabs->addToPage(c.page, control);
            control->setGeometry(c.left, c.top, c.width, c.height);
        } else {
            control->setVisible(c.visible);
        }
    }
    for (TabStrip* tabs : window->findChildren<TabStrip*>()) {
        tabs->fitTabs();
    }
}

} // namespace logdesk
