#include "chart_window.h"

#include "chart_picture.h"
#include "core/logimport/imported_log.h"
#include "core/settings/config_file.h"
#include "core/settings/window_settings.h"
#include "core/text/gbk_text.h"
#include "gui/toolkit/file_saving.h"
#include "gui/toolkit/qt_text.h"
#include "gui/toolkit/ui_seam.h"
#include "gui/toolkit/window_description.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QFile>
#include <QGraphicsLayout>
#include <QGraphicsLineItem>
#include <QGraphicsRectItem>
#include <QGraphicsSimpleTextItem>
#include <QHorizontalStackedBarSeries>
#include <QLegend>
#include <QLineSeries>
#include <QPainter>
#include <QPieSeries>
#include <QPieSlice>
#include <QPixmap>
#include <QPointer>
#include <QResizeEvent>
#include <QValueAxis>
#include <cerrno>
#include <cmath>
#include <numbers>

namespace logdesk {

namespace {

const QString& ValuePlaceholder() {
    static const QString text = QStringLiteral("${v}");
    return text;
}

// Outlines every slice and bar, so that the white one stays visible on the
// white background.
QColor OutlineColour() {
    return QColor(96, 96, 96);
}

// A slice narrower than this share gets no label of its own on the pie; the
// legend still lists it.
constexpr double kSmallestLabelledShare = 0.025;

// Black or white, whichever reads better on the colour.
QColor TextColourOn(const QColor& colour) {
    const int luma = (colour.red() * 299 + colour.green() * 587 + colour.blue() * 114) / 1000;
    return luma >= 140 ? QColor(Qt::black) : QColor(Qt::white);
}

QString Share(double value, double sum) {
    const double share = sum > 0 ? value / sum * 100 : 0;
    return QString::number(share, 'f', 2) + QLatin1Char('%');
}

// A round step that divides the value axis into about six intervals.
double TickStep(double range) {
    const double raw = range / 6;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double normalised = raw / magnitude;
    const double factor = normalised < 1.5 ? 1 : normalised < 3 ? 2 : normalised < 7 ? 5 : 10;
    return std::max(1.0, factor * magnitude);
}

// The round step after `step` (1, 2 or 5 times a power of ten): 2, 5 or
// 10 times that power.
double NextTickStep(double step) {
    const double magnitude = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    const double factor = step / magnitude;
    return (factor < 1.5 ? 2 : factor < 3.5 ? 5 : 10) * magnitude;
}

QFont SmallerFont(const QFont& controlFont, int pixels) {
    QFont font = controlFont;
    font.setBold(false);
    font.setPixelSize(pixels);
    return font;
}

// Room between the chart's edge, its texts and its plot area, in pixels.
constexpr int kEdge = 8;
// The texts beside the charts shrink from the largest to the smallest size
// until all crawlers fit.
constexpr int kLargestText = 16;
constexpr int kSmallestText = 9;
// The widest part of the pie chart its legend may take.
constexpr double kLegendShare = 0.35;

int WidestText(const std::vector<QGraphicsSimpleTextItem*>& texts, const QFontMetrics& metrics) {
    int widest = 0;
    for (const QGraphicsSimpleTextItem* text : texts) {
        widest = std::max(widest, metrics.horizontalAdvance(text->text()));
    }
    return widest;
}

template <typename Item> void DeleteAll(std::vector<Item*>& items) {
    for (Item* item : items) {
        delete item;
    }
    items.clear();
}

// The pen of a crawler's line: its colour, or a dashed grey for a colour
// that would vanish on the white background (the unknown traffic's white);
// a lighter grey than 盘古搜's, which is nearly the outline's.
QPen LinePen(const QColor& colour) {
    constexpr int kLightest = 235;
    const bool faint = std::min({colour.red(), colour.green(), colour.blue()}) >= kLightest;
    QPen pen(faint ? QColor(150, 150, 150) : colour, 2);
    if (faint) {
        pen.setStyle(Qt::DashLine);
    }
    return pen;
}

// A check box's picture of the line it draws.
QIcon LineIcon(const QPen& pen) {
    QPixmap picture(16, 16);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    QPen thicker = pen;
    thicker.setWidth(3);
    painter.setPen(thicker);
    painter.drawLine(1, 8, 15, 8);
    return QIcon(picture);
}

// Days with a marker on each point; beyond, the markers would merge.
constexpr std::size_t kMostMarkedDays = 62;
// The length of a legend's line, and the room between the check boxes and
// the lines above them, in pixels.
constexpr int kSwatchLength = 20;
constexpr int kChoiceGap = 4;

// A white chart without the frame Qt draws around it, so that the picture of
// a chart is the chart alone.
void PlainChart(QChart* chart) {
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setBackgroundRoundness(0);
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    chart->legend()->hide();
}

} // namespace

QColor ChartColour(SpiderId id) {
    return QColor(static_cast<QRgb>(Spider(id).rgb));
}

QColor ChartColour(std::string_view displayName) {
    if (const SpiderInfo* spider = FindSpiderByDisplayName(displayName)) {
        return ChartColour(spider->id);
    }
    for (const SpiderInfo& spider : SpiderCatalogue()) {
        if (ContainsIgnoreCase(displayName, spider.shortName)) {
            return ChartColour(spider.id);
        }
    }
    return QColor(Qt::white);
}

ChartWindow::ChartWindow(const ImportedLog& log, ConfigFile& config, QWidget* parent)
    : QWidget(parent), log_(log), config_(config) {
    setAttribute(Qt::WA_DeleteOnClose);
    const BuiltWindow built(this, ChartWindowDescription());
    refreshButton_ = built.control<Button>("按钮统计");
    copyButton_ = built.control<Button>("按钮复制截图");
    kind_ = built.control<DropDown>("组合框图标类型");
    saveDialog_ = built.dialog("通用对话框1");

    // The pie's caption stays its title; the bar chart's caption in its
    // layout is the format of its value labels, not a title.
    pie_ = built.control<QChartView>("饼形图");
    bar_ = built.control<QChartView>("柱状图");
    QChart* pieChart = pie_->chart();
    PlainChart(pieChart);
    pieChart->setTitleFont(pie_->font());
    slices_ = new QPieSeries(pieChart);
    slices_->setPieSize(0.62); // leaves room around the pie for its labels
    pieChart->addSeries(slices_);

    QChart* barChart = bar_->chart();
    PlainChart(barChart);
    valueText_ = barChart->title();
    barChart->setTitle(QString());
    bars_ = new QHorizontalStackedBarSeries(barChart);
    bars_->setBarWidth(0.7);
    barChart->addSeries(bars_);
    names_ = new QBarCategoryAxis(barChart);
    names_->setLabelsVisible(false);
    names_->setGridLineVisible(false);
    barChart->addAxis(names_, Qt::AlignLeft);
    bars_->attachAxis(names_);
    values_ = new QValueAxis(barChart);
    values_->setLabelFormat(QStringLiteral("%.0f"));
    values_->setTickType(QValueAxis::TicksDynamic);
    values_->setTickAnchor(0);
    values_->setLabelsFont(SmallerFont(bar_->font(), 12));
    barChart->addAxis(values_, Qt::AlignBottom);
    bars_->attachAxis(values_);
    setAxisMaximum(axisMaximum_);
    connect(barChart, &QChart::plotAreaChanged, this, &ChartWindow::placeBarTexts);
    pie_->installEventFilter(this);
    bar_->installEventFilter(this);

    // The lines: days along, visits up; like the pie, the caption is the
    // title.
    trendView_ = built.control<QChartView>("趋势图");
    QChart* trendChart = trendView_->chart();
    PlainChart(trendChart);
    trendChart->setTitleFont(trendView_->font());
    days_ = new QCategoryAxis(trendChart);
    days_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    days_->setLabelsFont(SmallerFont(trendView_->font(), 12));
    trendChart->addAxis(days_, Qt::AlignBottom);
    visits_ = new QValueAxis(trendChart);
    visits_->setLabelFormat(QStringLiteral("%.0f"));
    visits_->setTickType(QValueAxis::TicksDynamic);
    visits_->setTickAnchor(0);
    visits_->setLabelsFont(SmallerFont(trendView_->font(), 12));
    trendChart->addAxis(visits_, Qt::AlignLeft);
    connect(trendChart, &QChart::plotAreaChanged, this, &ChartWindow::labelAxes);
    // The markers reach beyond what Qt repaints of a moved line: the view
    // is repainted whole, which a chart of a few lines affords.
    trendView_->setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
    trendView_->installEventFilter(this);
    lineChoice_ = built.control<CheckBoxGroup>("复选框组趋势蜘蛛");
    lineChoiceHeight_ = lineChoice_->height();
    connect(lineChoice_, &CheckBoxGroup::entryToggled, this, [this](int index, bool on) {
        const auto at = static_cast<std::size_t>(index);
        if (at >= trend_.lines.size()) {
            return;
        }
        const QString name = FromGbk(trend_.lines[at].displayName);
        if (on) {
            hiddenLines_.remove(name);
        } else {
            hiddenLines_.insert(name);
        }
        drawTrend();
    });

    refreshCaption_.setSingleShot(true);
    connect(&refreshCaption_, &QTimer::timeout, this,
            [this] { refreshButton_->setCaption(QStringLiteral("点我刷新统计")); });
    copyCaption_.setSingleShot(true);
    connect(&copyCaption_, &QTimer::timeout, this,
            [this] { copyButton_->setCaption(QStringLiteral("复制截图")); });
    connect(kind_, &QComboBox::currentIndexChanged, this, &ChartWindow::showChartKind);
    connect(refreshButton_, &QPushButton::clicked, this, &ChartWindow::refresh);
    connect(copyButton_, &QPushButton::clicked, this, &ChartWindow::copyChart);
    saveButton_ = built.control<Button>("按钮保存截图");
    connect(saveButton_, &QPushButton::clicked, this, &ChartWindow::saveChart);

    // The choice is the import's: the charts show what the last import
    // named, and the next one reads the stored choice.
    todaysCrawlers_ = built.control<CheckBox>("复选框当今蜘蛛");
    todaysCrawlers_->setChecked(ChartSettings::read(config_).todaysCrawlers);
    connect(todaysCrawlers_, &QCheckBox::toggled, this, [this](bool on) {
        if (const Result<void> saved = ChartSettings{on}.write(config_); !saved) {
            Ui().showMessage(this, ErrorText(QStringLiteral("无法保存设置："), saved.error()));
            return;
        }
        // The chart shows what the last import named; say when the choice
        // shows.
        Ui().showMessage(this, on ? QStringLiteral("已选择识别当今蜘蛛：从下次导入日志起，"
                                                   "统计和图表将列出字节跳动、Yandex 等当今蜘蛛。")
                                  : QStringLiteral("已取消识别当今蜘蛛：从下次导入日志起，"
                                                   "当今蜘蛛将计入其他流量。"));
    });
}

bool ChartWindow::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    // The first activation draws the charts; showing counts too, since a
    // desktop that keeps new windows from taking the focus never activates
    // them.
    const bool first = event->type() == QEvent::WindowActivate || event->type() == QEvent::Show;
    if (first && !activated_) {
        activated_ = true;
        // Queued, so that the activation is complete before the second's
        // wait of the refresh begins.
        QMetaObject::invokeMethod(
            this,
            [this] {
                showChartKind();
                refresh();
            },
            Qt::QueuedConnection);
    }
    return handled;
}

