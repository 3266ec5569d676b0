#include "gui/charts/chart_picture.h"
#include "gui/charts/chart_window.h"
#include "core/logimport/imported_log.h"
#include "core/settings/config_file.h"
#include "core/settings/settings_keys.h"
#include "core/stats/page_builds.h"
#include "support/fake_ui_seam.h"
#include "support/import_test_support.h"
#include "gui/toolkit/qt_text.h"
#include "gui/toolkit/window_description.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChartView>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsTextItem>
#include <QHorizontalStackedBarSeries>
#include <QImageReader>
#include <QLineSeries>
#include <QPieSeries>
#include <QPieSlice>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QValueAxis>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

using testing::FakeUiSeam;
using testing::TempFile;

// Colours as the table gives them, COLORREF 0x00BBGGRR.
QColor FromColorref(unsigned colorref) {
    return QColor(static_cast<int>(colorref & 0xff), static_cast<int>((colorref >> 8) & 0xff),
                  static_cast<int>((colorref >> 16) & 0xff));
}

template <typename T> T* Find(QWidget& window, const char* name) {
    T* control = window.findChild<T*>(QString::fromUtf8(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
}

TEST(ChartColourTest, EveryCrawlerHasItsTableColour) {
    const std::pair<SpiderId, unsigned> expected[] = {
        {SpiderId::Google, 0x2509B9},     {SpiderId::Baidu, 0xE13229},
        {SpiderId::Qihoo360, 0x0DA83B},   {SpiderId::Sogou, 0x7D0156},
        {SpiderId::Soso, 0x34C8F5},       {SpiderId::Yodao, 0x3D2DF4},
        {SpiderId::Yahoo, 0x99007B},      {SpiderId::Bing, 0x3463E9},
        {SpiderId::Alexa, 0x000000},      {SpiderId::Easou, 0xA04C00},
        {SpiderId::Yisou, 0x5EAF26},      {SpiderId::Jike, 0x522420},
        {SpiderId::Panguso, 0x565659},    {SpiderId::Altavista, 0x008080},
        {SpiderId::Lycos, 0x800080},      {SpiderId::Alltheweb, 0xFFA8FF},
        {SpiderId::Gigablast, 0xFF8080},  {SpiderId::Webalta, 0xFFFF00},
        {SpiderId::Majestic12, 0xC080FF}, {SpiderId::Ahrefs, 0x00D8D8},
        {SpiderId::Unknown, 0xFFFFFF},
    };
    for (const auto& [id, colorref] : expected) {
        EXPECT_EQ(ChartColour(SpiderDisplayName(id)), FromColorref(colorref))
            << GbkToUtf8(SpiderDisplayName(id));
    }
    // Found anywhere in the name, ASCII case ignored; the earlier row wins.
    EXPECT_EQ(ChartColour("x MAJESTIC12 y"), FromColorref(0xC080FF));
    EXPECT_EQ(ChartColour(Gbk("百度谷歌")), FromColorref(0x2509B9));
}

// Today's crawlers each get a colour of their own, far enough from every
// other crawler's (and from the white of the unknown traffic) to tell the
// slices apart; their names are still found anywhere, ignoring ASCII case.
TEST(ChartColourTest, TodaysCrawlersStandApart) {
    std::vector<std::pair<std::string, QColor>> colours;
    for (const SpiderInfo& spider : SpiderCatalogue()) {
        colours.emplace_back(GbkToUtf8(spider.displayName), ChartColour(spider.displayName));
    }
    for (const SpiderInfo& spider : SpiderCatalogue()) {
        if (spider.classic) {
            continue;
        }
        const QColor own = ChartColour(spider.displayName);
        for (const auto& [name, other] : colours) {
            if (name == GbkToUtf8(spider.displayName)) {
                continue;
            }
            const double distance = std::hypot(own.red() - other.red(), own.green() - other.green(),
                                               own.blue() - other.blue());
            EXPECT_GE(distance, 50) << GbkToUtf8(spider.displayName) << " / " << name;
        }
        EXPECT_EQ(ChartColour(spider.shortName), own);
    }
    EXPECT_EQ(ChartColour("x SEMRUSH y"), ChartColour(SpiderDisplayName(SpiderId::Semrush)));
}

class ChartWindowTest : public ::testing::Test {
protected:
    TempFile dir_{""};
    ConfigFile config_{(dir_.dir() / "logdesk.ini").string()};
    FakeUiSeam ui_;
    ImportedLog log_;

    void count(const char* name, int visits) { log_.tally.count(Gbk(name), visits); }
    // Opens the window as the main window does and waits for the refresh
    // that its first activation starts to finish.
    void open(ChartWindow& window) {
        Button* button = Find<Button>(window, "按钮统计");
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return button->caption() == QStringLiteral("统计完成"); }, 5000));
    }
    static QChartView* pie(ChartWindow& w) { return Find<QChartView>(w, "饼形图"); }
    static QChartView* bar(ChartWindow& w) { return Find<QChartView>(w, "柱状图"); }
    static QPieSeries* slices(ChartWindow& w) {
        return qobject_cast<QPieSeries*>(pie(w)->chart()->series().value(0));
    }
    static QHorizontalStackedBarSeries* bars(ChartWindow& w) {
        return qobject_cast<QHorizontalStackedBarSeries*>(bar(w)->chart()->series().value(0));
    }
    // The texts drawn over a chart, each with its place in the chart.
    static std::vector<std::pair<QString, QRectF>> PlacedTexts(QChartView* view) {
        std::vector<std::pair<QString, QRectF>> texts;
        for (QGraphicsItem* item : view->chart()->childItems()) {
            if (auto* text = dynamic_cast<QGraphicsSimpleTextItem*>(item)) {
                texts.emplace_back(text->text(), text->mapRectToParent(text->boundingRect()));
            }
        }
        return texts;
    }
    static QStringList Texts(QChartView* view) {
        QStringList texts;
        for (const auto& placed : PlacedTexts(view)) {
            texts << placed.first;
        }
        return texts;
    }
    // A pixel well inside the pie when one slice fills it.
    // Clicks 保存截图 and waits until the user has been told how it ended:
    // the picture is written on a worker.
    void save(ChartWindow& w) {
        QTest::mouseClick(Find<Button>(w, "按钮保存截图"), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !ui_.messages.isEmpty(); }, 10000));
    }
    static QPoint pieCentre(ChartWindow& w) {
        QChart* chart = pie(w)->chart();
        return pie(w)->mapFromScene(chart->mapToScene(chart->plotArea().center()));
    }
};

