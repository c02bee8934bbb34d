#pragma once

#include "controller/ViewController.h"

#include <QMainWindow>

#include <memory>
#include <string>

namespace Ui {
class TMWindow;
}

namespace quillfen {

// The main window: the layout of Main.ui, its controls handed to its own
// ViewController, and the buttons wired to the controller's actions.
class TMWindow final : public QMainWindow {
public:
    explicit TMWindow(ControllerServices services, QWidget* parent = nullptr);
    ~TMWindow() override;

    ViewController& controller() { return *controller_; }
    // The layout's widgets and menu actions.
    Ui::TMWindow& form() { return *ui_; }

private:
    struct Controls;

    // The default size shows a healthy report whole.
    void fitToReport();
    // Scrolls the report to a timeline mark's line and selects it, if it still holds that text.
    void showReportLine(std::size_t line, const std::string& text);

    std::unique_ptr<Ui::TMWindow> ui_;
    std::unique_ptr<Controls> controls_;
    std::unique_ptr<ViewController> controller_;
    // Context of the controls' connections. Destroyed before the controller, so the
    // focus changes of the window's own teardown no longer reach it.
    QObject wiring_;
};

} // namespace quillfen
