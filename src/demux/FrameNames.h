// Short names of the stream format and codec numbers of MediaFrame, for people (kevractl probe,
// logs). Constant tables only: any thread may call these functions.
#pragma once
#include "demux/MediaFrame.h"

namespace kevra {

// "kxav", "program-stream", ...; "none" for 0, "unknown" for a number that is no format.
const char* streamFormatName(StreamFormat format);
// Video: "mpeg4", "h264", "declared-1fe" ("unknown" for other numbers); audio: "audio" (the
// numbers are the recorder's own); other records: "none".
const char* codecName(int kind, int codec);

}   // namespace kevra