TEST_F(ChartWindowTest, FirstActivationDrawsTheTallyInBothCharts) {
    count("其他流量(unknown)", 7);
    count("Alexa(ia_archiver)", 40);
    count("百度(Baiduspider)", 1000);
    log_.tally.finish();
    ChartWindow window(log_, config_, nullptr);
    EXPECT_TRUE(window.items().empty()); // nothing before the first activation
    open(window);

    const std::vector<ChartItem> expected = {
        {QStringLiteral("百度(Baiduspider)"), FromColorref(0xE13229), 1000, QStringLiteral("百度")},
        {QStringLiteral("Alexa(ia_archiver)"), FromColorref(0x000000), 40, QStringLiteral("Alexa")},
        {QStringLiteral("其他流量(unknown)"), FromColorref(0xFFFFFF), 7, QStringLiteral("其他流量")},
    };
    EXPECT_EQ(window.items(), expected);
    EXPECT_EQ(window.axisMaximum(), 1300);

    QPieSeries* pieSeries = slices(window);
    ASSERT_EQ(pieSeries->count(), 3);
    const QStringList legend = Texts(pie(window));
    EXPECT_TRUE(legend.contains(QStringLiteral("百度(Baiduspider) 1000[95.51%]")));
    EXPECT_TRUE(legend.contains(QStringLiteral("其他流量(unknown) 7[0.67%]")));
    EXPECT_EQ(pieSeries->slices()[1]->color(), QColor(Qt::black));
    EXPECT_EQ(pieSeries->slices()[2]->value(), 7);
    // Slices are labelled with the short name and the share.
    EXPECT_EQ(pieSeries->slices()[0]->label(), QStringLiteral("百度 95.51%"));
    // The white slice keeps an outline that shows on the white background.
    EXPECT_NE(pieSeries->slices()[2]->borderColor(), QColor(Qt::white));

    QHorizontalStackedBarSeries* barSeries = bars(window);
    ASSERT_EQ(barSeries->count(), 3);
    const QStringList barTexts = Texts(bar(window));
    for (const char* text : {"访问 1000 次", "访问 40 次", "访问 7 次", "Alexa(ia_archiver)"}) {
        EXPECT_TRUE(barTexts.contains(QString::fromUtf8(text))) << text;
    }
    // One bar per crawler: its set is non-zero only in the crawler's own
    // category, and the bars run down in tally order.
    auto* names = qobject_cast<QBarCategoryAxis*>(bar(window)->chart()->axes(Qt::Vertical)[0]);
    std::vector<qreal> tops;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        QBarSet* set = barSeries->barSets()[static_cast<qsizetype>(i)];
        EXPECT_EQ(set->color(), expected[i].colour);
        const qsizetype own = names->categories().indexOf(expected[i].name);
        ASSERT_GE(own, 0);
        for (int j = 0; j < set->count(); ++j) {
            EXPECT_EQ(set->at(j), j == own ? expected[i].value : 0);
        }
        for (const auto& [text, place] : PlacedTexts(bar(window))) {
            if (text == expected[i].name) {
                tops.push_back(place.top());
            }
        }
    }
    EXPECT_TRUE(std::is_sorted(tops.begin(), tops.end()));
    EXPECT_EQ(tops.size(), 3u);
    auto* values = qobject_cast<QValueAxis*>(bar(window)->chart()->axes(Qt::Horizontal)[0]);
    EXPECT_EQ(values->max(), 1300);
}

