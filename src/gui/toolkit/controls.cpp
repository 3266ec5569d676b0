#include "controls.h"

#include "core/base/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QMouseEvent>
#include <QProxyStyle>
#include <algorithm>
#include <climits>

namespace logdesk {

PictureBox::PictureBox(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void PictureBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit leftPressed();
    }
    QLabel::mousePressEvent(event);
}

LinkLabel::LinkLabel(QWidget* parent) : QLabel(parent) {
    setCursor(Qt::PointingHandCursor);
    setTextFormat(Qt::RichText);
}

void LinkLabel::setCaption(const QString& caption) {
    setText(QStringLiteral("<a href=\"#\" style=\"color:#0645ad\">%1</a>")
                .arg(caption.toHtmlEscaped()));
    setAccessibleName(caption);
}

void LinkLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        if (!target_.isEmpty()) {
            Ui().openUrl(target_);
        }
        emit leftPressed();
    }
}

namespace {

// Pixels between two cells of a check box group, and around them.
constexpr int kCellGap = 10;
constexpr int kGroupMargin = 4;

} // namespace

CheckBoxGroup::CheckBoxGroup(QWidget* parent) : QScrollArea(parent), content_(new QWidget) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWidgetResizable(false);
    setWidget(content_);
}

void CheckBoxGroup::setEntries(const QStringList& captions, const std::vector<bool>& checked,
                               const QList<QIcon>& icons) {
    for (CheckBox* box : boxes_) {
        delete box;
    }
    boxes_.clear();
    for (qsizetype i = 0; i < captions.size(); ++i) {
        auto* box = new CheckBox(captions[i], content_);
        const auto at = static_cast<std::size_t>(i);
        box->setChecked(at < checked.size() && checked[at]);
        if (i < icons.size()) {
            box->setIcon(icons[i]);
        }
        const int index = static_cast<int>(i);
        connect(box, &QCheckBox::toggled, this,
                [this, index](bool on) { emit entryToggled(index, on); });
        box->show();
        boxes_.push_back(box);
    }
    placeEntries();
}

CheckBox* CheckBoxGroup::entry(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < boxes_.size()
               ? boxes_[static_cast<std::size_t>(index)]
               : nullptr;
}

QSize CheckBoxGroup::cellSize() const {
    QSize cell;
    for (const CheckBox* box : boxes_) {
        cell = cell.expandedTo(box->sizeHint());
    }
    return cell + QSize(kCellGap, 0);
}

int CheckBoxGroup::columnsFor(int innerWidth) const {
    const int cellWidth = std::max(1, cellSize().width());
    return std::max(1, (innerWidth - 2 * kGroupMargin + kCellGap) / cellWidth);
}

int CheckBoxGroup::contentHeight(int width) const {
    if (boxes_.empty()) {
        return 0;
    }
    const int columns = columnsFor(width - 2 * frameWidth());
    const int rows = (static_cast<int>(boxes_.size()) + columns - 1) / columns;
    return rows * cellSize().height() + 2 * kGroupMargin + 2 * frameWidth();
}

void CheckBoxGroup::placeEntries() {
    const QSize cell = cellSize();
    const int inner = viewport()->width();
    const int columns = columnsFor(inner);
    for (std::size_t i = 0; i < boxes_.size(); ++i) {
        const int column = static_cast<int>(i) % columns;
        const int row = static_cast<int>(i) / columns;
        boxes_[i]->setGeometry(kGroupMargin + column * cell.width(),
                               kGroupMargin + row * cell.height(), cell.width() - kCellGap,
                               cell.height());
    }
    const int rows = (static_cast<int>(boxes_.size()) + columns - 1) / columns;
    content_->resize(inner, rows * cell.height() + 2 * kGroupMargin);
}

bool CheckBoxGroup::viewportEvent(QEvent* event) {
    // The viewport narrows when the scroll bar comes: the rows follow it.
    if (event->type() == QEvent::Resize) {
        placeEntries();
    }
    return QScrollArea::viewportEvent(event);
}

