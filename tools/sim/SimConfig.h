#pragma once
// The station list of the simulator, read from a small text file. One station block per line:
//
//   ADDRESS BLOCK TYPE [OPTION]...
//
// ADDRESS 1..247, BLOCK 0 or 20 (the first register of the 8 the station serves), TYPE a
// measurement type number 0..15 or its name (resistivity, conductivity, ph, orp, oxygen, flow,
// chlorine, c_tor, nacl, naoh, hcl, h2so4, turbidity, r_627, 381, 452). '#' starts a comment.
// OPTIONs are described in tools/README.md.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct Faults {
    bool silent = false;
    int lateMs = 0;             // reply this much later than usual
    bool badCrc = false;        // last CRC byte altered
    int exception = 0;          // exception code to answer with (0: none)
    int noise = 0;              // random bytes sent before the reply
    int truncate = -1;          // send only this many bytes of the reply (-1: all)
    int wrongAddress = -1;      // reply as this station address (-1: own)
    double probability = 1.0;   // share of requests the faults apply to

    bool any() const
    {
        return silent || lateMs > 0 || badCrc || exception != 0 || noise > 0 || truncate >= 0 || wrongAddress >= 0;
    }
};

struct StationConfig {
    int address = 1;
    int block = 0;
    int type = 0;
    std::optional<std::array<uint16_t, 8>> registers; // fixed registers, as given
    std::optional<int> code, value, temperature, second;
    std::optional<uint32_t> total1, total2;
    bool vary = true;
    int delayMs = 0; // usual time before the reply
    Faults faults;
    int line = 0;
};

struct SimConfig {
    std::vector<StationConfig> stations;
};

// Parses the text of a configuration file. On error returns nothing and sets `error` to a
// message naming the line.
std::optional<SimConfig> parseConfig(const std::string& text, std::string& error);

// The type number of a name or number; -1 when unknown.
int typeFromName(const std::string& name);

} // namespace sim