TEST_F(ChartWindowTest, RefreshCyclesItsCaptionAndRereadsTheTally) {
    count("百度(Baiduspider)", 5);
    ChartWindow window(log_, config_, nullptr);
    open(window);
    ASSERT_EQ(window.items().size(), 1u);
    EXPECT_EQ(window.axisMaximum(), 305);

    log_.tally.count(Gbk("谷歌(Googlebot)"), 2);
    Button* button = Find<Button>(window, "按钮统计");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return button->caption() == QStringLiteral("点我刷新统计"); }, 5000));
    // The click draws at once and returns; the caption says so for a second.
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_EQ(button->caption(), QStringLiteral("统计完成"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return button->caption() == QStringLiteral("点我刷新统计"); }, 5000));
    EXPECT_GE(clock.elapsed(), 900);
    ASSERT_EQ(window.items().size(), 2u);
    EXPECT_EQ(window.items()[1].name, QStringLiteral("谷歌(Googlebot)"));

    // An import without crawlers: no items, the bare axis, no message.
    log_.tally.clear();
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(window.items().empty());
    EXPECT_EQ(slices(window)->count(), 0);
    EXPECT_EQ(window.axisMaximum(), 300);
    EXPECT_TRUE(ui_.messages.isEmpty());
}

TEST_F(ChartWindowTest, DropDownChoosesTheChartWithoutRecomputing) {
    count("百度(Baiduspider)", 5);
    ChartWindow window(log_, config_, nullptr);
    open(window);
    EXPECT_TRUE(pie(window)->isVisible());
    EXPECT_FALSE(bar(window)->isVisible());

    log_.tally.count(Gbk("谷歌(Googlebot)"), 2); // not shown until a refresh
    DropDown* kind = Find<DropDown>(window, "组合框图标类型");
    kind->setCurrentIndex(1);
    EXPECT_FALSE(pie(window)->isVisible());
    EXPECT_TRUE(bar(window)->isVisible());
    EXPECT_EQ(window.items().size(), 1u);
    kind->setCurrentIndex(0);
    EXPECT_TRUE(pie(window)->isVisible());
    EXPECT_FALSE(bar(window)->isVisible());
}

TEST_F(ChartWindowTest, ChartsFillTheWindowWithEqualMargins) {
    ChartWindow window(log_, config_, nullptr);
    open(window);
    for (const QSize wanted : {QSize(1000, 700), QSize(200, 100)}) {
        window.resize(wanted);
        const QSize size = window.size(); // never less than its buttons need
        const QRect expected(8, 48, size.width() - 16, size.height() - 48 - 8);
        EXPECT_EQ(pie(window)->geometry(), expected);
        EXPECT_EQ(bar(window)->geometry(), expected);
    }
}

TEST_F(ChartWindowTest, ValueOfABarNearTheAxisEndStaysInside) {
    count("百度(Baiduspider)", 2000000);
    count("谷歌(Googlebot)", 5);
    ChartWindow window(log_, config_, nullptr);
    open(window);
    Find<DropDown>(window, "组合框图标类型")->setCurrentIndex(1);
    QCoreApplication::processEvents();
    const QRectF inside(QPointF(0, 0), bar(window)->size());
    for (const auto& [text, place] : PlacedTexts(bar(window))) {
        EXPECT_TRUE(inside.contains(place)) << text.toStdString();
    }
    EXPECT_TRUE(Texts(bar(window)).contains(QStringLiteral("访问 2000000 次")));
}

TEST_F(ChartWindowTest, CopyPutsTheChosenChartOnTheClipboard) {
    count("百度(Baiduspider)", 5);
    ChartWindow window(log_, config_, nullptr);
    open(window);
    Find<DropDown>(window, "组合框图标类型")->setCurrentIndex(1);
    Button* copy = Find<Button>(window, "按钮复制截图");
    EXPECT_EQ(copy->caption(), QStringLiteral("复制图表"));
    QTest::mouseClick(copy, Qt::LeftButton);
    EXPECT_EQ(copy->caption(), QStringLiteral("已复制！"));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return copy->caption() == QStringLiteral("复制截图"); }, 5000));
    ASSERT_FALSE(ui_.clipboardImage.isNull());
    EXPECT_EQ(ui_.clipboardImage.size(), bar(window)->size());
    EXPECT_EQ(ui_.clipboardImage.convertToFormat(QImage::Format_RGB32),
              bar(window)->grab().toImage().convertToFormat(QImage::Format_RGB32));
}

