#include "controller/Watch.h"

#include "analysis/Formatting.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace quillfen {

namespace {

constexpr double kSecondsPerHour = 60 * 60;
constexpr std::int64_t kDefaultPeriodHours = 2;

std::string capitalised(std::string_view words)
{
    std::string text(words);
    if (!text.empty() && text.front() >= 'a' && text.front() <= 'z')
        text.front() = static_cast<char>(text.front() - 'a' + 'A');
    return text;
}

std::string sentence(std::string_view words)
{
    return capitalised(words) + ".";
}

// The first cause as a sentence, or where to read more when there is none.
std::string causeSentence(const CheckAssessment& assessment)
{
    return assessment.causes.empty() ? std::string("Open Quillfen to read the report.")
                                     : sentence(causeWords(assessment.causes.front()));
}

std::string firstLine(std::string_view text)
{
    return std::string(text.substr(0, text.find('\n')));
}

// A stored number of hours that is one of the whole numbers from `low` to `high`, else the default.
std::int64_t storedHours(const UserDefaults& defaults, std::string_view key, std::int64_t low, std::int64_t high,
                         std::int64_t fallback)
{
    const double stored = defaults.doubleForKey(std::string(key));
    if (!(stored >= static_cast<double>(low) && stored <= static_cast<double>(high)) || stored != std::floor(stored))
        return fallback;
    return static_cast<std::int64_t>(stored);
}

WatchMemory readMemory(const UserDefaults& defaults)
{
    const auto light = storedHours(defaults, kToldLightKey, 1, 3, 0);
    return {static_cast<BackupAssessment>(light), defaults.boolForKey(std::string(kToldOverdueKey))};
}

void writeMemory(UserDefaults& defaults, const WatchMemory& memory)
{
    defaults.setDouble(std::string(kToldLightKey), static_cast<double>(memory.light));
    defaults.setBool(std::string(kToldOverdueKey), memory.toldOverdue);
}

} // namespace

std::string ageWords(double minutes)
{
    const auto count = [](double value, std::string_view unit) {
        const auto whole = std::max<std::int64_t>(1, static_cast<std::int64_t>(value));
        return std::to_string(whole) + " " + std::string(unit) + (whole == 1 ? "" : "s");
    };
    if (minutes < 60)
        return count(minutes, "minute");
    if (minutes < 48 * 60)
        return count(minutes / 60, "hour");
    return count(minutes / (24 * 60), "day");
}

WatchNews newsOf(const WatchMemory& memory, const CheckResult& result, Date now, double notifyAfterHours)
{
    WatchNews news{std::nullopt, false, memory};
    auto light = result.light();
    if (!light || *light == BackupAssessment::none)
        return news;
    const CheckAssessment& assessment = result.found.assessment;
    // An orange that says only that a backup is being made tells of work, not of a fault (a check
    // after a wake often meets one): it is told as green, and the next check finds the backup done.
    if (*light == BackupAssessment::warning && !assessment.causes.empty() &&
        std::ranges::all_of(assessment.causes,
                            [](const Cause& cause) { return cause.code == CauseCode::backupUnderWay; }))
        light = BackupAssessment::healthy;
    news.memory.light = *light;
    // The first verdict the watch sees is news only when it is not green.
    if (*light > std::max(memory.light, BackupAssessment::healthy))
        news.notice = Notice{"Time Machine: " + std::string(*lightName(light)) + " light", causeSentence(assessment)};
    else if (*light < memory.light)
        news.better = true;
    if (assessment.lastCompletion) {
        const double minutes = secondsBetween(*assessment.lastCompletion, now) / 60;
        const bool overdue = minutes > notifyAfterHours * 60;
        if (overdue && !memory.toldOverdue && !news.notice)
            news.notice =
                Notice{"No Time Machine backup for " + ageWords(minutes),
                       *light == BackupAssessment::healthy || assessment.causes.empty()
                           ? "The last backup completed at " + localDateAndTime(*assessment.lastCompletion) + "."
                           : causeSentence(assessment)};
        news.memory.toldOverdue = overdue;
    }
    return news;
}

StatusView statusViewOf(const CheckResult* last, const std::optional<std::string>& failure, Date now,
                        const std::string& news)
{
    StatusView view{SystemColour::Grey, "Quillfen: not checked yet", "Not checked yet", news};
    if (last) {
        const BackupAssessment light = *last->light();
        const CheckAssessment& assessment = last->found.assessment;
        const std::string name(*lightName(light));
        view.light = lightColour(light);
        view.resultLine = capitalised(name) + " at " + localClockTime(last->end) +
                          (assessment.causes.empty() ? "" : ": " + causeWords(assessment.causes.front()));
        view.toolTip = "Quillfen: " + name + ", checked at " + localClockTime(last->end);
        if (assessment.lastCompletion)
            view.toolTip += "\nLast backup completed " +
                            ageWords(std::max(0.0, secondsBetween(*assessment.lastCompletion, now) / 60)) +
                            " ago, at " + localDateAndTime(*assessment.lastCompletion);
        else
            view.toolTip += "\nNo completed backup found in the log";
        if (!assessment.causes.empty())
            view.toolTip.append("\n").append(causeSentence(assessment));
    }
    if (failure) {
        view.resultLine = *failure;
        view.toolTip += "\n" + *failure;
    }
    return view;
}

