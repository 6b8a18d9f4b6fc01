#include "engine/binding/LocalInput.h"

#include <cstring>

#include "engine/binding/MediaLibraries.h"

namespace {

// Demuxers that read other files by reference or reach the network.
bool IsExcludedDemuxer(const char* name) {
  static const char* const kExcluded[] = {"hls",  "applehttp", "concat", "dash", "imf",
                                          "sdp",  "rtsp",      "rtp",    "sap",  "webm_dash_manifest",
                                          "data", "srtp",      "tee"};
  for (const char* excluded : kExcluded)
    if (std::strcmp(name, excluded) == 0) return true;
  return false;
}

// Comma-separated list of every demuxer that may read a user's file. Built
// once; the demuxer list does not change while the process runs.
const std::string& AllowedDemuxers() {
  static const std::string list = [] {
    std::string names;
    void* opaque = nullptr;
    while (const AVInputFormat* format = FF.av_demuxer_iterate(&opaque)) {
      // One demuxer may answer to several comma-separated names.
      std::string all = format->name;
      size_t start = 0;
      bool excluded = false;
      while (start <= all.size()) {
        size_t end = all.find(',', start);
        if (end == std::string::npos) end = all.size();
        if (IsExcludedDemuxer(all.substr(start, end - start).c_str())) excluded = true;
        start = end + 1;
      }
      if (excluded) continue;
      if (!names.empty()) names += ',';
      names += all;
    }
    return names;
  }();
  return list;
}

// True when some demuxer recognises the file's first bytes. A low-score guess
// (the library's last resort, which trusts a file name extension alone) does
// not count as recognition.
bool AnyDemuxerRecognises(const std::string& fileName) {
  AVIOContext* io = nullptr;
  AVDictionary* ioOptions = nullptr;
  FF.av_dict_set(&ioOptions, "protocol_whitelist", "file", 0);
  const int opened = FF.avio_open2(&io, fileName.c_str(), AVIO_FLAG_READ, nullptr, &ioOptions);
  FF.av_dict_free(&ioOptions);
  if (opened < 0) return true;  // not a recognition question; keep the original error
  const AVInputFormat* format = nullptr;
  const int score = FF.av_probe_input_buffer2(io, &format, fileName.c_str(), nullptr, 0, 0);
  FF.avio_closep(&io);
  return score > AVPROBE_SCORE_RETRY && format != nullptr;
}

}  // namespace

void AddLocalInputOptions(AVDictionary** options) {
  FF.av_dict_set(options, "protocol_whitelist", "file", 0);
  FF.av_dict_set(options, "format_whitelist", AllowedDemuxers().c_str(), 0);
  FF.av_dict_set(options, "max_streams", "100", 0);
  FF.av_dict_set(options, "enable_drefs", "0", 0);
}

void AddDecoderLimits(AVDictionary** options) {
  FF.av_dict_set(options, "max_pixels", "67108864", 0);  // 8192 x 8192
}

int OpenLocalInput(AVFormatContext** context, const std::string& fileName, const AVInputFormat* format,
                   AVDictionary** options) {
  AVDictionary* local = nullptr;
  AVDictionary** dict = options ? options : &local;
  AddLocalInputOptions(dict);
  int result = FF.avformat_open_input(context, fileName.c_str(), format, dict);
  FF.av_dict_free(&local);
  if (result == AVERROR_INVALIDDATA && !format && !AnyDemuxerRecognises(fileName))
    result = AVERROR_DEMUXER_NOT_FOUND;
  return result;
}