TEST_F(ChartWindowTest, SaveWritesTheFormatTheExtensionNames) {
    count("百度(Baiduspider)", 5);
    ChartWindow window(log_, config_, nullptr);
    open(window);
    const QSize size = pie(window)->size();
    const QPoint centre = pieCentre(window);
    struct Case {
        const char* name;
        QByteArray magic;
        bool lossless;
    };
    const Case cases[] = {
        {"a.png", "\x89PNG", true}, {"b.PNG", "\x89PNG", true},       {"c.tiff", "II*", true},
        {"d.gif", "GIF89a", true},  {"e.jpg", "\xff\xd8\xff", false}, {"f.bmp", "BM", true},
        {"g.jpeg", "BM", true},     {"h", "\x89PNG", true},
    };
    for (const Case& c : cases) {
        const QString path = QString::fromStdString((dir_.dir() / c.name).string());
        ui_.answers.push_back(path);
        ui_.messages.clear();
        save(window);
        EXPECT_EQ(ui_.messages, QStringList({QStringLiteral("已保存图表为图片！")})) << c.name;
        // A name typed without extension gets the dialog's default one.
        QFile file(QString(c.name) == QLatin1String("h") ? path + QStringLiteral(".png") : path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << c.name;
        const QByteArray bytes = file.readAll();
        EXPECT_TRUE(bytes.startsWith(c.magic)) << c.name;
        const QImage decoded = QImage::fromData(bytes);
        ASSERT_FALSE(decoded.isNull()) << c.name;
        EXPECT_EQ(decoded.size(), size) << c.name;
        if (c.lossless) {
            EXPECT_EQ(decoded.pixelColor(centre), FromColorref(0xE13229)) << c.name;
        }
    }
    EXPECT_EQ(ui_.dialogs.back().initialFilter, 4);

    // A file that cannot be written: its path and the reason, no success.
    const QString blocked = QString::fromStdString((dir_.dir() / "missing" / "x.png").string());
    ui_.answers.push_back(blocked);
    ui_.messages.clear();
    save(window);
    ASSERT_EQ(ui_.messages.size(), 1);
    EXPECT_TRUE(ui_.messages[0].contains(blocked));
    EXPECT_FALSE(ui_.messages[0].contains(QStringLiteral("已保存图表为图片！")));
    // Not over the imported log, named as it was imported or otherwise.
    const std::string logPath = (dir_.dir() / "ex130501.png").string();
    QFile(QString::fromStdString(logPath)).open(QIODevice::WriteOnly);
    log_.path = logPath;
    for (const QString& path : {QString::fromStdString(logPath),
                                QString::fromStdString((dir_.dir() / "." / "ex130501").string())}) {
        ui_.answers.push_back(path);
        ui_.messages.clear();
        save(window);
        ASSERT_EQ(ui_.messages.size(), 1);
        EXPECT_TRUE(ui_.messages[0].startsWith(QStringLiteral("无法保存图表图片：") + path));
        EXPECT_TRUE(ui_.messages[0].contains(QStringLiteral("已导入的日志文件")));
        EXPECT_EQ(QFileInfo(QString::fromStdString(logPath)).size(), 0);
    }
    // A cancelled dialog does nothing.
    ui_.messages.clear();
    QTest::mouseClick(Find<Button>(window, "按钮保存截图"), Qt::LeftButton);
    QTest::qWait(50);
    EXPECT_TRUE(ui_.messages.isEmpty());
    EXPECT_TRUE(Find<Button>(window, "按钮保存截图")->isEnabled());
}

TEST_F(ChartWindowTest, TheTodaysCrawlersBoxKeepsItsChoice) {
    {
        ChartWindow window(log_, config_, nullptr);
        auto* box = Find<CheckBox>(window, "复选框当今蜘蛛");
        EXPECT_FALSE(box->isChecked());
        EXPECT_EQ(box->text(), QStringLiteral("识别当今蜘蛛"));
        box->click();
        EXPECT_TRUE(config_.readFlag(settings::kTodaysCrawlers, false));
    }
    ChartWindow again(log_, config_, nullptr);
    EXPECT_TRUE(Find<CheckBox>(again, "复选框当今蜘蛛")->isChecked());
    Find<CheckBox>(again, "复选框当今蜘蛛")->click();
    EXPECT_FALSE(config_.readFlag(settings::kTodaysCrawlers, true));
    // Each choice says that it shows from the next import on.
    ASSERT_EQ(ui_.messages.size(), 2);
    EXPECT_TRUE(ui_.messages[0].contains(QStringLiteral("从下次导入日志起")));
    EXPECT_TRUE(ui_.messages[1].startsWith(QStringLiteral("已取消识别当今蜘蛛")));
    ui_.messages.clear();

    // A choice that cannot be stored says so.
    const std::string path = (dir_.dir() / "none" / "logdesk.ini").string();
    ConfigFile unwritable(path);
    ChartWindow window(log_, unwritable, nullptr);
    Find<CheckBox>(window, "复选框当今蜘蛛")->click();
    ASSERT_EQ(ui_.messages.size(), 1);
    EXPECT_TRUE(ui_.messages[0].startsWith(QStringLiteral("无法保存设置：") +
                                           QString::fromStdString(path)));
}

// With the classic catalogue the sample's chart is the one it always was:
// the crawlers, counts and order of its spiders page before today's crawlers
// were added.
TEST_F(ChartWindowTest, SampleChartUnchangedWithTheClassicCatalogue) {
    LogImport result = testing::Imported(ImportLogFile(LOGDESK_SAMPLES_DIR "/ex130501.log"));
    log_.tally = result.tally;
    ChartWindow window(log_, config_, nullptr);
    open(window);
    QString drawn = QStringLiteral("\"蜘蛛\",\"访问次数\"\r\n");
    for (const ChartItem& item : window.items()) {
        drawn += QLatin1Char('"') + item.name + QStringLiteral("\",\"") +
                 QString::number(item.value, 'f', 0) + QStringLiteral("\"\r\n");
        EXPECT_EQ(item.colour, ChartColour(ToGbk(item.name)));
    }
    EXPECT_EQ(drawn.toStdString(),
              GbkToUtf8(testing::ReadFile(LOGDESK_TEST_DATA "/golden/ex130501.spiders.csv")));
}

// Every crawler of both catalogues at once: 30 rows must still read in the
// window's first size and in a larger one. (A window much lower than the
// first one has no room for 30 rows of the smallest text.)
TEST_F(ChartWindowTest, EveryCrawlerOfBothCataloguesFits) {
    for (const SpiderInfo& spider : SpiderCatalogue()) {
        log_.tally.count(spider.displayName, 10 + static_cast<int>(spider.id) * 7);
    }
    log_.tally.finish();
    ChartWindow window(log_, config_, nullptr);
    open(window);
    ASSERT_EQ(window.items().size(), static_cast<std::size_t>(kSpiderCount));
    for (const QSize size : {window.size(), QSize(1200, 800)}) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        window.resize(size);
        for (QChartView* view : {pie(window), bar(window)}) {
            view->show();
            QCoreApplication::processEvents();
            const auto texts = PlacedTexts(view);
            const QRectF inside(QPointF(0, 0), view->size());
            for (std::size_t i = 0; i < texts.size(); ++i) {
                EXPECT_TRUE(inside.contains(texts[i].second)) << texts[i].first.toStdString();
                for (std::size_t j = i + 1; j < texts.size(); ++j) {
                    EXPECT_FALSE(texts[i].second.intersects(texts[j].second))
                        << texts[i].first.toStdString() << " / " << texts[j].first.toStdString();
                }
            }
        }
    }
    if (const QByteArray dir = qgetenv("LOGDESK_SCREENSHOT_DIR"); !dir.isEmpty()) {
        window.resize(ChartWindowDescription().outerWidth - kFrameWidth,
                      ChartWindowDescription().outerHeight - kFrameHeight);
        pie(window)->show();
        QCoreApplication::processEvents();
        window.grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/chart_all.png"));
    }
}