int ListBox::addEntry(const QString& text) {
    addItem(text);
    return count() - 1;
}

QString ListBox::entryText(int index) const {
    const QListWidgetItem* it = item(index);
    return it != nullptr ? it->text() : QString();
}

void ListBox::mousePressEvent(QMouseEvent* event) {
    QListWidget::mousePressEvent(event);
    if (event->button() == Qt::RightButton) {
        emit rightPressed();
    }
}

int CheckList::addEntry(const QString& text, int value) {
    auto* entry = new QListWidgetItem(text, this);
    entry->setFlags(entry->flags() | Qt::ItemIsUserCheckable);
    entry->setCheckState(Qt::Unchecked);
    entry->setData(Qt::UserRole, value);
    return count() - 1;
}

QString CheckList::entryText(int index) const {
    const QListWidgetItem* it = item(index);
    return it != nullptr ? it->text() : QString();
}

void CheckList::setEntryText(int index, const QString& text) {
    if (QListWidgetItem* it = item(index)) {
        it->setText(text);
    }
}

int CheckList::entryData(int index) const {
    const QListWidgetItem* it = item(index);
    return it != nullptr ? it->data(Qt::UserRole).toInt() : -1;
}

void CheckList::setEntryData(int index, int value) {
    if (QListWidgetItem* it = item(index)) {
        it->setData(Qt::UserRole, value);
    }
}

bool CheckList::checked(int index) const {
    const QListWidgetItem* it = item(index);
    return it != nullptr && it->checkState() == Qt::Checked;
}

void CheckList::setChecked(int index, bool on) {
    if (QListWidgetItem* it = item(index)) {
        it->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
}

// The application's style with the tab padding a strip chose; -1 keeps the
// style's own.
class TabStrip::PaddingStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_TabBarTabHSpace && across >= 0) {
            return across;
        }
        if (metric == PM_TabBarTabVSpace && down >= 0) {
            return down;
        }
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
    int across = -1;
    int down = -1;
};

TabStrip::TabStrip(QWidget* parent) : QTabBar(parent) {
    setExpanding(false);
    setDrawBase(true);
    connect(this, &QTabBar::currentChanged, this, &TabStrip::showCurrentPage);
}

void TabStrip::addToPage(int tab, QWidget* control) {
    control->setParent(this);
    pageControls_.emplace_back(tab, control);
    control->setVisible(tab == currentIndex());
}

void TabStrip::showCurrentPage() {
    for (const auto& [tab, control] : pageControls_) {
        control->setVisible(tab == currentIndex());
    }
}

void TabStrip::fitTabs() {
    if (padding_ == nullptr) {
        padding_ = new PaddingStyle;
        padding_->setParent(this);
        setStyle(padding_);
    }
    int room = INT_MAX;
    for (const auto& [tab, control] : pageControls_) {
        room = std::min(room, control->x());
    }
    // tabSizeHint asks the style for the padding on every call.
    const auto tooWide = [&] {
        int sum = 0;
        for (int i = 0; i < count(); ++i) {
            sum += tabSizeHint(i).width();
        }
        return sum > room;
    };
    const auto tooTall = [&] {
        for (int i = 0; i < count(); ++i) {
            if (tabSizeHint(i).height() > height()) {
                return true;
            }
        }
        return false;
    };
    padding_->across = -1;
    padding_->down = -1;
    padding_->across = padding_->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, this);
    padding_->down = padding_->pixelMetric(QStyle::PM_TabBarTabVSpace, nullptr, this);
    while (padding_->across > 0 && tooWide()) {
        --padding_->across;
    }
    while (padding_->down > 0 && tooTall()) {
        --padding_->down;
    }
    setIconSize(iconSize()); // lays the tabs out again
}

void TabStrip::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        emit rightClicked();
        return;
    }
    QTabBar::mousePressEvent(event);
}

