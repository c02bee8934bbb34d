#pragma once

#include "app/TMWindow.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>

namespace quillfen {

// The name proposed when an untitled report is first saved.
QString defaultDraftName(const QDateTime& localTime);

// One window's document: it saves the report as UTF-8 text and holds nothing
// else, so closing never asks to save. It ends with its window.
class Document final : public QObject {
    Q_OBJECT

public:
    Document(ControllerServices services, QString untitledName, QObject* parent);
    ~Document() override;

    TMWindow& window() { return *window_; }
    // The report's plain text as UTF-8, without a byte-order mark.
    QByteArray reportData() const;
    // Replaces `path` atomically; on failure the file is untouched and the user is told.
    bool writeToFile(const QString& path);

    void save();
    void saveAs();

private:
    QString displayName() const;
    // "Untitled — Quillfen", or the saved file's name in its place.
    QString windowTitle() const;

    QPointer<TMWindow> window_;
    AlertPresenter& alerts_;
    QString untitledName_;
    QString filePath_;
};

} // namespace quillfen
