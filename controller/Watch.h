#pragma once

#include "controller/ViewController.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillfen {

// Preferences of the watch. A missing key reads as 0, which stands for the default.
inline constexpr std::string_view kCheckEveryKey = "checkEveryHours"; // 1 or 4; -1 is Off
inline constexpr std::string_view kNotifyAfterKey = "notifyAfterHoursWithoutBackup";
inline constexpr std::string_view kWatchPeriodKey = "watchPeriodHours"; // the period a window last checked
inline constexpr std::string_view kToldLightKey = "watchLastLight";
inline constexpr std::string_view kToldOverdueKey = "watchToldNoBackup";

// The intervals Check Every offers, in hours; 0 is Off.
inline constexpr std::int64_t kCheckEveryChoices[] = {0, 1, 4};
inline constexpr std::int64_t kDefaultNotifyAfterHours = 24;

// What the watch has told the user, kept across launches so that each change is told once.
struct WatchMemory {
    BackupAssessment light = BackupAssessment::none; // the last verdict
    bool toldOverdue = false;                        // told that no backup completed for too long

    bool operator==(const WatchMemory&) const = default;
};

struct Notice {
    std::string title;
    std::string text;

    bool operator==(const Notice&) const = default;
};

// What one Check brings the user: a notification when the light got worse or no backup has completed
// for longer than `notifyAfterHours`, once per change; a quiet line when the light got better.
struct WatchNews {
    std::optional<Notice> notice;
    bool better = false;
    WatchMemory memory; // what is remembered afterwards
};
WatchNews newsOf(const WatchMemory& memory, const CheckResult& result, Date now, double notifyAfterHours);

// "37 minutes", "5 hours", "3 days": an age in its largest whole unit, up to 48 hours in hours.
std::string ageWords(double minutes);

// The status item's view of the last Check (none yet), the failure of a later one, and the quiet line.
StatusView statusViewOf(const CheckResult* last, const std::optional<std::string>& failure, Date now,
                        const std::string& news);

// The menu-bar watch's timer, status item and notifications, on the main thread.
struct WatchControls {
    Timer& timer;
    StatusItem& statusItem;
    Notifier& notifier;
};

// Keeps watch from the menu bar: checks this Mac's log by itself at the chosen interval (a Check a
// window runs counts as one), shows the last light in the status item and tells the user of each
// change for the worse, and when it can no longer check. Nothing runs between checks but one timer; after a sleep, the
// missed check runs once. Main thread only.
class Watch final : public CheckObserver {
public:
    Watch(ControllerServices services, WatchControls controls);
    ~Watch() override;
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    // Shows the status item and, when the watch is on, runs a check as soon as the main thread is free,
    // unless a window runs one first.
    void start();

    // Check Every: hours between checks, 0 for Off; stored as a preference.
    std::int64_t checkEvery() const;
    void setCheckEvery(std::int64_t hours);

    void checkNow();
    void backUpNow();
    // The system woke from sleep: a check that fell due meanwhile runs now.
    void woke() { due(); }

    // The newest Check with a verdict, for the window the user asks to see.
    const std::optional<CheckResult>& lastResult() const { return last_; }

    // Shows the last result again, its ages counted to now: the menu is about to open.
    void refresh();

    void checkStarted(std::int64_t hours) override;
    void checkFinished(const CheckResult& result) override;

private:
    void finished(const CheckResult& result, bool own);
    void due();
    void arm();
    std::int64_t period() const;

    ControllerServices services_;
    WatchControls controls_;
    std::optional<Date> lastStart_;
    std::optional<CheckResult> last_;
    std::optional<std::string> failure_; // why the newest check gave no verdict, when it came after last_
    std::string news_;
    // Last, so that it goes first: the results of runs still under way go with it.
    CheckService service_;
};

} // namespace quillfen
