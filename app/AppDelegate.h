#pragma once

#include "app/UpdateCheck.h"
#include "controller/ViewController.h"

#include <QObject>
#include <QString>

#include <string>
#include <vector>

namespace quillfen {

class Document;

// The application outside its windows: the launch checks, the documents and
// the commands of the File and Help menus that no window owns.
class AppDelegate final : public QObject {
public:
    // `services` outlive the delegate; every window's controller shares them.
    AppDelegate(ControllerServices services, std::string loginName, UpdateServices update);
    // The application quits: ends the tools still running for its windows.
    ~AppDelegate() override;

    // False when the user is not an admin: the application must quit.
    bool startUpChecks();
    bool isAdminUser(const std::string& name) const;
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
    void chooseFileToOpen();
    void chooseLogFileToAnalyse();

    ControllerServices services_;
    std::string loginName_;
    UpdateCheck* updateCheck_;
    int untitledCount_ = 0;
};

} // namespace quillfen
