#include "verify_window.h"

#include "core/export/csv_format.h"
#include "core/logimport/imported_log.h"
#include "core/verify/crawler_claims.h"
#include "core/verify/verification_report.h"
#include "gui/toolkit/controls.h"
#include "gui/toolkit/file_saving.h"
#include "gui/toolkit/qt_text.h"
#include "gui/toolkit/ui_seam.h"
#include "gui/toolkit/window_description.h"
#include "verify_table_model.h"

#include <QCloseEvent>
#include <QFile>
#include <QHeaderView>
#include <QProgressBar>
#include <cerrno>

namespace logdesk {

namespace {

// The verdict list's top, and the share block's height under it (its label
// and its list), as the layout places them.
constexpr int kListTop = 40;
constexpr int kSharesBlock = 123;
constexpr int kSharesListHeight = 101;

// Fits each column to its longest cell (by bytes), measured once instead of
// on every cell.
void FitColumns(ReportList& list, const VerifyTableModel& model) {
    const auto& rows = model.rows();
    QStringList cells;
    for (std::size_t c = 0; c < model.headers().size(); ++c) {
        const std::vector<std::string>* longest = nullptr;
        for (const std::vector<std::string>& row : rows) {
            if (longest == nullptr || row[c].size() > (*longest)[c].size()) {
                longest = &row;
            }
        }
        cells << (longest != nullptr ? FromGbk((*longest)[c]) : QString());
    }
    list.fitColumns(cells);
}

} // namespace

VerifyWindow::VerifyWindow(const ImportedLog& log, const ResolverSettings& settings,
                           QWidget* parent, std::string rangesFolder, std::int32_t clientIpColumn)
    : QWidget(parent), settings_(settings), rangesFolder_(std::move(rangesFolder)),
      logPath_(log.path) {
    setAttribute(Qt::WA_DeleteOnClose);
    const BuiltWindow built(this, VerifyWindowDescription());
    stopButton_ = built.control<Button>("按钮停止验证");
    exportListButton_ = built.control<Button>("按钮导出列表");
    exportIisButton_ = built.control<Button>("按钮导出IIS规则");
    exportAddressesButton_ = built.control<Button>("按钮导出IP列表");
    updateRangesButton_ = built.control<Button>("按钮更新IP段");
    rangesLabel_ = built.control<QLabel>("标签IP段");
    progress_ = built.control<QProgressBar>("进度条验证");
    status_ = built.control<QLabel>("标签状态");
    sharesLabel_ = built.control<QLabel>("标签占比");
    list_ = built.control<ReportList>("列表框");
    sharesList_ = built.control<ReportList>("列表框占比");
    model_ = new VerifyTableModel(this);
    sharesModel_ = new VerifyTableModel(this);
    list_->setModel(model_);
    sharesList_->setModel(sharesModel_);
    for (ReportList* list : {list_, sharesList_}) {
        list->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    }
    listDialog_ = built.dialog("对话框导出");
    iisDialog_ = built.dialog("对话框IIS规则");
    addressDialog_ = built.dialog("对话框IP列表");
    task_.showProgressOn(progress_);

    connect(stopButton_, &QPushButton::clicked, this, &VerifyWindow::stop);
    connect(exportListButton_, &QPushButton::clicked, this, &VerifyWindow::exportList);
    connect(exportIisButton_, &QPushButton::clicked, this, &VerifyWindow::exportIisRules);
    connect(exportAddressesButton_, &QPushButton::clicked, this, &VerifyWindow::exportAddressList);
    connect(updateRangesButton_, &QPushButton::clicked, this, &VerifyWindow::updateRanges);
    updateRangesButton_->setEnabled(!rangesFolder_.empty());
    showRangesAge();
    showRows();
    layoutControls();

    const bool started = task_.start(
        [table = log.table, fields = log.header.fieldMap,
         clientIpColumn](const TaskControl& control) {
            return CollectCrawlerClaims(table, fields, control.cancelToken(), clientIpColumn);
        },
        [this](std::vector<CrawlerClaim> claims) { showClaims(std::move(claims)); });
    if (!started) {
        showRun(VerifyRun{}); // no thread to be had: nothing settled
    }
}

VerifyWindow::~VerifyWindow() {
    // The lookups notice the signal within about 10 ms; the tasks then join.
    cancel_->cancel();
}

void VerifyWindow::showClaims(std::vector<CrawlerClaim> claims) {
    claims_ = std::move(claims);
    showRows();
    status_->setText(QStringLiteral("正在验证 %1 个IP..").arg(claims_.size()));
    emit claimsShown();
    // The verifier lives on the worker: it holds the resolver, which one
    // thread drives at a time.
    const bool started = task_.start(
        [claims = std::make_shared<const std::vector<CrawlerClaim>>(claims_), settings = settings_,
         folder = rangesFolder_, cancel = cancel_](const TaskControl& control) {
            CrawlerVerifier verifier(settings, folder.empty() ? PublishedRanges{}
                                                              : PublishedRanges::Load(folder));
            return verifier.verify(
                *claims,
                [&control](std::size_t done, std::size_t total) { control.progress(done, total); },
                cancel.get());
        },
        [this](const VerifyRun& run) { showRun(run); });
    if (!started) {
        showRun(VerifyRun{});
    }
}

void VerifyWindow::showRun(const VerifyRun& run) {
    verdicts_ = run.verdicts;
    verdicts_.resize(claims_.size()); // a run that never started settled nothing
    showRows();
    const std::vector<CrawlerShare> shares = CrawlerShares(claims_, verdicts_);
    std::vector<std::vector<std::string>> shareRows;
    for (const auto& row : ShareTableRows(shares)) {
        shareRows.emplace_back(row.begin(), row.end());
    }
    const auto titles = ShareColumnTitles();
    sharesModel_->setTable({titles.begin(), titles.end()}, std::move(shareRows));
    FitColumns(*sharesList_, *sharesModel_);

    progress_->hide();
    stopButton_->setEnabled(false);
    for (Button* button : {exportListButton_, exportIisButton_, exportAddressesButton_}) {
        button->setEnabled(true);
    }
    std::size_t shared = 0;
    AddressesToBlock(claims_, verdicts_, false, &shared);
    if (run.error) {
        status_->setText(QStringLiteral("DNS出错：") + FromGbk(run.error->reason()));
    } else if (run.problem != ResolverProblem::None) {
        // Said in a message as well as in the status line: the list and the
        // rules would otherwise look like those of a clean log.
        const QString text =
            FromGbk(ResolverProblemText(run.problem)) +
            QStringLiteral(
                "。没有IP判为假，导出的屏蔽规则是空的；请在设置中换一个DNS服务器再验证。");
        status_->setText(text);
        status_->setToolTip(text);
        Ui().showMessage(this, text);
    } else {
        QString text = run.completed ? QStringLiteral("验证完毕") : QStringLiteral("验证已停止");
        if (shared > 0) {
            text +=
                QStringLiteral("；%1 个判为假的IP另有非蜘蛛的访问，屏蔽规则不含它们").arg(shared);
        }
        status_->setText(text);
    }
    emit verifyEnded(run.completed);
}

void VerifyWindow::showRows() {
    const auto titles = VerifyColumnTitles();
    std::vector<std::vector<std::string>> rows;
    std::vector<bool> red;
    rows.reserve(claims_.size());
    for (std::size_t i = 0; i < claims_.size(); ++i) {
        if (i < verdicts_.size()) {
            const auto row = VerifyTableRow(claims_[i], verdicts_[i]);
            rows.emplace_back(row.begin(), row.end());
            red.push_back(verdicts_[i].verdict == Verdict::Fake);
        } else {
            // Listed before its verdict: host and conclusion still empty.
            rows.push_back({claims_[i].ip,
                            ClaimedCrawlerName(claims_[i]),
                            std::to_string(claims_[i].visits),
                            {},
                            {},
                            std::to_string(claims_[i].unclaimedVisits)});
        }
    }
    model_->setTable({titles.begin(), titles.end()}, std::move(rows), std::move(red));
    FitColumns(*list_, *model_);
}

void VerifyWindow::stop() {
    if (verifying()) {
        stopButton_->setEnabled(false);
        status_->setText(QStringLiteral("正在停止.."));
        cancel_->cancel();
    }
}

void VerifyWindow::exportList() {
    exportText(Export::List);
}

void VerifyWindow::exportIisRules() {
    exportText(Export::IisRules);
}

void VerifyWindow::exportAddressList() {
    exportText(Export::AddressLines);
}

void VerifyWindow::exportText(Export what) {
    if (exporting() || verifying()) {
        return;
    }
    FileDialog& dialog = what == Export::List       ? *listDialog_
                         : what == Export::IisRules ? *iisDialog_
                                                    : *addressDialog_;
    dialog.initialFilter = 0;
    if (!dialog.show(this)) {
        return;
    }
    const QString path = dialog.fileName;
    const std::string nativePath = QFile::encodeName(path).toStdString();
    if (RefuseImportedLog(this, SavedFile::Table, path, logPath_)) {
        emit exportEnded(false);
        return;
    }
    std::function<Result<void>(LineSink&, const CancelToken&)> write;
    if (what == Export::List) {
        write = [headers = model_->headers(), rows = model_->rows(),
                 csv = EndsWithCsv(nativePath)](LineSink& sink, const CancelToken& cancel) {
            return WriteTextTable(headers, rows, csv, sink, cancel);
        };
    } else {
        std::size_t shared = 0;
        const std::vector<IpAddress> fake =
            AddressesToBlock(claims_, verdicts_, blockShared_, &shared);
        BlockFormat format = BlockFormat::List;
        if (&dialog == iisDialog_.get()) {
            // The dialog's file types pick the export: a web.config fragment,
            // a PowerShell script or an appcmd batch file.
            const QString lower = path.toLower();
            format =
                lower.endsWith(QStringLiteral(".ps1")) ? BlockFormat::PowerShell
                : lower.endsWith(QStringLiteral(".cmd")) || lower.endsWith(QStringLiteral(".bat"))
                    ? BlockFormat::Appcmd
                    : BlockFormat::WebConfig;
        }
        std::string rules = BlockRules(format, fake, shared);
        write = [rules = std::move(rules)](LineSink& sink, const CancelToken&) {
            return sink.write(rules) ? Result<void>() : Result<void>(FailureOf(sink));
        };
    }
    const bool started = export_.start(
        [nativePath, write = std::move(write)](const TaskControl& control) {
            return WriteFileUnlessCancelled(nativePath, control, write);
        },
        [this, path](const WriteOutcome& outcome) {
            if (!outcome.cancelled) {
                TellSaveOutcome(this, SavedFile::Table, path, outcome.result);
            }
            emit exportEnded(outcome.written());
        });
    if (!started) {
        TellSaveOutcome(this, SavedFile::Table, path,
                        Result<void>(SystemError(EAGAIN, "cannot start", nativePath)));
        emit exportEnded(false);
    }
}

void VerifyWindow::showRangesAge() {
    if (rangesFolder_.empty()) {
        rangesLabel_->setText(QStringLiteral("公布的IP段：无"));
        return;
    }
    const PublishedRanges ranges = PublishedRanges::Load(rangesFolder_);
    QStringList parts;
    for (const StoredRanges& stored : ranges.stored()) {
        const int days = RangeAgeDays(stored.fetched, UtcNowText());
        parts << QStringLiteral("%1 %2天前")
                     .arg(QString::fromStdString(stored.id))
                     .arg(std::max(0, days));
    }
    const QString text = parts.isEmpty()
                             ? QStringLiteral("公布的IP段：未下载")
                             : QStringLiteral("公布的IP段：") + parts.join(QStringLiteral("，"));
    rangesLabel_->setText(text);
    QStringList details;
    for (const StoredRanges& stored : ranges.stored()) {
        details << QString::fromStdString(stored.id + "  " + stored.fetched + "  " + stored.source);
    }
    rangesLabel_->setToolTip(details.join(QLatin1Char('\n')));
}

void VerifyWindow::updateRanges() {
    if (rangesFolder_.empty() || exporting()) {
        return;
    }
    updateRangesButton_->setEnabled(false);
    rangesLabel_->setText(QStringLiteral("正在下载公布的IP段.."));
    const bool started = export_.start(
        [folder = rangesFolder_, urlFor = rangeUrls_](const TaskControl& control) {
            return UpdatePublishedRanges(folder, RangeSources(), UtcNowText(), urlFor,
                                         control.cancelToken());
        },
        [this](const std::vector<RangeUpdate>& updates) {
            updateRangesButton_->setEnabled(true);
            showRangesAge();
            QString stored;
            QString kept;
            bool all = true;
            for (const RangeUpdate& update : updates) {
                const QString id = QString::fromStdString(update.id);
                if (update.stored) {
                    stored += QStringLiteral("\n  %1：%2 段").arg(id).arg(update.ranges);
                } else {
                    all = false;
                    kept += QStringLiteral("\n  %1：%2").arg(id, FromGbk(update.error));
                }
            }
            QString text = QStringLiteral("已更新的IP段：") +
                           (stored.isEmpty() ? QStringLiteral("无") : stored);
            if (!kept.isEmpty()) {
                text += QStringLiteral("\n未能更新，保留原来的：") + kept;
            }
            text += QStringLiteral("\n下次验证时使用。");
            Ui().showMessage(this, text);
            emit rangesUpdated(all);
        });
    if (!started) {
        updateRangesButton_->setEnabled(true);
        showRangesAge();
        emit rangesUpdated(false);
    }
}

void VerifyWindow::closeEvent(QCloseEvent* event) {
    cancel_->cancel();
    task_.cancel();
    export_.cancel();
    QWidget::closeEvent(event);
}

void VerifyWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutControls();
}

void VerifyWindow::layoutControls() {
    if (list_ == nullptr) {
        return;
    }
    const int w = width();
    const int h = height();
    list_->setGeometry(0, kListTop, w, std::max(0, h - kListTop - kSharesBlock));
    sharesLabel_->move(sharesLabel_->x(), h - kSharesBlock + 4);
    rangesLabel_->move(rangesLabel_->x(), h - kSharesBlock + 4);
    updateRangesButton_->move(updateRangesButton_->x(), h - kSharesBlock);
    sharesList_->setGeometry(0, h - kSharesListHeight, w, kSharesListHeight);
}

} // namespace logdesk
