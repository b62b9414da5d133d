// Folders on the file system for the files the programs write (recordings, pictures, settings).
// No state; safe on any thread.
#pragma once
#include <string>
#include <sys/types.h>

namespace kevra {

// mkdir -p: every missing folder of the path is made with `mode` (an existing one is left as
// it is). True when the path is a folder afterwards.
bool makeFolders(const std::string& path, mode_t mode);

}   // namespace kevra
