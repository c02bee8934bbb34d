#pragma once

#include "app/UpdateCheck.h"
#include "controller/ViewController.h"
#include "controller/Watch.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillfen {

class Document;
class MenuBarItem;
class QtTimer;

// The application outside its windows: the launch checks, the documents and
// the commands of the File and Help menus that no window owns.
class AppDelegate final : public QObject {
public:
    // `services` outlive the delegate; every window's controller shares them. `idTool` runs
    // `/usr/bin/id` at launch, under a deadline of its own.
    AppDelegate(ControllerServices services, std::string loginName, RunTool idTool, UpdateServices update);
    // The application quits: ends the tools still running for its windows.
    ~AppDelegate() override;

    // False when the user is not an admin, or `id` could not tell: the application must quit.
    bool startUpChecks();
    void showAppAlert(const std::string& text);
    UpdateCheck& updateCheck() { return *updateCheck_; }

    Document& newDocument();
    std::vector<Document*> documents() const;
    // Saved reports cannot be opened again; every file is refused.
    void openFile(const QString& path);
    // A new window whose checks read the saved log at `path`, showing its report.
    Document& analyseLogFile(const QString& path);

    void openSupport();
    void openUpdates();

    // Keeps watch from the menu bar, where the desktop has one: false where it has none. Windows made
    // afterwards count their Checks of this Mac as the watch's.
    bool startWatch();
    Watch* watch() const { return watch_.get(); }
    MenuBarItem* menuBarItem() const { return menuBar_.get(); }
    // The window of this Mac's log, made if none is open, with the watch's newest result.
    void showWatchedWindow();
    // Quits, whether or not the watch is on.
    void quit();

private:
    // Why `name` may not use the application: not an admin, or `id` gave no answer; nothing for an admin.
    std::optional<std::string> adminRefusal(const std::string& name) const;
    void chooseFileToOpen();
    void chooseLogFileToAnalyse();
    void connectWatch();
    // Check Every's tick, each window's Keep Watch, and whether closing the last window quits.
    void showCheckEvery();
    void setOpenAtLogin(bool open);

    ControllerServices services_;
    std::string loginName_;
    RunTool idTool_;
    UpdateCheck* updateCheck_;
    int untitledCount_ = 0;
    std::unique_ptr<MenuBarItem> menuBar_;
    std::unique_ptr<QtTimer> timer_;
    // After what it shows and times with, so that it goes first.
    std::unique_ptr<Watch> watch_;
};

} // namespace quillfen
