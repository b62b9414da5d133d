// Where kevractl's snapshot and record commands put their results: the checks on the file
// names they are given and the PNG writer. Used on the main thread only.
#pragma once

#include <cstdint>
#include <string>

namespace kevra {

// True for a name ending in ".png" (any case) or without an extension at all.
bool pngName(const std::string& path);

// True for the extensions written as a playable clip (.mp4, .mkv); every other name gets the
// raw bytes.
bool isClipName(const std::string& path);

// 0 when the file can be written (created, or replaced) without trying: the folder (and an
// existing file) must be writable. Otherwise the reason (errno).
int writableError(const std::string& path);

// Writes a 32-bit bottom-up BGRA picture upright as an RGB PNG file through libavcodec; "-" is
// standard output. 0 or -1.
int writePng(const std::string& path, const uint8_t* bgra, int width, int height);

}   // namespace kevra