// The bundled sample has every crawler; its charts must show all 21 of them
// readably.
TEST_F(ChartWindowTest, SampleLogShowsEveryCrawler) {
    LogImport result = testing::Imported(ImportLogFile(LOGDESK_SAMPLES_DIR "/ex130501.log"));
    ASSERT_FALSE(result.rejected);
    log_.tally = result.tally;
    ChartWindow window(log_, config_, nullptr);
    open(window);
    ASSERT_EQ(window.items().size(), 21u);
    // Every crawler's texts lie inside the chart and apart from each other,
    // in the window's first size and in a small one.
    for (const QSize size : {window.size(), QSize(600, 360)}) {
        window.resize(size);
        for (QChartView* view : {pie(window), bar(window)}) {
            view->show();
            QCoreApplication::processEvents();
            const auto texts = PlacedTexts(view);
            EXPECT_EQ(texts.size(), view == bar(window) ? 42u : 21u);
            const QRectF inside(QPointF(0, 0), view->size());
            for (std::size_t i = 0; i < texts.size(); ++i) {
                EXPECT_TRUE(inside.contains(texts[i].second)) << texts[i].first.toStdString();
                for (std::size_t j = i + 1; j < texts.size(); ++j) {
                    EXPECT_FALSE(texts[i].second.intersects(texts[j].second))
                        << texts[i].first.toStdString() << " / " << texts[j].first.toStdString();
                }
            }
        }
    }
}

// Visits per day by construction: 百度 {3, 1, 2}, 谷歌 {2, 0, 4} (none on
// the second day), a browser {1, 1, 1}, over three days whose records are
// interleaved.
class TrendTest : public ChartWindowTest {
protected:
    static constexpr const char* kDays[] = {"2013-05-01", "2013-05-02", "2013-05-03"};
    const std::vector<std::pair<std::string, std::vector<int>>> visitors_ = {
        {"Mozilla/5.0+(compatible;+Baiduspider/2.0)", {3, 1, 2}},
        {"Mozilla/5.0+(compatible;+Googlebot/2.1)", {2, 0, 4}},
        {"Mozilla/5.0+(Windows+NT+6.1)", {1, 1, 1}},
    };

    void SetUp() override {
        std::string text = "#Fields: date time cs-uri-stem cs(User-Agent)\r\n";
        for (int round = 0; round < 4; ++round) {
            for (std::size_t d = 0; d < 3; ++d) {
                for (const auto& [agent, visits] : visitors_) {
                    if (round < visits[d]) {
                        text += std::string(kDays[d]) + " 10:00:00 /a " + agent + "\r\n";
                    }
                }
            }
        }
        LogImport result = testing::Imported(ImportLogBytes(text));
        log_.table = result.table;
        log_.header = result.header;
        log_.tally = result.tally;
    }

