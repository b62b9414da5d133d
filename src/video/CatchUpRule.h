// The low-latency rule of the decoder worker: which decoded pictures are passed over and which
// waiting frames are dropped unread, so that the picture shown stays within a frame or two of
// the newest frame received. Stateless; asked by the decoder thread about its frame list.
//
// Why these bounds:
// - A picture is shown when at most one frame waits behind it. On a steady network frames come
//   one per frame interval and the list holds none or one, so nothing is passed over; two
//   frames that arrive together (ordinary network jitter) are both shown.
// - Frames that pile up after a stall are decoded (every later picture depends on them) but
//   not converted or shown; decoding alone runs at several hundred frames per second for
//   704 x 576 and about 700 for 1920 x 1080 on one core, so a second of backlog is worked off
//   in a few tens of milliseconds.
// - When a key frame arrives behind more than one waiting frame, the frames before it would
//   only be passed over: they are dropped without decoding (the decoder restarts at the key
//   frame), which saves the work when many streams share the processor.
// - More than 1.5 s of frames waiting means decoding does not keep up at all (a 1 s stall
//   delivers 1 s of frames at once and stays below this). Then the whole list is dropped and
//   decoding restarts at the next key frame: the picture freezes for at most one key-frame
//   interval instead of staying seconds behind. The worker's own 2 s drop window, which
//   stops taking bytes, stays the outer bound in both modes.
#pragma once
#include <cstddef>

namespace kevra::CatchUpRule {

constexpr size_t kFramesBehind = 1;
constexpr int kKeyFrameWaitMs = 1500;

// A decoded picture with this many frames waiting behind it is not shown.
constexpr bool passOver(size_t framesBehind)
{
    return framesBehind > kFramesBehind;
}
// A key frame arrived with this many frames waiting before it: drop them all unread.
constexpr bool dropBeforeKey(size_t framesBefore)
{
    return framesBefore > kFramesBehind;
}
// This many frames wait at the stream's rate: drop them and wait for the next key frame.
constexpr bool waitForKey(size_t waiting, int frameRate)
{
    return frameRate > 0 &&
           waiting * 1000 > static_cast<size_t>(kKeyFrameWaitMs) * static_cast<size_t>(frameRate);
}

}   // namespace kevra::CatchUpRule