bool ChartWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        if (watched == pie_) {
            fitPie();
        } else if (watched == bar_) {
            fitBars();
        } else if (watched == trendView_) {
            fitTrend();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ChartWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutCharts();
}

void ChartWindow::layoutCharts() {
    // The pie keeps its left and top; its left offset becomes the margin on
    // the right and at the bottom, and the bar chart takes the same place.
    const int left = pie_->x();
    const int top = pie_->y();
    pie_->resize(std::max(0, width() - 2 * left), std::max(0, height() - top - left));
    const QRect chart = pie_->geometry();
    bar_->setGeometry(chart);
    // The check boxes take the rows they need below the lines, up to their
    // height in the layout, and scroll beyond; never more than half.
    const int choice = std::min(
        {lineChoice_->contentHeight(chart.width()), lineChoiceHeight_, chart.height() / 2});
    const int gap = choice > 0 ? kChoiceGap : 0;
    trendView_->setGeometry(chart.x(), chart.y(), chart.width(),
                            std::max(0, chart.height() - choice - gap));
    lineChoice_->setGeometry(chart.x(), chart.y() + chart.height() - choice, chart.width(), choice);
}

void ChartWindow::showChartKind() {
    const ChartKind kind = chosenKind();
    bar_->setVisible(kind == ChartKind::Bar);
    pie_->setVisible(kind == ChartKind::Pie);
    trendView_->setVisible(kind == ChartKind::Trend);
    lineChoice_->setVisible(kind == ChartKind::Trend);
    // The day table is built when the lines are first shown after a
    // refresh, not before: the other charts need only the tally.
    if (kind == ChartKind::Trend && activated_ && trendStale_ && !trendBuild_.running()) {
        buildTrend();
    }
}

