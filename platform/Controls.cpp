#include "platform/Controls.h"

#include "platform/IntegerText.h"

#include <string>

namespace quillfen {

std::int64_t TextField::integerValue() const
{
    return scanInteger(text());
}

void TextField::setIntegerValue(std::int64_t value)
{
    setText(std::to_string(value));
}

std::uint32_t systemColourRgb(SystemColour colour)
{
    switch (colour) {
    case SystemColour::Red:
        return 0xFF3B30;
    case SystemColour::Orange:
        return 0xFF9500;
    case SystemColour::Green:
        return 0x34C759;
    case SystemColour::Grey:
        break;
    }
    return 0x8E8E93;
}

void Stepper::setStringValue(std::string_view text)
{
    setIntegerValue(scanInteger(text));
}

} // namespace quillfen
