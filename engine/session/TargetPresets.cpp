// The vcd, svcd, dvd, dv and dv50 presets and the detection of the TV norm.
#include <cmath>

#include "engine/binding/MediaLibraries.h"
#include "engine/session/CustomFFmpeg.h"

namespace {

enum class TNorm { Unknown, Pal, Ntsc, Film };

// A frame rate in thousandths of a frame per second.
TNorm NormOfRate(long milliRate) {
  if (milliRate == 25000) return TNorm::Pal;
  if (milliRate == 29970 || milliRate == 23976) return TNorm::Ntsc;
  return TNorm::Unknown;
}

long MilliRate(AVRational rate) {
  return std::lround(static_cast<double>(rate.num) * 1000.0 / static_cast<double>(rate.den));
}

}  // namespace

void TCustomFFmpeg::SetTarget(const std::string& target, const std::string& normText,
                              const std::string& fallbackNorm) {
  TNorm norm = TNorm::Unknown;
  if (normText == "pal") norm = TNorm::Pal;
  if (normText == "ntsc") norm = TNorm::Ntsc;
  if (normText == "film") norm = TNorm::Film;
  if (norm == TNorm::Unknown) {
    if (FrameRate.den == 0) throw FFMpegException("frame_rate is invalid.");
    norm = NormOfRate(MilliRate(FrameRate));
    for (int i = 0; i < InputFileCount && norm == TNorm::Unknown; ++i) {
      for (unsigned j = 0; j < InputFiles[i]->nb_streams && norm == TNorm::Unknown; ++j) {
        const AVStream* stream = InputFiles[i]->streams[j];
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        AVRational rate = stream->avg_frame_rate.num != 0 ? stream->avg_frame_rate : stream->r_frame_rate;
        if (rate.num != 0 && rate.den != 0) norm = NormOfRate(MilliRate(rate));
      }
    }
    if (norm == TNorm::Unknown) {
      norm = fallbackNorm == "film" ? TNorm::Film : fallbackNorm == "ntsc" ? TNorm::Ntsc : TNorm::Pal;
    }
    if (Verbose > 0) Log(1, "Assuming %s for target.", norm == TNorm::Pal ? "PAL" : "NTSC");
  }

  const bool pal = norm == TNorm::Pal;
  const char* rate = pal ? "25" : norm == TNorm::Ntsc ? "30000/1001" : "24000/1001";
  auto assumeAspect = [&](const char* aspect) {
    if (FrameAspectRatio != 0) return;
    Log(1, "Assuming %s for aspect ratio", aspect);
    ParseOption("aspect", aspect);
  };

  if (target == "vcd") {
    ParseOption("vcodec", "mpeg1video");
    ParseOption("acodec", "mp2");
    SetForcedOutputFormat("vcd");
    ParseOption("s", pal ? "352x288" : "352x240");
    ParseOption("r", rate);
    SetGenericOption("gop", pal ? "15" : "18");
    SetGenericOption("b", "1150000");
    SetGenericOption("maxrate", "1150000");
    SetGenericOption("minrate", "1150000");
    SetGenericOption("bufsize", "327680");
    SetGenericOption("ab", "224000");
    AudioSampleRate = 44100;
    AudioChannels = 2;
    SetGenericOption("packetsize", "2324");
    SetGenericOption("muxrate", "1411200");
    MuxPreload = 0.44f;
    assumeAspect("4:3");
  } else if (target == "svcd") {
    ParseOption("vcodec", "mpeg2video");
    ParseOption("acodec", "mp2");
    SetForcedOutputFormat("svcd");
    ParseOption("s", pal ? "480x576" : "480x480");
    ParseOption("r", rate);
    SetGenericOption("gop", pal ? "15" : "18");
    SetGenericOption("b", "2040000");
    SetGenericOption("maxrate", "2516000");
    SetGenericOption("minrate", "0");
    SetGenericOption("bufsize", "1835008");
    SetGenericOption("flags", "+scan_offset");
    SetGenericOption("ab", "224000");
    AudioSampleRate = 44100;
    SetGenericOption("packetsize", "2324");
    if (AudioChannels == 1) AudioChannels = 2;
    assumeAspect("4:3");
  } else if (target == "dvd") {
    ParseOption("vcodec", "mpeg2video");
    ParseOption("acodec", "ac3");
    SetForcedOutputFormat("dvd");
    ParseOption("s", pal ? "720x576" : "720x480");
    ParseOption("r", rate);
    SetGenericOption("gop", pal ? "15" : "18");
    SetGenericOption("b", "6000000");
    SetGenericOption("maxrate", "9000000");
    SetGenericOption("minrate", "0");
    SetGenericOption("bufsize", "1835008");
    SetGenericOption("packetsize", "2048");
    SetGenericOption("muxrate", "10080000");
    SetGenericOption("ab", "448000");
    AudioSampleRate = 48000;
    if (AudioChannels == 1) AudioChannels = 2;
    assumeAspect("16:9");
  } else if (target == "dv" || target == "dv50") {
    SetForcedOutputFormat("dv");
    ParseOption("s", pal ? "720x576" : "720x480");
    ParseOption("pix_fmt", target == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
    ParseOption("r", rate);
    AudioSampleRate = 48000;
    AudioChannels = 2;
  } else {
    throw FFMpegException("Unknown target type");
  }
}
