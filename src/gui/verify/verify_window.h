// The window 蜘蛛真伪: every address that visited as a catalogue crawler,
// the crawler it claimed, its visits, its reverse host and the verdict, a 假
// row in red; each crawler's share of claimed visits beside its share of
// verified ones; the list and the fake addresses' block rules to files.
//
// Threads: the claims are read from a snapshot of the log and verified on a
// BackgroundTask, never on the GUI thread. The stop button raises the run's
// Cancellation: the verifier returns within about 10 ms with the claims
// settled so far, which the window then shows. Closing the window cancels
// the run and drops its result.
//
// Published ranges: the verification reads the copies kept in the ranges
// folder (the settings folder); 更新IP段 fetches them anew on a worker, and
// the label beside it names each stored list with its date and age.
#pragma once

#include "core/base/cancellation.h"
#include "core/verify/crawler_ranges.h"
#include "core/verify/crawler_verifier.h"
#include "gui/toolkit/background_task.h"

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QProgressBar;

namespace logdesk {

struct FileDialog;
struct ImportedLog;
struct WindowDescription;
class Button;
class ReportList;
class VerifyTableModel;

class VerifyWindow : public QWidget {
    Q_OBJECT
public:
    // Starts at once: reads the claims of `log` (a snapshot: `log` need not
    // outlive the window) and verifies them with `settings`. Deletes itself
    // on close.
    // rangesFolder: where the published ranges are kept; empty: none.
    // clientIpColumn: the log's column naming the client behind a proxy
    // (CollectCrawlerClaims); 0 for none.
    VerifyWindow(const ImportedLog& log, const ResolverSettings& settings, QWidget* parent,
                 std::string rangesFolder = {}, std::int32_t clientIpColumn = 0);
    // Stops the lookups and joins the worker.
    ~VerifyWindow() override;

    // The claims are being read or verified.
    bool verifying() const { return task_.running(); }
    bool exporting() const { return export_.running(); }
    // The claims listed, in their order; empty until read.
    const std::vector<CrawlerClaim>& claims() const { return claims_; }
    // One per claim once the run ended (completed or stopped); empty before.
    const std::vector<CrawlerVerdict>& verdicts() const { return verdicts_; }

    // The stop button: the run ends early, with what it settled.
    void stop();
    // The export buttons: through their save dialogs, written on a worker.
    void exportList();
    void exportIisRules();
    void exportAddressList();
    // The button 更新IP段: fetches every published list into the ranges
    // folder on a worker, then says what was stored and what was kept.
    void updateRanges();
    // The block exports also list shared addresses (see AddressesToBlock).
    void setBlockShared(bool blockShared) { blockShared_ = blockShared; }
    // Where updateRanges fetches each list; by default its owner's URL.
    void setRangeUrls(std::function<std::string(const RangeSource&)> urlFor) {
        rangeUrls_ = std::move(urlFor);
    }

signals:
    // The claims are listed; their lookups have started.
    void claimsShown();
    // The run ended and its verdicts are shown; `completed` false when
    // stopped (the unsettled claims then read 验证已取消).
    void verifyEnded(bool completed);
    // An export ended; `written` false when it failed or was refused.
    void exportEnded(bool written);
    // An update of the published ranges ended; `allStored` false when some
    // list kept its previous copy.
    void rangesUpdated(bool allStored);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void showClaims(std::vector<CrawlerClaim> claims);
    void showRun(const VerifyRun& run);
    void showRows();
    // What an export button writes.
    enum class Export { List, IisRules, AddressLines };
    void exportText(Export what);
    void layoutControls();
    void showRangesAge();

    ResolverSettings settings_;
    std::string rangesFolder_;
    bool blockShared_ = false;
    std::function<std::string(const RangeSource&)> rangeUrls_;
    std::string logPath_; // exports refuse to write over it
    std::vector<CrawlerClaim> claims_;
    std::vector<CrawlerVerdict> verdicts_;
    // Shared with the worker: the stop button and the window's end raise it.
    std::shared_ptr<Cancellation> cancel_ = std::make_shared<Cancellation>();
    Button* stopButton_ = nullptr;
    Button* exportListButton_ = nullptr;
    Button* exportIisButton_ = nullptr;
    Button* exportAddressesButton_ = nullptr;
    Button* updateRangesButton_ = nullptr;
    QLabel* rangesLabel_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* sharesLabel_ = nullptr;
    ReportList* list_ = nullptr;
    ReportList* sharesList_ = nullptr;
    VerifyTableModel* model_ = nullptr;
    VerifyTableModel* sharesModel_ = nullptr;
    std::unique_ptr<FileDialog> listDialog_;
    std::unique_ptr<FileDialog> iisDialog_;
    std::unique_ptr<FileDialog> addressDialog_;
    // Last, so that they are cancelled and joined first.
    BackgroundTask task_{*this};
    BackgroundTask export_{*this};
};

// Its layout, as BuildWindow takes it.
const WindowDescription& VerifyWindowDescription();

} // namespace logdesk
