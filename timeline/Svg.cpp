#include "timeline/Svg.h"

#include "platform/Utf8.h"

#include <cstdio>
#include <set>

namespace quillfen {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

std::string number(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    std::string text = buffer;
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.')
        text.pop_back();
    return text == "-0" ? "0" : text;
}

std::string hex(std::uint32_t rgb)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "#%06x", static_cast<unsigned>(rgb & 0xFFFFFF));
    return buffer;
}

std::string paint(std::string_view property, const Colour& colour)
{
    std::string text = std::string(property) + "=\"" + hex(colour.rgb) + "\"";
    if (colour.opacity < 1)
        text.append(" ").append(property).append("-opacity=\"").append(number(colour.opacity)).append("\"");
    return text;
}

std::string hatchId(const Colour& colour)
{
    return "hatch-" + hex(colour.rgb).substr(1);
}

// An element's name and its attributes.
struct Element {
    std::string_view name;
    std::string attributes;
};

Element element(const Box& box)
{
    const std::string fill = box.fill == Fill::Hatched
                                 ? "fill=\"url(#" + hatchId(box.colour) + ")\" " + paint("stroke", box.colour)
                                 : paint("fill", box.colour);
    return {"rect", "x=\"" + number(box.x) + "\" y=\"" + number(box.y) + "\" width=\"" + number(box.width) +
                        "\" height=\"" + number(box.height) + "\" " + fill};
}

Element element(const Stroke& stroke)
{
    std::string text = "x1=\"" + number(stroke.x1) + "\" y1=\"" + number(stroke.y1) + "\" x2=\"" + number(stroke.x2) +
                       "\" y2=\"" + number(stroke.y2) + "\" " + paint("stroke", stroke.colour) + " stroke-width=\"" +
                       number(stroke.width) + "\"";
    if (stroke.dash > 0)
        text += " stroke-dasharray=\"" + number(stroke.dash) + "\"";
    return {"line", text};
}

Element element(const Mark& mark)
{
    const double h = mark.size / 2;
    const std::string x = number(mark.x);
    const std::string y = number(mark.y);
    switch (mark.shape) {
    case MarkShape::Cross:
        return {"path", "d=\"M" + number(mark.x - h) + " " + number(mark.y - h) + "L" + number(mark.x + h) + " " +
                            number(mark.y + h) + "M" + number(mark.x - h) + " " + number(mark.y + h) + "L" +
                            number(mark.x + h) + " " + number(mark.y - h) + "\" " + paint("stroke", mark.colour) +
                            " stroke-width=\"2.5\" stroke-linecap=\"round\""};
    case MarkShape::Diamond:
        return {"polygon", "points=\"" + x + "," + number(mark.y - h) + " " + number(mark.x + h) + "," + y + " " + x +
                               "," + number(mark.y + h) + " " + number(mark.x - h) + "," + y + "\" " +
                               paint("fill", mark.colour)};
    case MarkShape::Circle:
        break;
    }
    return {"circle", "cx=\"" + x + "\" cy=\"" + y + "\" r=\"" + number(h) + "\" fill=\"#ffffff\" " +
                          paint("stroke", mark.colour) + " stroke-width=\"2\""};
}

Element element(const Label& label)
{
    const char* anchor = label.anchor == Anchor::Start ? "start" : label.anchor == Anchor::End ? "end" : "middle";
    return {"text", "x=\"" + number(label.x) + "\" y=\"" + number(label.y) + "\" font-size=\"" + number(label.size) +
                        "\" text-anchor=\"" + anchor + "\" " + paint("fill", label.colour)};
}

std::string hatchPattern(const Colour& colour)
{
    return "<pattern id=\"" + hatchId(colour) +
           "\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" patternTransform=\"rotate(45)\">"
           "<rect width=\"6\" height=\"6\" fill=\"#ffffff\"/><rect width=\"3\" height=\"6\" " +
           paint("fill", colour) + "/></pattern>";
}

} // namespace

std::string xmlEscaped(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = decodeUtf8(text).length;
        const char c = text.front();
        if (length == 0 ||
            (length == 1 && static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')) {
            escaped += kReplacement;
            text.remove_prefix(1);
            continue;
        }
        const std::string_view character = text.substr(0, length);
        // U+FFFE and U+FFFF are not XML characters either.
        if (character == "\xEF\xBF\xBE" || character == "\xEF\xBF\xBF")
            escaped += kReplacement;
        else if (c == '&')
            escaped += "&amp;";
        else if (c == '<')
            escaped += "&lt;";
        else if (c == '>')
            escaped += "&gt;";
        else if (c == '"')
            escaped += "&quot;";
        else if (c == '\'')
            escaped += "&apos;";
        else
            escaped += character;
        text.remove_prefix(length);
    }
    return escaped;
}

std::string timelineSvg(const TimelineDrawing& drawing)
{
    const std::string width = number(drawing.width);
    const std::string height = number(drawing.height);
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
                      width + "\" height=\"" + height + "\" viewBox=\"0 0 " + width + " " + height +
                      "\" font-family=\"sans-serif\">\n<title>" + xmlEscaped(drawing.title) + "</title>\n";

    std::set<std::uint32_t> hatched;
    for (const DrawingItem& item : drawing.items)
        if (const auto* box = std::get_if<Box>(&item.shape); box && box->fill == Fill::Hatched)
            hatched.insert(box->colour.rgb);
    if (!hatched.empty()) {
        svg += "<defs>";
        for (std::uint32_t rgb : hatched)
            svg += hatchPattern(Colour{rgb});
        svg += "</defs>\n";
    }
    svg += "<rect width=\"" + width + "\" height=\"" + height + "\" fill=\"#ffffff\"/>\n";

    for (const DrawingItem& item : drawing.items) {
        const Element shape = std::visit([](const auto& each) { return element(each); }, item.shape);
        svg.append("<").append(shape.name).append(" ").append(shape.attributes);
        const auto* label = std::get_if<Label>(&item.shape);
        if (!label && item.hint.empty()) {
            svg += "/>\n";
            continue;
        }
        svg += ">";
        if (!item.hint.empty())
            svg += "<title>" + xmlEscaped(item.hint) + "</title>";
        if (label)
            svg += xmlEscaped(label->text);
        svg += "</" + std::string(shape.name) + ">\n";
    }
    return svg + "</svg>\n";
}

} // namespace quillfen