    static QChartView* trend(ChartWindow& w) { return Find<QChartView>(w, "趋势图"); }
    static CheckBoxGroup* choice(ChartWindow& w) {
        return Find<CheckBoxGroup>(w, "复选框组趋势蜘蛛");
    }
    static std::vector<QLineSeries*> Lines(ChartWindow& w) {
        std::vector<QLineSeries*> lines;
        for (QAbstractSeries* series : trend(w)->chart()->series()) {
            lines.push_back(qobject_cast<QLineSeries*>(series));
        }
        return lines;
    }
    static QStringList Names(ChartWindow& w) {
        QStringList names;
        for (QLineSeries* line : Lines(w)) {
            names << line->name();
        }
        return names;
    }
    // Chooses 趋势, which builds the day table on a worker, and waits for
    // its lines.
    static void ChooseTrend(ChartWindow& w) {
        QSignalSpy shown(&w, &ChartWindow::trendShown);
        Find<DropDown>(w, "组合框图标类型")->setCurrentIndex(2);
        ASSERT_TRUE(shown.wait(10000));
        Settle();
    }
    // Qt lays a chart out once the events of its change are handled, as
    // they are before a user could click.
    static void Settle() {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
    }
    // At any size, a label every few days, the first day's among them, and
    // the visits' figures, each drawn whole: Qt hides or elides those it has
    // no room for.
    static void ExpectAxisLabelsWhole(ChartWindow& w, int dayCount,
                                      std::initializer_list<int> heights) {
        std::vector<QSize> sizes;
        for (int width = w.minimumWidth(); width <= 1400; width += 60) {
            for (const int height : heights) {
                sizes.emplace_back(width, height);
            }
        }
        for (const QSize wanted : sizes) {
            SCOPED_TRACE(std::to_string(wanted.width()) + "x" + std::to_string(wanted.height()));
            w.resize(wanted);
            Settle();
            auto* days = qobject_cast<QCategoryAxis*>(trend(w)->chart()->axes(Qt::Horizontal)[0]);
            const QStringList labels = days->categoriesLabels();
            ASSERT_GE(labels.size(), 2);
            EXPECT_LE(labels.size(), dayCount);
            EXPECT_EQ(labels[0], FromGbk(w.trend().days.at(0)));
            QStringList drawn;
            for (QGraphicsItem* item : trend(w)->scene()->items()) {
                if (auto* text = dynamic_cast<QGraphicsTextItem*>(item);
                    text && text->isVisible()) {
                    drawn << text->toPlainText();
                }
            }
            for (const QString& label : labels) {
                EXPECT_TRUE(drawn.contains(label)) << label.toStdString();
            }
            // Nor is a figure of the visits axis cut short.
            for (const QString& text : drawn) {
                EXPECT_FALSE(text.endsWith(QStringLiteral("..."))) << text.toStdString();
            }
        }
    }
    static QImage Picture(const QString& path) {
        return QImage(path).convertToFormat(QImage::Format_RGB32);
    }
};

TEST_F(TrendTest, LinesAreTheByDatePageOfEachCrawler) {
    ChartWindow window(log_, config_, nullptr);
    open(window);
    DropDown* kind = Find<DropDown>(window, "组合框图标类型");
    EXPECT_EQ(kind->itemText(2), QStringLiteral("显示趋势图"));
    EXPECT_FALSE(trend(window)->isVisible());

    // The table is built on a worker: nothing is drawn before the event
    // loop takes its result, and the refresh button says it is counting.
    QSignalSpy shown(&window, &ChartWindow::trendShown);
    kind->setCurrentIndex(2);
    EXPECT_TRUE(window.trend().lines.empty());
    EXPECT_EQ(Find<Button>(window, "按钮统计")->caption(), QStringLiteral("统计中.."));
    ASSERT_TRUE(shown.wait(10000));
    EXPECT_EQ(Find<Button>(window, "按钮统计")->caption(), QStringLiteral("统计完成"));
    EXPECT_TRUE(trend(window)->isVisible());
    EXPECT_TRUE(choice(window)->isVisible());
    EXPECT_FALSE(pie(window)->isVisible());
    EXPECT_FALSE(bar(window)->isVisible());

    // One line per crawler in tally order, a point per day, 0 on a day
    // without visits; the very figures of the by-date page.
    EXPECT_EQ(Names(window),
              QStringList({QStringLiteral("百度(Baiduspider)"), QStringLiteral("谷歌(Googlebot)"),
                           QStringLiteral("其他流量(unknown)")}));
    const StatsTable page = BuildSpiderDaysPage(log_.table, log_.header.fieldMap, log_.tally);
    ASSERT_EQ(page.rows.size(), 4u);
    const std::vector<QLineSeries*> lines = Lines(window);
    for (std::size_t c = 0; c < lines.size(); ++c) {
        SCOPED_TRACE(lines[c]->name().toStdString());
        const QList<QPointF> points = lines[c]->points();
        ASSERT_EQ(points.size(), 3);
        for (std::size_t d = 0; d < 3; ++d) {
            EXPECT_EQ(points[static_cast<qsizetype>(d)],
                      QPointF(static_cast<qreal>(d), visitors_[c].second[d]));
            EXPECT_EQ(points[static_cast<qsizetype>(d)].y(), std::stod(page.rows[d + 1][c + 1]));
        }
    }
    // Each in its crawler's colour, but the white of the unknown traffic,
    // which would vanish on the white chart.
    EXPECT_EQ(lines[0]->pen().color(), FromColorref(0xE13229));
    EXPECT_EQ(lines[1]->pen().color(), FromColorref(0x2509B9));
    EXPECT_NE(lines[2]->pen().color(), QColor(Qt::white));
    // The days label the axis, in order; the visits axis holds every point.
    auto* days = qobject_cast<QCategoryAxis*>(trend(window)->chart()->axes(Qt::Horizontal)[0]);
    EXPECT_EQ(days->categoriesLabels(),
              QStringList({QStringLiteral("2013-05-01"), QStringLiteral("2013-05-02"),
                           QStringLiteral("2013-05-03")}));
    auto* visits = qobject_cast<QValueAxis*>(trend(window)->chart()->axes(Qt::Vertical)[0]);
    EXPECT_EQ(visits->min(), 0);
    EXPECT_GE(visits->max(), 4);
    // A legend entry per line, and a checked box per crawler.
    const QStringList legend = Texts(trend(window));
    EXPECT_EQ(legend, Names(window));
    ASSERT_EQ(choice(window)->entryCount(), 3);
    EXPECT_EQ(choice(window)->entry(0)->text(), QStringLiteral("百度"));
    EXPECT_EQ(choice(window)->entry(2)->text(), QStringLiteral("其他流量"));
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(choice(window)->entry(i)->isChecked());
    }
}

