#include "app/TMWindow.h"

#include "app/QtControls.h"
#include "app/TimelineWidget.h"
#include "ui_Main.h"

#include <QFontDatabase>
#include <QLabel>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>

namespace quillfen {

namespace {

// A healthy report of the default period, with room to spare.
constexpr int kReportLines = 26;
constexpr int kReportColumns = 88;

} // namespace

struct TMWindow::Controls {
    explicit Controls(Ui::TMWindow& ui)
        : periodText(*ui.periodText), periodStep(*ui.periodStep), trafficLight(*ui.trafficLight),
          outputText(*ui.outputText), apfsButton(*ui.apfsButton), progressSpinner(*ui.progressSpinner),
          progressLabel(*ui.progressLabel), timeline(*ui.timeline)
    {
    }

    QtTextField periodText;
    QtStepper periodStep;
    QtColourWell trafficLight;
    QtTextView outputText;
    QtButton apfsButton;
    QtProgressIndicator progressSpinner;
    QtLabel progressLabel;
    TimelineView& timeline;
};

TMWindow::TMWindow(ControllerServices services, QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::TMWindow>())
{
    ui_->setupUi(this);
    // The busy indicator comes and goes without moving the buttons beside it.
    QSizePolicy keepPlace = ui_->progressSpinner->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    ui_->progressSpinner->setSizePolicy(keepPlace);
    // The progress line takes the room the row has to spare, beside the spinner, and never widens the window.
    QLabel& progress = *ui_->progressLabel;
    progress.setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    progress.setMinimumWidth(1);
    progress.setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont smaller = progress.font();
    smaller.setPointSizeF(smaller.pointSizeF() * 0.9);
    progress.setFont(smaller);
    progress.setForegroundRole(QPalette::PlaceholderText);

    controls_ = std::make_unique<Controls>(*ui_);
    controller_ = std::make_unique<ViewController>(controlsOf(*controls_, controls_->timeline), std::move(services));

    const std::pair<QAbstractButton*, void (ViewController::*)()> buttons[] = {
        {ui_->checkButton, &ViewController::runCheckButton},    {ui_->speedButton, &ViewController::runSpeedButton},
        {ui_->apfsButton, &ViewController::runAPFSButton},      {ui_->backupNowButton, &ViewController::runBackupNow},
        {ui_->smallerFontButton, &ViewController::decFontSize}, {ui_->largerFontButton, &ViewController::incFontSize},
    };
    for (const auto& [button, action] : buttons)
        connect(button, &QAbstractButton::clicked, &wiring_, [this, action] { (controller_.get()->*action)(); });
    connect(ui_->periodText, &QLineEdit::editingFinished, &wiring_, [this] { controller_->setThePeriodText(); });
    connect(ui_->periodStep, &QSpinBox::valueChanged, &wiring_, [this] { controller_->stepPeriodText(); });
    ui_->timeline->onMarkClicked = [this](std::size_t line, const std::string& text) { showReportLine(line, text); };

    controller_->viewDidLoad();
    fitToReport();
}

void TMWindow::showReportLine(std::size_t line, const std::string& text)
{
    QPlainTextEdit& report = *ui_->outputText;
    const QTextBlock block = report.document()->findBlockByNumber(static_cast<int>(line));
    // A listing may have replaced the Check's report since; then the line is not there.
    const QString first = QString::fromStdString(text).section(u'\n', 0, 0);
    if (!block.isValid() || !block.text().startsWith(first))
        return;
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    report.setTextCursor(cursor);
    report.centerCursor();
}

void TMWindow::fitToReport()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(controller_->theFontSize);
    const QFontMetrics metrics(font);
    QPlainTextEdit& text = *ui_->outputText;
    const int margins = 2 * (text.frameWidth() + qCeil(text.document()->documentMargin()));
    const QSize report(kReportColumns * metrics.horizontalAdvance(u'0') + margins +
                           text.verticalScrollBar()->sizeHint().width(),
                       kReportLines * metrics.lineSpacing() + margins);
    // The layout works out the rest of the window around a report of that size.
    text.setMinimumSize(report);
    QSize fitted = sizeHint();
    text.setMinimumSize(0, 0);
    if (const QScreen* display = screen())
        fitted = fitted.boundedTo(display->availableSize());
    resize(fitted);
    // Never so narrow that a button's title is cut.
    setMinimumWidth(minimumSizeHint().width());
}

TMWindow::~TMWindow() = default;

} // namespace quillfen
