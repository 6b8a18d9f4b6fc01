#pragma once
#include <mutex>

// Process-wide lock around every codec open and close and every
// stream-information probe: those calls share state inside the libraries.
std::mutex& CodecLock();