ChartWindow::ChartKind ChartWindow::chosenKind() const {
    switch (kind_->currentEntry()) {
    case static_cast<int>(ChartKind::Pie):
        return ChartKind::Pie;
    case static_cast<int>(ChartKind::Trend):
        return ChartKind::Trend;
    default:
        return ChartKind::Bar;
    }
}

QChartView* ChartWindow::chosenChart() const {
    switch (chosenKind()) {
    case ChartKind::Pie:
        return pie_;
    case ChartKind::Trend:
        return trendView_;
    case ChartKind::Bar:
        break;
    }
    return bar_;
}

void ChartWindow::refresh() {
    const std::vector<SpiderTally::Entry>& entries = log_.tally.entries();
    setItemCount(static_cast<int>(entries.size()));
    double largest = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const SpiderTally::Entry& entry = entries[i];
        const SpiderInfo* spider = FindSpiderByDisplayName(entry.name);
        const ChartItem item{FromGbk(entry.name), ChartColour(entry.name),
                             static_cast<double>(entry.count),
                             FromGbk(spider ? spider->shortName : entry.name)};
        setItem(static_cast<int>(i), item);
        largest = std::max(largest, item.value);
    }
    setAxisMaximum(largest + 300);
    // The caption says it is done for a second, then offers the next
    // refresh; a timer, so that nothing waits on the GUI thread.
    refreshButton_->setCaption(QStringLiteral("统计完成"));
    refreshCaption_.start(kCaptionMs);
    trendStale_ = true;
    if (chosenKind() == ChartKind::Trend) {
        buildTrend();
    }
}

