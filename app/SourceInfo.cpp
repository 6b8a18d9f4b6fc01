#include "app/SourceInfo.h"

#include "engine/probe/AVProbe.h"

TSourceInfo SourceInfoFromProbe(TAVProbe& probe) {
  TSourceInfo info;
  if (!probe.Context()) return info;
  info.HasVideo = probe.VideoStreamCount() > 0;
  info.HasAudio = probe.AudioStreamCount() > 0;

  TFormatInfo format;
  probe.GetFormatInfo(format);
  if (format.Duration > 0 && format.Duration != AV_NOPTS_VALUE) info.DurationMs = format.Duration / 1000;

  if (!info.HasVideo) return info;
  TVideoStreamInfo video;
  probe.GetVideoStreamInfo(probe.FirstVideoStream(), video);
  info.VideoBitRate = video.BitRate > 0 ? video.BitRate : -1;
  const TBitmap& picture = probe.GetLastPicture();
  if (!picture.Empty()) {
    info.Width = picture.Width();
    info.Height = picture.Height();
  } else if (video.Width > 0 && video.Height > 0) {
    info.Width = video.Width;
    info.Height = video.Height;
  }
  return info;
}
