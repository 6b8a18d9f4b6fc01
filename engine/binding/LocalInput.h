#pragma once
// Opens a user's media file as exactly one local file: the file protocol only,
// no demuxer that follows references to other files or the network, and
// limits that keep a hostile header from exhausting memory.
#include <string>

#include "engine/binding/FFmpegHeaders.h"

// Adds the safety options to an open-options dictionary (caller-owned).
void AddLocalInputOptions(AVDictionary** options);

// Decoder options that bound picture sizes; pass to avcodec_open2.
void AddDecoderLimits(AVDictionary** options);

// avformat_open_input with the safety options. *context may hold a context
// allocated beforehand; on failure it is freed and set to null. A file no
// demuxer recognises gives AVERROR_DEMUXER_NOT_FOUND rather than
// AVERROR_INVALIDDATA, so the message can tell the two apart.
int OpenLocalInput(AVFormatContext** context, const std::string& fileName, const AVInputFormat* format,
                   AVDictionary** options);