void ChartWindow::showTally() {
    if (activated_) {
        refresh();
    }
}

void ChartWindow::setItemCount(int count) {
    const auto size = static_cast<std::size_t>(std::max(0, count));
    if (size == items_.size()) {
        return;
    }
    items_.assign(size, ChartItem{QString(), QColor(Qt::white), 0, QString()});
    slices_->clear();
    bars_->clear();
    DeleteAll(legendBoxes_);
    DeleteAll(legendTexts_);
    DeleteAll(barNames_);
    DeleteAll(barValues_);
    for (std::size_t i = 0; i < size; ++i) {
        auto* slice = new QPieSlice(QString(), 0);
        slice->setBorderColor(OutlineColour());
        slice->setBorderWidth(1);
        slice->setLabelArmLengthFactor(0.12);
        slices_->append(slice);
        // Each crawler is a set of its own, non-zero only in its own
        // category, so that every bar can have its own colour. Categories
        // run bottom-up: the tally's first crawler is the last category.
        auto* set = new QBarSet(QString());
        for (std::size_t j = 0; j < size; ++j) {
            set->append(0);
        }
        set->setBorderColor(OutlineColour());
        bars_->append(set);

        auto* box = new QGraphicsRectItem(pie_->chart());
        box->setPen(QPen(OutlineColour()));
        legendBoxes_.push_back(box);
        legendTexts_.push_back(new QGraphicsSimpleTextItem(pie_->chart()));
        barNames_.push_back(new QGraphicsSimpleTextItem(bar_->chart()));
        barValues_.push_back(new QGraphicsSimpleTextItem(bar_->chart()));
    }
    relabel();
}

