// Multi-camera view controller: runs the streams of the tiles shown in a grid of 4, 9 or 16
// tiles and hands their pictures to the tiles' drawing target. Owned by the main window.
// Every operation runs on the user-interface thread except tick(), which runs on the
// frame-timer thread.
//
// How it works:
// - TileGrid (the model) says which channel each shown position holds and answers every change
//   with the channels to stop and to open. GridView keeps one stream per open channel, keyed by
//   channel rather than by position, so tiles that swap cameras keep their streams. A stream is
//   a LiveViewDevice over the device client: its own DecoderWorker (input queue and frame list
//   bounded as in the one-camera view) and its own media sink. Stopping a channel stops it at the
//   recorder and ends its decoding before the stream object goes.
// - One frame timer drives all streams. Each tick polls every shown stream once
//   (pictureQuery), applies the one-camera view's buffering rule per stream and keeps a state
//   per stream: opening, buffering, playing, open error, stopped. A state change is posted to
//   the user-interface thread, which draws it in the tile with the camera's name. The period is
//   that of the fastest stream (1000 / frame rate, as in the one-camera view).
// - Drawing: the decoder converts each picture once, at its own size, into its picture buffer.
//   The tile's drawing target scales it from there straight into a picture of the tile's content
//   size (one pass that reads the full picture and writes the small one), and painting copies
//   that small picture unscaled. No full-size copy is made, the full picture is read once per
//   shown picture, and a hidden tile's pictures are not scaled at all.
// - The stream table changes only while the timer is paused (cancel, change, start), so tick()
//   reads it without a lock; per-stream states are atomics.
// - Grids are never turned; the quarter turn on portrait screens belongs to the one-tile view.
// - Connection loss stops every stream and keeps the model, so the login that follows reopens
//   the same tiles.
#pragma once