ReportList::ReportList(QWidget* parent) : QTableView(parent) {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setShowGrid(true);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &ReportList::headerClicked);
    horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(horizontalHeader(), &QWidget::customContextMenuRequested, this,
            [this] { emit headerRightClicked(); });
}

int ReportList::columnCount() const {
    return model() != nullptr ? model()->columnCount() : 0;
}

QString ReportList::columnTitle(int column) const {
    if (model() == nullptr || column < 0 || column >= columnCount()) {
        return {};
    }
    return model()->headerData(column, Qt::Horizontal).toString();
}

int ReportList::rowCount() const {
    return model() != nullptr ? model()->rowCount() : 0;
}

QString ReportList::cellText(int row, int column) const {
    if (model() == nullptr || row < 0 || row >= rowCount() || column < 0 ||
        column >= columnCount()) {
        return {};
    }
    return model()->index(row, column).data().toString();
}

int ReportList::selectedRow() const {
    if (selectionModel() == nullptr) {
        return -1;
    }
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void ReportList::setSelectedRow(int row) {
    if (row < 0 || row >= rowCount()) {
        clearSelection();
        return;
    }
    selectRow(row);
}

void ReportList::makeRowVisible(int row) {
    if (row >= 0 && row < rowCount()) {
        scrollTo(model()->index(row, 0));
    }
}

void ReportList::fitColumns(const QStringList& longestCells) {
    const QFontMetrics cells(font());
    const QFontMetrics titles(horizontalHeader()->font());
    const int padding = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin) + 8;
    for (int c = 0; c < columnCount(); ++c) {
        int width = titles.horizontalAdvance(columnTitle(c));
        if (c < longestCells.size()) {
            width = std::max(width, cells.horizontalAdvance(longestCells[c]));
        }
        setColumnWidth(c, width + padding + (c == 0 ? 4 : 0));
    }
}

void ReportList::widenColumnFor(int column, const QString& text) {
    const int padding = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin) + 8;
    const int wanted = QFontMetrics(font()).horizontalAdvance(text) + padding;
    if (column >= 0 && column < columnCount() && wanted > columnWidth(column)) {
        setColumnWidth(column, wanted);
    }
}

void ReportList::mousePressEvent(QMouseEvent* event) {
    QTableView::mousePressEvent(event);
    if (event->button() == Qt::RightButton) {
        emit rowRightClicked();
    }
}

QString QtFilter(const QString& pipeFilter) {
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        QString patterns = parts[i + 1].trimmed();
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // Qt takes the patterns from the description's last parentheses.
        if (description.endsWith(QStringLiteral("(%1)").arg(patterns))) {
            filters << description;
        } else {
            filters << QStringLiteral("%1 (%2)").arg(description, patterns);
        }
    }
    return filters.join(QStringLiteral(";;"));
}

bool FileDialog::show(QWidget* parent) {
    FileDialogRequest request;
    request.save = save;
    request.title = title;
    request.filter = QtFilter(filter);
    request.initialFilter = initialFilter;
    request.fileName = fileName;
    request.defaultSuffix = defaultExtension;
    request.multiple = multiple && !save;
    QStringList chosen;
    if (request.multiple) {
        chosen = Ui().askFileNames(parent, request).value_or(QStringList());
        chosen.removeAll(QString());
    } else if (const std::optional<QString> one = Ui().askFileName(parent, request)) {
        chosen << *one;
    }
    if (chosen.isEmpty() || chosen.first().isEmpty()) {
        return false;
    }
    // The desktop dialog has appended the extension already; the same rule
    // here covers a seam that did not, and changes nothing the dialog chose.
    for (QString& path : chosen) {
        if (!defaultExtension.isEmpty() && !QFileInfo(path).fileName().contains(QLatin1Char('.'))) {
            path += QLatin1Char('.') + defaultExtension;
        }
    }
    fileName = chosen.first();
    fileNames = chosen;
    return true;
}

} // namespace logdesk
