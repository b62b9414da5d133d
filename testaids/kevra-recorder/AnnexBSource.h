// Holds a raw H.264 (Annex B) file cut into access units, for streaming it in a loop.
// Loaded once before the event loop starts; read-only afterwards (the loop thread reads it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kevra {

class AnnexBSource {
public:
    struct Frame {
        std::vector<uint8_t> bytes;   // one access unit, start codes included
        bool key = false;             // holds an IDR slice
    };

    // Reads and cuts the file (at most 512 MiB). Returns 0, or -1 when the file cannot be read
    // or holds no frame; problem() then says which, in words.
    int load(const std::string& path);
    // Cuts an in-memory stream the same way.
    int loadBytes(const uint8_t* data, size_t length);

    const std::vector<Frame>& frames() const { return frames_; }
    int width() const { return width_; }
    int height() const { return height_; }
    const std::string& problem() const { return problem_; }

private:
    std::vector<Frame> frames_;
    int width_ = 0;
    int height_ = 0;
    std::string problem_;
};

}   // namespace kevra
