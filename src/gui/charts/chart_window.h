// The spider share chart window: the crawler tally of the last import as a
// pie chart or a bar chart, or each crawler's visits per day as lines, which
// the user can copy or save as a picture.
#pragma once

#include "core/logimport/crawler_registry.h"
#include "core/stats/crawler_day_series.h"
#include "gui/toolkit/background_task.h"
#include "gui/toolkit/controls.h"

#include <QColor>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string_view>
#include <vector>

class QChartView;
class QPieSeries;
class QHorizontalStackedBarSeries;
class QBarCategoryAxis;
class QValueAxis;
class QCategoryAxis;
class QGraphicsLineItem;
class QGraphicsRectItem;
class QGraphicsSimpleTextItem;

namespace logdesk {

struct WindowDescription;

struct ImportedLog;
class ConfigFile;

// The colour a crawler is drawn in, its registry entry's.
QColor ChartColour(SpiderId id);
// The colour of the catalogue crawler of a GBK display name; for a name
// outside the catalogue, that of the first crawler in test order whose short
// name it holds (ASCII case ignored), and white when it holds none.
QColor ChartColour(std::string_view displayName);

// What both charts hold per slice or bar.
struct ChartItem {
    QString name; // the crawler's full display name
    QColor colour;
    double value = 0; // visits
    // What the pie's labels call it: the catalogue's short name, or the
    // whole name for one outside the catalogue.
    QString shortName;
    bool operator==(const ChartItem&) const = default;
};

class ChartWindow : public QWidget {
    Q_OBJECT
public:
    // `log` and `config` must outlive the window; it deletes itself on close.
    // The charts stay empty until the window is first activated. The window
    // also holds the choice of the crawlers later imports name, which it
    // keeps in `config`.
    ChartWindow(const ImportedLog& log, ConfigFile& config, QWidget* parent);

    // The data both charts show, in tally order, and the end of the bar
    // chart's value axis.
    const std::vector<ChartItem>& items() const { return items_; }
    double axisMaximum() const { return axisMaximum_; }
    // Draws the log's tally again, once the charts were first drawn: an
    // import that finished calls it.
    void showTally();
    // The day table the lines were last drawn from, every crawler's line in
    // it, checked or not; empty until the trend was first chosen.
    const CrawlerDaySeries& trend() const { return trend_; }

signals:
    // A save-as-picture ended, written or not; the user has been told.
    void pictureSaved();
    // The lines were drawn from a day table just built.
    void trendShown();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showChartKind();
    // Rereads the tally into both charts.
    void refresh();
    void copyChart();
    void saveChart();
    void layoutCharts();
    // The entries of the drop-down, in its order.
    enum class ChartKind { Pie = 0, Bar = 1, Trend = 2 };
    // Any entry but the first and the third (no entry, too) stands for the
    // bars.
    ChartKind chosenKind() const;
    QChartView* chosenChart() const;

    void setItemCount(int count);
    void setItem(int index, const ChartItem& item);
    void setAxisMaximum(double maximum);
    void relabel();
    // Fonts and margins for the chart's current size, then the texts' places.
    void fitPie();
    void fitBars();
    void placeBarTexts();
    // The day table is built from the log on a worker; the lines and the
    // check boxes follow it when it comes.
    void buildTrend();
    void showTrend(CrawlerDaySeries trend);
    // Lines and legend of the checked crawlers, and the axes' ranges.
    void drawTrend();
    void fitTrend();
    // Ticks both axes as densely as their labels fit the plot's size.
    void labelAxes();
    void labelDays();

    const ImportedLog& log_;
    ConfigFile& config_;
    CheckBox* todaysCrawlers_ = nullptr;
    Button* refreshButton_ = nullptr;
    Button* copyButton_ = nullptr;
    Button* saveButton_ = nullptr; // disabled while a picture is written
    DropDown* kind_ = nullptr;
    QChartView* pie_ = nullptr;
    QChartView* bar_ = nullptr;
    QPieSeries* slices_ = nullptr;
    QHorizontalStackedBarSeries* bars_ = nullptr;
    QBarCategoryAxis* names_ = nullptr;
    QValueAxis* values_ = nullptr;
    QChartView* trendView_ = nullptr;
    CheckBoxGroup* lineChoice_ = nullptr;
    QCategoryAxis* days_ = nullptr;
    QValueAxis* visits_ = nullptr;
    int lineChoiceHeight_ = 0; // the most the check boxes take, from the layout
    // The legend of the pie and the names and values beside the bars are
    // laid out here: Qt's legend and category axis give up on 30 rows.
    std::vector<QGraphicsRectItem*> legendBoxes_;
    std::vector<QGraphicsSimpleTextItem*> legendTexts_;
    std::vector<QGraphicsSimpleTextItem*> barNames_;
    std::vector<QGraphicsSimpleTextItem*> barValues_;
    std::vector<QGraphicsLineItem*> lineSwatches_;
    std::vector<QGraphicsSimpleTextItem*> lineNames_;
    QString valueText_; // "${v}" stands for a bar's value
    std::unique_ptr<FileDialog> saveDialog_;
    std::vector<ChartItem> items_;
    double axisMaximum_ = 300;
    bool activated_ = false;
    CrawlerDaySeries trend_;
    // Display names (UTF-16) of the crawlers the user unchecked; they stay
    // unchecked when the table is built again.
    QSet<QString> hiddenLines_;
    // The tally was reread since the day table was last built.
    bool trendStale_ = true;
    int dayLabelStep_ = 0;  // 0: the day axis is to be labelled afresh
    double mostVisits_ = 0; // of a crawler on a day, over the lines drawn
    // A button's caption after a refresh or a copy, for a second.
    static constexpr int kCaptionMs = 1000;
    QTimer refreshCaption_;
    QTimer copyCaption_;
    // Builds the day table over a snapshot of the log, and encodes and
    // writes a picture; last, so that they are joined first.
    BackgroundTask trendBuild_{*this};
    BackgroundTask save_{*this};
};

// Its layout, as BuildWindow takes it.
const WindowDescription& ChartWindowDescription();

} // namespace logdesk
