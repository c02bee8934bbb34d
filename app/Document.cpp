#include "app/Document.h"

#include "app/TMWindow.h"
#include "ui_Main.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>

#include <filesystem>

namespace quillfen {

using namespace Qt::Literals::StringLiterals;

QString defaultDraftName(const QDateTime& localTime)
{
    return u"Quillfen_"_s + localTime.toString(u"yyyy-MM-dd_HH_mm_ss"_s);
}

Document::Document(ControllerServices services, QString untitledName, QObject* parent)
    : QObject(parent), alerts_(services.alerts), untitledName_(std::move(untitledName))
{
    window_ = new TMWindow(std::move(services));
    window_->setAttribute(Qt::WA_DeleteOnClose);
    window_->setWindowTitle(windowTitle());
    connect(window_, &QObject::destroyed, this, &QObject::deleteLater);

    Ui::TMWindow& form = window_->form();
    connect(form.actionSave, &QAction::triggered, this, &Document::save);
    connect(form.actionSaveAs, &QAction::triggered, this, &Document::saveAs);
    connect(form.actionClose, &QAction::triggered, window_, &QWidget::close);
}

Document::~Document()
{
    delete window_.data();
}

QByteArray Document::reportData() const
{
    return QByteArray::fromStdString(window_->controller().reportText());
}

QString Document::displayName() const
{
    return filePath_.isEmpty() ? untitledName_ : QFileInfo(filePath_).fileName();
}

QString Document::windowTitle() const
{
    return displayName() + u" \u2014 Quillfen"_s;
}

bool Document::writeToFile(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    const QString unsaved = u"The document “%1” could not be saved."_s.arg(name);
    // Never harm what was given: the report does not replace the log it was read from.
    std::error_code unknown;
    if (const auto& log = window_->controller().logFile();
        log && std::filesystem::equivalent(*log, QFile::encodeName(path).toStdString(), unknown)) {
        const QString why = u"“%1” is the log file being analysed: nothing was written. Save the report under "
                            u"another name."_s.arg(name);
        alerts_.runModal(Alert{AlertStyle::Critical, unsaved.toStdString(), why.toStdString(), "OK"});
        return false;
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(reportData()) >= 0 && file.commit()) {
        filePath_ = path;
        window_->setWindowTitle(windowTitle());
        return true;
    }
    alerts_.runModal(Alert{AlertStyle::Critical, unsaved.toStdString(), file.errorString().toStdString(), "OK"});
    return false;
}

void Document::save()
{
    if (filePath_.isEmpty())
        saveAs();
    else
        writeToFile(filePath_);
}

void Document::saveAs()
{
    const QString proposed =
        filePath_.isEmpty() ? defaultDraftName(QDateTime::currentDateTime()) + u".txt"_s : filePath_;
    const QString path = QFileDialog::getSaveFileName(window_, u"Save Report"_s, proposed, u"Plain text (*.txt)"_s);
    if (!path.isEmpty())
        writeToFile(path);
}

} // namespace quillfen
