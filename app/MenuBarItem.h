#pragma once

#include "platform/Controls.h"

#include <QAction>
#include <QActionGroup>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <cstdint>

namespace quillfen {

// The light as the menu bar shows it, told apart by its shape as well as its colour: a tick for
// green, an exclamation mark for orange, a cross for red, a bar before any verdict.
QIcon lightIcon(SystemColour light);

// The light in the menu bar (the system tray elsewhere), its menu and its notifications. The owner
// connects the menu's commands.
class MenuBarItem final : public QObject, public StatusItem, public Notifier {
public:
    explicit MenuBarItem(QObject* parent = nullptr);

    void show(const StatusView& view) override;
    void notify(const std::string& title, const std::string& text) override;

    QSystemTrayIcon& icon() { return icon_; }
    QMenu& menu() { return menu_; }
    // Check Every's choice for `hours` (0: Off).
    QAction* checkEvery(std::int64_t hours) const;

    QAction* const checkNow;
    QAction* const backUpNow;
    QAction* const showWindow;
    QActionGroup* const intervals;
    QAction* const openAtLogin;
    QAction* const quit;

private:
    QMenu menu_;
    QSystemTrayIcon icon_;
    QAction* const resultLine_;
    QAction* const newsLine_;
};

} // namespace quillfen