Watch::Watch(ControllerServices services, WatchControls controls)
    : services_(std::move(services)), controls_(controls), service_(services_.checks)
{
    services_.observer = nullptr;
}

Watch::~Watch()
{
    controls_.timer.stop();
}

void Watch::start()
{
    refresh();
    if (checkEvery() > 0)
        controls_.timer.start(std::chrono::milliseconds(0), [this] { due(); });
}

std::int64_t Watch::checkEvery() const
{
    const double stored = services_.defaults.doubleForKey(std::string(kCheckEveryKey));
    if (stored < 0)
        return 0;
    return stored == 4 ? 4 : 1;
}

void Watch::setCheckEvery(std::int64_t hours)
{
    services_.defaults.setDouble(std::string(kCheckEveryKey), hours == 0 ? -1.0 : static_cast<double>(hours));
    if (checkEvery() == 0)
        controls_.timer.stop();
    else
        due();
}

std::int64_t Watch::period() const
{
    return storedHours(services_.defaults, kWatchPeriodKey, 1, 48, kDefaultPeriodHours);
}

// The timer fired, the Mac woke or the interval changed: a check runs when none started for an interval.
void Watch::due()
{
    const std::int64_t hours = checkEvery();
    if (hours == 0)
        return;
    if (lastStart_ && services_.checks.clock->now().sinceEpoch <
                          lastStart_->sinceEpoch + static_cast<double>(hours) * kSecondsPerHour)
        arm();
    else
        checkNow();
}

// One timer for the next check, however many intervals a sleep or a change of the clock skipped.
void Watch::arm()
{
    const std::int64_t hours = checkEvery();
    if (hours == 0 || !lastStart_)
        return;
    const double interval = static_cast<double>(hours) * kSecondsPerHour;
    const double left = lastStart_->sinceEpoch + interval - services_.checks.clock->now().sinceEpoch;
    const auto delay = std::chrono::milliseconds(static_cast<std::int64_t>(std::clamp(left, 0.0, interval) * 1000));
    controls_.timer.start(delay, [this] { due(); });
}

void Watch::checkNow()
{
    lastStart_ = services_.checks.clock->now();
    arm();
    service_.check(CheckRequest{period(), std::nullopt, false, {}},
                   [this](const CheckResult& result) { finished(result, true); });
}

void Watch::backUpNow()
{
    service_.backUpNow([this](const std::vector<std::string>& alerts) {
        for (const std::string& alert : alerts)
            services_.alerts.runModal(Alert{AlertStyle::Critical, std::string(kErrorAlertMessage), alert, "OK"});
    });
}

void Watch::checkStarted(std::int64_t hours)
{
    services_.defaults.setDouble(std::string(kWatchPeriodKey), static_cast<double>(hours));
    lastStart_ = services_.checks.clock->now();
    arm();
}

void Watch::checkFinished(const CheckResult& result)
{
    finished(result, false);
}

// `own`: the watch ran the check, so no window has told of its failure.
void Watch::finished(const CheckResult& result, bool own)
{
    const Date now = services_.checks.clock->now();
    if (!result.light()) {
        const std::string why = result.alerts.empty() ? std::string() : firstLine(result.alerts.front());
        // A watch that can no longer check says so once, not at every interval.
        if (own && !failure_)
            controls_.notifier.notify("Quillfen could not check the backups",
                                      why.empty() ? "The log could not be read." : why);
        failure_ = "The check at " + localClockTime(now) + " could not finish" + (why.empty() ? "" : ": " + why);
        refresh();
        return;
    }
    // A run that began earlier and ended later than the one shown has nothing newer to say.
    if (last_ && result.end < last_->end)
        return;
    const WatchMemory memory = readMemory(services_.defaults);
    const double notifyAfter =
        static_cast<double>(storedHours(services_.defaults, kNotifyAfterKey, 1, 24 * 365, kDefaultNotifyAfterHours));
    WatchNews news = newsOf(memory, result, now, notifyAfter);
    writeMemory(services_.defaults, news.memory);
    if (news.better)
        news_ = "Better since " + localClockTime(now) + " (was " + std::string(*lightName(memory.light)) + ")";
    else if (news.memory.light != memory.light)
        news_.clear();
    failure_.reset();
    last_ = result;
    if (news.notice)
        controls_.notifier.notify(news.notice->title, news.notice->text);
    refresh();
}

void Watch::refresh()
{
    controls_.statusItem.show(statusViewOf(last_ ? &*last_ : nullptr, failure_, services_.checks.clock->now(), news_));
}

} // namespace quillfen