TEST_F(TrendTest, UncheckingACrawlerRemovesItsLineAndLegend) {
    ChartWindow window(log_, config_, nullptr);
    open(window);
    ChooseTrend(window);
    ASSERT_EQ(Lines(window).size(), 3u);
    auto* visits = qobject_cast<QValueAxis*>(trend(window)->chart()->axes(Qt::Vertical)[0]);
    const qreal withGoogle = visits->max();

    choice(window)->entry(1)->click();
    EXPECT_EQ(Names(window), QStringList({QStringLiteral("百度(Baiduspider)"),
                                          QStringLiteral("其他流量(unknown)")}));
    EXPECT_FALSE(Texts(trend(window)).contains(QStringLiteral("谷歌(Googlebot)")));
    EXPECT_EQ(Texts(trend(window)).size(), 2);
    // The axis follows the lines drawn: 谷歌's 4 was the most.
    EXPECT_LT(visits->max(), withGoogle);
    EXPECT_GE(visits->max(), 3);
    choice(window)->entry(0)->click();
    choice(window)->entry(2)->click();
    EXPECT_TRUE(Lines(window).empty());
    EXPECT_TRUE(Texts(trend(window)).isEmpty());

    // Checked again, the line is back in its place; a refresh keeps what is
    // unchecked.
    choice(window)->entry(0)->click();
    choice(window)->entry(1)->click();
    EXPECT_EQ(Names(window), QStringList({QStringLiteral("百度(Baiduspider)"),
                                          QStringLiteral("谷歌(Googlebot)")}));
    QSignalSpy shown(&window, &ChartWindow::trendShown);
    QTest::mouseClick(Find<Button>(window, "按钮统计"), Qt::LeftButton);
    ASSERT_TRUE(shown.wait(10000));
    EXPECT_EQ(Names(window), QStringList({QStringLiteral("百度(Baiduspider)"),
                                          QStringLiteral("谷歌(Googlebot)")}));
    EXPECT_FALSE(choice(window)->entry(2)->isChecked());
}

TEST_F(TrendTest, CopyAndSavePictureTheLinesAndThePieComesBack) {
    ChartWindow window(log_, config_, nullptr);
    open(window);
    const QString piePath = QString::fromStdString((dir_.dir() / "pie.png").string());
    ui_.answers.push_back(piePath);
    Settle();
    save(window);
    const QImage pieBefore = Picture(piePath);
    ASSERT_FALSE(pieBefore.isNull());

    ChooseTrend(window);
    const QString trendPath = QString::fromStdString((dir_.dir() / "trend.png").string());
    ui_.answers.push_back(trendPath);
    ui_.messages.clear();
    save(window);
    EXPECT_EQ(ui_.messages, QStringList({QStringLiteral("已保存图表为图片！")}));
    const QImage lines = Picture(trendPath);
    ASSERT_FALSE(lines.isNull());
    EXPECT_NE(lines, pieBefore);
    // What is shown, the lines without the check boxes below them.
    const QImage shown = trend(window)->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(lines, shown);
    EXPECT_LT(lines.height(), pie(window)->height());
    QTest::mouseClick(Find<Button>(window, "按钮复制截图"), Qt::LeftButton);
    EXPECT_EQ(ui_.clipboardImage.convertToFormat(QImage::Format_RGB32), shown);
    // An unchecked crawler is left out of the picture too.
    choice(window)->entry(0)->click();
    Settle();
    EXPECT_NE(trend(window)->grab().toImage().convertToFormat(QImage::Format_RGB32), shown);

    // Back to the pie: the chart it showed before, nothing of the lines.
    Find<DropDown>(window, "组合框图标类型")->setCurrentIndex(0);
    EXPECT_TRUE(pie(window)->isVisible());
    EXPECT_FALSE(trend(window)->isVisible());
    EXPECT_FALSE(choice(window)->isVisible());
    const QString againPath = QString::fromStdString((dir_.dir() / "again.png").string());
    ui_.answers.push_back(againPath);
    ui_.messages.clear();
    Settle();
    save(window);
    EXPECT_EQ(Picture(againPath), pieBefore);
}

