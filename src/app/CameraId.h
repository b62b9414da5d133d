// Names one camera of the viewer: the recorder it belongs to and its channel there. A plain
// value, ordered so it can key a table; any thread.
#pragma once
#include <compare>

namespace kevra {

struct CameraId {
    int recorder = 0;   // which recorder (the viewer has one: always 0)
    int channel = -1;   // the recorder's channel, -1 for none

    bool valid() const { return channel >= 0; }
    bool operator==(const CameraId&) const = default;
    auto operator<=>(const CameraId&) const = default;
};

}   // namespace kevra
