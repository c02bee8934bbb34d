#pragma once

#include "app/UpdateCheck.h"
#include "controller/ViewController.h"

#include <QObject>
#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace quillfen {

class Document;

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

private:
    // Why `name` may not use the application: not an admin, or `id` gave no answer; nothing for an admin.
    std::optional<std::string> adminRefusal(const std::string& name) const;
    void chooseFileToOpen();
    void chooseLogFileToAnalyse();

    ControllerServices services_;
    std::string loginName_;
    RunTool idTool_;
    UpdateCheck* updateCheck_;
    int untitledCount_ = 0;
};

} // namespace quillfen