void ChartWindow::setItem(int index, const ChartItem& item) {
    if (index < 0 || static_cast<std::size_t>(index) >= items_.size()) {
        return;
    }
    const auto at = static_cast<std::size_t>(index);
    items_[at] = item;
    QPieSlice* slice = slices_->slices().at(index);
    slice->setValue(item.value);
    slice->setColor(item.colour);
    legendBoxes_[at]->setBrush(item.colour);
    QBarSet* set = bars_->barSets().at(index);
    set->setLabel(item.name);
    set->setColor(item.colour);
    set->replace(static_cast<int>(items_.size() - 1 - at), item.value);
    relabel();
}

void ChartWindow::setAxisMaximum(double maximum) {
    axisMaximum_ = maximum;
    values_->setRange(0, maximum);
    values_->setTickInterval(TickStep(maximum));
    fitBars();
}

void ChartWindow::relabel() {
    // The legend lists every crawler as "name visits[share]", the form the
    // pie's caption announces; wide slices also carry short name and share.
    const double sum = slices_->sum();
    const QList<QPieSlice*> slices = slices_->slices();
    QStringList categories;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const ChartItem& item = items_[i];
        const QString visits = QString::number(item.value, 'f', 0);
        QPieSlice* slice = slices[static_cast<qsizetype>(i)];
        slice->setLabel(item.shortName + QLatin1Char(' ') + Share(item.value, sum));
        slice->setLabelVisible(sum > 0 && item.value / sum >= kSmallestLabelledShare);
        legendTexts_[i]->setText(item.name + QLatin1Char(' ') + visits + QLatin1Char('[') +
                                 Share(item.value, sum) + QLatin1Char(']'));
        barNames_[i]->setText(item.name);
        barValues_[i]->setText(QString(valueText_).replace(ValuePlaceholder(), visits));
        // Category names must be distinct; one not yet filled in stands as
        // its position.
        const bool usable = !item.name.isEmpty() && !categories.contains(item.name);
        categories << (usable ? item.name : QString::number(i + 1));
    }
    std::reverse(categories.begin(), categories.end());
    names_->setCategories(categories);
    fitPie();
    fitBars();
}

void ChartWindow::fitPie() {
    const QSize size = pie_->size();
    const int rows = static_cast<int>(legendTexts_.size());
    QFont font;
    int pitch = 0;
    int widest = 0;
    for (int pixels = kLargestText; pixels >= kSmallestText; --pixels) {
        font = SmallerFont(pie_->font(), pixels);
        const QFontMetrics metrics(font);
        pitch = metrics.height() + 4;
        widest = WidestText(legendTexts_, metrics);
        if (rows * pitch <= size.height() - 2 * kEdge &&
            pitch + widest <= size.width() * kLegendShare) {
            break;
        }
    }
    const int box = pitch - 8;
    const int legendWidth = box + 6 + widest;
    const int left = size.width() - kEdge - legendWidth;
    const int top = std::max(kEdge, (size.height() - rows * pitch) / 2);
    for (int i = 0; i < rows; ++i) {
        const auto at = static_cast<std::size_t>(i);
        legendBoxes_[at]->setRect(left, top + i * pitch + (pitch - box) / 2, box, box);
        legendTexts_[at]->setFont(font);
        legendTexts_[at]->setPos(left + box + 6,
                                 top + i * pitch + (pitch - QFontMetrics(font).height()) / 2);
    }
    // A label goes inside its slice where the slice is wide enough at half
    // the radius, where Qt centres inside labels; outside otherwise, which
    // keeps the room beside the pie for the narrower slices.
    const QFontMetrics metrics(font);
    const int titleHeight = QFontMetrics(pie_->chart()->titleFont()).height() + 2 * kEdge;
    const double radius = slices_->pieSize() / 2 *
                          std::min(left - 2 * kEdge, size.height() - titleHeight - 2 * kEdge);
    for (QPieSlice* slice : slices_->slices()) {
        slice->setLabelFont(font);
        const double angle = slice->percentage() * 2 * std::numbers::pi;
        const double chord = angle >= std::numbers::pi ? radius : radius * std::sin(angle / 2);
        const bool inside = chord >= metrics.horizontalAdvance(slice->label()) + 2 * kEdge;
        slice->setLabelPosition(inside ? QPieSlice::LabelInsideHorizontal
                                       : QPieSlice::LabelOutside);
        slice->setLabelColor(inside ? TextColourOn(slice->color()) : QColor(Qt::black));
    }
    // Title and pie share what the legend leaves.
    pie_->chart()->setMargins(QMargins(kEdge, kEdge, legendWidth + 2 * kEdge, kEdge));
}

