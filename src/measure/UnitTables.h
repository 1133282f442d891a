#pragma once
// The unit texts of the stations that send their unit in the code byte. The key is the code
// byte AND 0xF0; an empty result means the table has no entry and the unit stays as it was.

#include <QString>

#include <cstdint>
#include <optional>

namespace measure {

std::optional<QString> turbidityUnit(uint8_t codeByte);
std::optional<QString> model381Unit(uint8_t codeByte);
std::optional<QString> model452Unit(uint8_t codeByte);

} // namespace measure
