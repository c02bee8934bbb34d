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

void Stepper::setStringValue(std::string_view text)
{
    setIntegerValue(scanInteger(text));
}

} // namespace quillfen