// Every crawler of both catalogues on each of 40 days: the boxes keep their
// captions whole and apart, scroll where their rows need more room, and the
// legend and the day labels stay inside the chart and apart.
TEST_F(TrendTest, EveryCrawlerAndManyDaysFit) {
    std::string text = "#Fields: date time cs(User-Agent)\r\n";
    for (int day = 1; day <= 40; ++day) {
        char date[16];
        std::snprintf(date, sizeof date, "2013-%02d-%02d", 5 + (day - 1) / 31, (day - 1) % 31 + 1);
        for (const SpiderInfo& spider : SpiderCatalogue()) {
            const std::string agent = spider.tokens.empty() ? "-" : std::string(spider.tokens[0]);
            text += std::string(date) + " 10:00:00 x+" + agent + "\r\n";
        }
    }
    ImportOptions options;
    options.crawlers = Crawlers::All;
    LogImport result = testing::Imported(ImportLogBytes(text, {}, options));
    log_.table = result.table;
    log_.header = result.header;
    log_.tally = result.tally;
    ASSERT_EQ(log_.tally.length(), kSpiderCount);
    ChartWindow window(log_, config_, nullptr);
    open(window);
    ChooseTrend(window);
    ASSERT_EQ(window.trend().days.size(), 40u);
    for (const QSize size : {window.size(), QSize(1200, 800), QSize(600, 420)}) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        window.resize(size);
        QCoreApplication::processEvents();
        CheckBoxGroup* group = choice(window);
        ASSERT_EQ(group->entryCount(), kSpiderCount);
        EXPECT_GT(group->height(), 0);
        EXPECT_LE(group->geometry().bottom(), window.height() - 1);
        EXPECT_LE(trend(window)->geometry().bottom(), group->geometry().top());
        for (int i = 0; i < group->entryCount(); ++i) {
            CheckBox* box = group->entry(i);
            EXPECT_GE(box->width(), box->sizeHint().width()) << box->text().toStdString();
            EXPECT_LE(box->geometry().right(), group->viewport()->width() - 1);
            for (int j = i + 1; j < group->entryCount(); ++j) {
                EXPECT_FALSE(box->geometry().intersects(group->entry(j)->geometry()));
            }
        }
        // The rows the group cannot show scroll into view.
        const QScrollBar* scroll = group->verticalScrollBar();
        EXPECT_EQ(scroll->maximum() > 0, group->contentHeight(group->width()) > group->height());
        const auto texts = PlacedTexts(trend(window));
        EXPECT_EQ(texts.size(), static_cast<std::size_t>(kSpiderCount));
        const QRectF inside(QPointF(0, 0), trend(window)->size());
        for (std::size_t i = 0; i < texts.size(); ++i) {
            EXPECT_TRUE(inside.contains(texts[i].second)) << texts[i].first.toStdString();
            for (std::size_t j = i + 1; j < texts.size(); ++j) {
                EXPECT_FALSE(texts[i].second.intersects(texts[j].second))
                    << texts[i].first.toStdString() << " / " << texts[j].first.toStdString();
            }
        }
    }
    // (Lower, thirty names need more columns than the legend has room for.)
    ExpectAxisLabelsWhole(window, 40, {420, 560});
    if (const QByteArray dir = qgetenv("LOGDESK_SCREENSHOT_DIR"); !dir.isEmpty()) {
        window.resize(ChartWindowDescription().outerWidth - kFrameWidth,
                      ChartWindowDescription().outerHeight - kFrameHeight);
        QCoreApplication::processEvents();
        window.grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/chart_trend_all.png"));
    }
}

// The sample's seven days and its visits, at any size of the window.
TEST_F(TrendTest, SampleAxesLabelledWholeAtAnySize) {
    LogImport result = testing::Imported(ImportLogFile(LOGDESK_SAMPLES_DIR "/ex130501.log"));
    log_.table = result.table;
    log_.header = result.header;
    log_.tally = result.tally;
    ChartWindow window(log_, config_, nullptr);
    open(window);
    ChooseTrend(window);
    ASSERT_EQ(window.trend().days.size(), 7u);
    ExpectAxisLabelsWhole(window, 7, {300, 420, 560});
}

} // namespace
} // namespace logdesk