void ChartWindow::fitBars() {
    const QSize size = bar_->size();
    const int rows = static_cast<int>(barNames_.size());
    const int axisHeight = QFontMetrics(values_->labelsFont()).height() + 3 * kEdge;
    const double band =
        static_cast<double>(size.height() - 2 * kEdge - axisHeight) / std::max(1, rows);
    QFont font;
    int nameWidth = 0;
    for (int pixels = kLargestText; pixels >= kSmallestText; --pixels) {
        font = SmallerFont(bar_->font(), pixels);
        const QFontMetrics metrics(font);
        nameWidth = WidestText(barNames_, metrics);
        const int valueWidth = WidestText(barValues_, metrics);
        if (metrics.height() + 2 <= band && nameWidth + valueWidth <= size.width() / 2) {
            break;
        }
    }
    for (std::size_t i = 0; i < barNames_.size(); ++i) {
        barNames_[i]->setFont(font);
        barValues_[i]->setFont(font);
    }
    // Names go left of the plot area, values right of each bar's end. The
    // right margin is what the value of the longest bar needs beyond the axis
    // end; a bar ends at its share of the axis maximum of the plot's width.
    const QFontMetrics metrics(font);
    const double span = std::max(1, size.width() - nameWidth - 2 * kEdge);
    double right = kEdge;
    for (std::size_t i = 0; i < barValues_.size(); ++i) {
        const double reach = axisMaximum_ > 0 ? items_[i].value / axisMaximum_ : 0;
        const double needed = metrics.horizontalAdvance(barValues_[i]->text()) + 1.5 * kEdge;
        if (reach > 0) {
            right = std::max(right, (needed - span * (1 - reach)) / reach);
        }
    }
    right = std::min(right, size.width() / 2.0);
    bar_->chart()->setMargins(
        QMargins(nameWidth + kEdge, kEdge, static_cast<int>(std::ceil(right)), kEdge));
    placeBarTexts();
}

void ChartWindow::placeBarTexts() {
    QChart* chart = bar_->chart();
    const QRectF plot = chart->plotArea();
    for (std::size_t i = 0; i < barNames_.size(); ++i) {
        const auto category = static_cast<qreal>(barNames_.size() - 1 - i);
        const QPointF end = chart->mapToPosition(QPointF(items_[i].value, category), bars_);
        const qreal half = barNames_[i]->boundingRect().height() / 2;
        barNames_[i]->setPos(plot.left() - kEdge / 2 - barNames_[i]->boundingRect().width(),
                             end.y() - half);
        barValues_[i]->setPos(end.x() + kEdge / 2, end.y() - half);
    }
}

void ChartWindow::buildTrend() {
    // A snapshot: an import finishing meanwhile changes nothing the worker
    // reads. A later build supersedes one still running.
    const RecordTable table = log_.table;
    const FieldMap fields = log_.header.fieldMap;
    const SpiderTally tally = log_.tally;
    trendStale_ = false;
    refreshCaption_.stop();
    refreshButton_->setCaption(QStringLiteral("统计中.."));
    const bool started = trendBuild_.start(
        [table, fields, tally](const TaskControl& control) {
            return BuildCrawlerDaySeries(table, fields, tally, control.cancelToken());
        },
        [this](CrawlerDaySeries trend) {
            showTrend(std::move(trend));
            refreshButton_->setCaption(QStringLiteral("统计完成"));
            refreshCaption_.start(kCaptionMs);
            emit trendShown();
        },
        BackgroundTask::Overlap::Supersede);
    if (!started) {
        trendStale_ = true;
        refreshButton_->setCaption(QStringLiteral("点我刷新统计"));
    }
}

