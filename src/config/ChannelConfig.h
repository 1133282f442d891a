#pragma once
// The configuration of one input channel.

#include "config/MeasurementTypes.h"

#include <QString>

#include <cstdint>

namespace config {

inline constexpr int kChannelCount = 4;

enum class ChannelRole { None, Master, Ext };

struct ChannelConfig {
    int16_t selected = 0;                   // check box value: 1 checked, 0 not (2 greyed)
    int16_t measurementType = TypeNone;     // list position 0..15, -1 none
    QString stationAddress;                 // as typed; readers take its numeric value
    QString tag;                            // identification shown as the channel title
    bool master = false;                    // role option, element 0
    bool ext = false;                       // role option, element 1

    ChannelRole role() const
    {
        return master ? ChannelRole::Master : ext ? ChannelRole::Ext : ChannelRole::None;
    }
    bool operator==(const ChannelConfig&) const = default;
};

} // namespace config
