#pragma once

#include <QColor>
#include <QWidget>

namespace quillfen {

// A round patch of one colour: the window's traffic light.
class ColourSwatch final : public QWidget {
public:
    explicit ColourSwatch(QWidget* parent = nullptr);
    QColor colour() const { return colour_; }
    void setColour(const QColor& colour);
    QSize sizeHint() const override { return {22, 22}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor colour_;
};

} // namespace quillfen