void ChartWindow::showTrend(CrawlerDaySeries trend) {
    trend_ = std::move(trend);
    QStringList captions;
    std::vector<bool> checked;
    QList<QIcon> icons;
    for (const CrawlerDaySeries::Line& line : trend_.lines) {
        const SpiderInfo* spider = FindSpiderByDisplayName(line.displayName);
        captions << FromGbk(spider != nullptr ? spider->shortName : line.displayName);
        checked.push_back(!hiddenLines_.contains(FromGbk(line.displayName)));
        icons << LineIcon(LinePen(ChartColour(line.displayName)));
    }
    lineChoice_->setEntries(captions, checked, icons);
    for (int i = 0; i < lineChoice_->entryCount(); ++i) {
        lineChoice_->entry(i)->setToolTip(
            FromGbk(trend_.lines[static_cast<std::size_t>(i)].displayName));
    }
    layoutCharts();
    drawTrend();
}

void ChartWindow::drawTrend() {
    QChart* chart = trendView_->chart();
    chart->removeAllSeries();
    DeleteAll(lineSwatches_);
    DeleteAll(lineNames_);
    const std::size_t days = trend_.days.size();
    std::int64_t largest = 0;
    for (const CrawlerDaySeries::Line& line : trend_.lines) {
        const QString name = FromGbk(line.displayName);
        if (hiddenLines_.contains(name)) {
            continue;
        }
        const QPen pen = LinePen(ChartColour(line.displayName));
        auto* series = new QLineSeries(chart);
        series->setName(name);
        series->setPen(pen);
        series->setPointsVisible(days <= kMostMarkedDays);
        series->setMarkerSize(4); // the radius, in pixels
        QList<QPointF> points;
        for (std::size_t d = 0; d < days && d < line.visits.size(); ++d) {
            points << QPointF(static_cast<qreal>(d), static_cast<qreal>(line.visits[d]));
            largest = std::max(largest, line.visits[d]);
        }
        series->replace(points);
        chart->addSeries(series);
        series->attachAxis(days_);
        series->attachAxis(visits_);

        auto* swatch = new QGraphicsLineItem(chart);
        swatch->setPen(pen);
        lineSwatches_.push_back(swatch);
        auto* text = new QGraphicsSimpleTextItem(name, chart);
        lineNames_.push_back(text);
    }
    mostVisits_ = static_cast<double>(largest);
    dayLabelStep_ = 0;
    fitTrend();
    labelAxes();
}

void ChartWindow::fitTrend() {
    // The legend of the lines drawn, to the right as the pie's: the largest
    // text that fits one column, else as many columns of the smallest as
    // the height needs.
    const QSize size = trendView_->size();
    const int rows = static_cast<int>(lineNames_.size());
    const int height = std::max(1, size.height() - 2 * kEdge);
    QFont font;
    int pitch = 0;
    int widest = 0;
    int perColumn = 1;
    for (int pixels = kLargestText; pixels >= kSmallestText; --pixels) {
        font = SmallerFont(trendView_->font(), pixels);
        const QFontMetrics metrics(font);
        pitch = metrics.height() + 4;
        widest = WidestText(lineNames_, metrics);
        perColumn = std::max(1, height / pitch);
        if (rows <= perColumn && kSwatchLength + 6 + widest <= size.width() * kLegendShare) {
            break;
        }
    }
    const int columns = std::max(1, (rows + perColumn - 1) / perColumn);
    const int shownRows = std::min(rows, perColumn);
    const int columnWidth = kSwatchLength + 6 + widest;
    const int legendWidth = rows > 0 ? columns * columnWidth + (columns - 1) * kEdge : 0;
    const int left = size.width() - kEdge - legendWidth;
    const int top = std::max(kEdge, (size.height() - shownRows * pitch) / 2);
    const int textHeight = QFontMetrics(font).height();
    for (int i = 0; i < rows; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const int x = left + (i / perColumn) * (columnWidth + kEdge);
        const int y = top + (i % perColumn) * pitch;
        lineSwatches_[at]->setLine(x, y + pitch / 2.0, x + kSwatchLength, y + pitch / 2.0);
        lineNames_[at]->setFont(font);
        lineNames_[at]->setPos(x + kSwatchLength + 6, y + (pitch - textHeight) / 2);
    }
    trendView_->chart()->setMargins(
        QMargins(kEdge, kEdge, legendWidth + (rows > 0 ? 2 * kEdge : kEdge), kEdge));
}

