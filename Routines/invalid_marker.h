// Invalid-sample marker: a grey value of magnitude kInvalidMagnitude or
// more holds no measurement. The input files use 1022 and 1023; the
// program writes kInvalidMarker (the pyramid smoothing also its negative)
// where a sample holds none: the padding beyond the tile, a warp target
// outside image 2, a smoothed sample that saw mostly markers.
#ifndef VELMORA_INVALID_MARKER_H
#define VELMORA_INVALID_MARKER_H

#include <string>

// Magnitude from which a sample is invalid.
constexpr double kInvalidMagnitude = 1022.0;

// The value written for a sample that holds no measurement.
constexpr double kInvalidMarker = 1023.0;

// A whole grey value (a marker, a sample bound) as the messages write it.
inline std::string grey_text(double value) { return std::to_string(static_cast<long long>(value)); }

#endif
