#include "config/StoredTextValidator.h"

#include "common/Cp1252.h"

namespace config {

bool StoredTextValidator::storable(const QString& text)
{
    return !text.contains(QLatin1Char('"')) && common::representableInCp1252(text);
}

QValidator::State StoredTextValidator::validate(QString& input, int& /*pos*/) const
{
    return storable(input) ? Acceptable : Invalid;
}

} // namespace config