void ChartWindow::labelAxes() {
    labelDays();
    // The visits up to a round step above the most, in as many steps as
    // the plot's height holds figures: Qt elides a figure taller than the
    // axis over one more than the number of steps.
    const double top = std::max(1.0, mostVisits_ * 1.1);
    const double plotHeight = trendView_->chart()->plotArea().height();
    const double room = QFontMetrics(visits_->labelsFont()).height() + 2 * kEdge;
    const int steps = std::max(1, static_cast<int>(plotHeight / room) - 1);
    double step = TickStep(top);
    while (std::ceil(top / step) > steps) {
        step = NextTickStep(step);
    }
    const double maximum = std::ceil(top / step) * step;
    if (visits_->max() != maximum || visits_->tickInterval() != step) {
        visits_->setRange(0, maximum);
        visits_->setTickInterval(step);
    }
}

void ChartWindow::labelDays() {
    const std::size_t days = trend_.days.size();
    const double plotWidth = trendView_->chart()->plotArea().width();
    const QFontMetrics metrics(days_->labelsFont());
    int widest = 0;
    for (const std::string& day : trend_.days) {
        widest = std::max(widest, metrics.horizontalAdvance(FromGbk(day)));
    }
    // A label every `step` days, and the axis half a step longer than the
    // days at either end, so that the first and the last label stay inside
    // it. `step` days then take step / (days - 1 + step) of the plot, which
    // must hold a label and a gap; and Qt elides a label wider than the
    // axis over one more than the number of labels, less its padding of 4
    // pixels either side (and a pixel of its text's margin). Every day
    // until the plot has its width.
    const double apart = widest + kEdge;
    const double within = widest + 2 * 4 + 2;
    int step = 1;
    if (plotWidth > 0) {
        const auto span = static_cast<double>(std::max<std::size_t>(days, 1) - 1);
        for (; step < static_cast<int>(days); ++step) {
            const double labels = std::floor(span / step) + 1;
            if (plotWidth / (labels + 1) >= within && step * plotWidth / (span + step) >= apart) {
                break;
            }
        }
    }
    if (step == dayLabelStep_) {
        return;
    }
    dayLabelStep_ = step;
    const double margin = step / 2.0;
    for (const QString& label : days_->categoriesLabels()) {
        days_->remove(label);
    }
    days_->setStartValue(-margin);
    for (std::size_t d = 0; d < days; d += static_cast<std::size_t>(step)) {
        days_->append(FromGbk(trend_.days[d]), static_cast<qreal>(d));
    }
    days_->setRange(-margin, std::max(0.0, static_cast<double>(days) - 1) + margin);
}

void ChartWindow::copyChart() {
    ChartPicture::putOnClipboard(ChartPicture::capture(chosenChart()));
    copyButton_->setCaption(QStringLiteral("已复制！"));
    copyCaption_.start(kCaptionMs);
}

void ChartWindow::saveChart() {
    if (!saveDialog_->show(this)) {
        return;
    }
    const QString path = saveDialog_->fileName;
    if (RefuseImportedLog(this, SavedFile::ChartPicture, path, log_)) {
        return;
    }
    // Drawing the chart needs this thread; encoding and writing the file
    // (a GIF's colour reduction takes a while on a large window) do not.
    const QByteArray picture = ChartPicture::capture(chosenChart());
    if (picture.isEmpty()) {
        TellSaveOutcome(this, SavedFile::ChartPicture, path, false,
                        QStringLiteral("图表无法绘制成图片"));
        return;
    }
    saveButton_->setEnabled(false);
    const bool started = save_.start(
        [picture, path](const TaskControl&) { return SavePicture(picture, path); },
        [this, path](const Result<void>& saved) {
            saveButton_->setEnabled(true);
            TellSaveOutcome(this, SavedFile::ChartPicture, path, saved);
            emit pictureSaved();
        });
    if (!started) {
        saveButton_->setEnabled(true);
        TellSaveOutcome(this, SavedFile::ChartPicture, path,
                        Result<void>(SystemError(EAGAIN, "cannot start",
                                                 QFile::encodeName(path).toStdString())));
        emit pictureSaved();
    }
}

} // namespace logdesk
