#pragma once
// The extraction window's layout in twips: left, top, width, height, relative to the container.

#include <array>
#include <string_view>

namespace logger {

struct TwipsPlace {
    std::string_view name;
    std::string_view container; // empty: the window itself
    int left;
    int top;
    int width;
    int height;
};

inline constexpr int kExtractionClientWidth = 9075;
inline constexpr int kExtractionClientHeight = 4665;

inline constexpr std::array<TwipsPlace, 11> kExtractionLayout{{
    {"Frame2", "", 120, 180, 5355, 3375},
    {"Frame1", "Frame2", 180, 300, 4995, 2235},
    {"File1", "Frame1", 180, 280, 1995, 1845},
    {"Drive1", "Frame1", 2280, 300, 2475, 315},
    {"Dir1", "Frame1", 2280, 660, 2475, 1440},
    {"Command1", "Frame2", 180, 2820, 1335, 435},
    {"Command3", "Frame2", 3540, 2820, 1335, 435},
    {"Label2", "", 5640, 480, 3135, 675},
    // The share of the file done, right under the progress text.
    {"ProgressBar1", "", 5640, 1215, 3135, 255},
    {"Lgfichier", "", 6180, 2640, 2655, 375},
    {"Command2", "", 7020, 4080, 1395, 435},
}};

} // namespace logger
