#pragma once

#include "timeline/Timeline.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quillfen {

// The timeline as shapes and text in pixel coordinates, origin top left, for
// any renderer to paint in order.

struct Colour {
    std::uint32_t rgb = 0; // 0xRRGGBB
    double opacity = 1.0;
};

enum class Fill { Solid, Hatched };

struct Box {
    double x, y, width, height;
    Colour colour;
    Fill fill = Fill::Solid;
};

struct Stroke {
    double x1, y1, x2, y2;
    Colour colour;
    double width = 1.0;
    double dash = 0.0; // on and off lengths of a dashed line; 0 draws it whole
};

enum class MarkShape { Cross, Diamond, Circle };

struct Mark {
    double x, y;
    double size; // across
    MarkShape shape;
    Colour colour;
};

enum class Anchor { Start, Middle, End };

struct Label {
    double x, y; // of the baseline
    std::string text;
    double size; // pixels
    Anchor anchor = Anchor::Middle;
    Colour colour;
};

struct DrawingItem {
    std::variant<Box, Stroke, Mark, Label> shape;
    std::string hint;                      // shown on hover; empty for none
    std::optional<std::size_t> reportLine; // a click leads to this line of the report
};

struct TimelineDrawing {
    double width = 0;
    double height = 0;
    std::string title;
    std::vector<DrawingItem> items;
};

// Seconds east of UTC of the local time at an instant.
using UtcOffset = std::function<long(Date)>;

// The facts drawn `width` pixels wide and `height` high, with hour ticks in the
// local time that `offset` gives.
TimelineDrawing drawTimeline(const TimelineFacts& facts, double width, double height, const UtcOffset& offset);

// The topmost item with a hint or a report line under a point, allowing a few
// pixels around small shapes; nothing when there is none.
const DrawingItem* itemAt(const TimelineDrawing& drawing, double x, double y);

} // namespace quillfen
