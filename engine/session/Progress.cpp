// Progress of a running transcode: the periodic report (values to the
// progress handler, or a text line to the log), the final byte summary, the
// per-picture statistics file and the process-wide quantiser histogram.
#include <cmath>

#include "engine/binding/MediaLibraries.h"
#include "engine/binding/MyUtils.h"
#include "engine/session/CustomFFmpeg.h"

std::array<std::atomic<int>, 52> TCustomFFmpeg::QpHistogram{};

namespace {

double Real(AVRational r) { return r.den != 0 ? static_cast<double>(r.num) / r.den : 0.0; }

// PSNR of a mean squared error ratio.
double Psnr(double ratio) { return -10.0 * std::log(ratio) / std::log(10.0); }

// Quality of an output stream's last coded picture as a quantiser; -1 for a
// copied stream.
float CodedQuantiser(const TOutputStreamState& ost) {
  if (!ost.EncodingNeeded) return -1.0f;
  return static_cast<float>(ost.Coded.Quality) / FF_QP2LAMBDA;
}

}  // namespace

void TCustomFFmpeg::ReportProgress(bool finalReport) {
  if (!runTables_ || OutputFileCount == 0) return;
  AVIOContext* io = OutputFiles[0]->pb;
  int64_t size = 0;
  if (io) {
    size = FF.avio_size(io);
    if (size < 0) size = FF.avio_seek(io, 0, SEEK_CUR);
    if (size < 0) size = 0;
  }

  std::string line;
  double time = 1e10;
  int frameNumber = -1;
  int fps = -1;
  float quality = -1.0f;
  bool firstVideoSeen = false;
  for (const TOutputStreamState& ost : runTables_->OutputStreams) {
    const AVCodecContext* enc = ost.Encoder;
    if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
      const float streamQuality = CodedQuantiser(ost);
      if (firstVideoSeen) {
        line += FormatText("q=%2.1f ", streamQuality);
      } else {
        firstVideoSeen = true;
        const float elapsed = static_cast<float>(FF.av_gettime_relative() - TimerStart) / 1000000.0f;
        frameNumber = ost.FrameNumber;
        // Nothing to tell before the first picture, not even at the end.
        if (frameNumber < 1) return;
        fps = elapsed > 1 ? static_cast<int>(frameNumber / elapsed + 0.5f) : 0;
        quality = streamQuality;
        line += FormatText("frame=%5d fps=%3d q=%3.1f ", frameNumber, fps, quality);
        if (finalReport) line += "L";
        if (QpHist) {
          const int qp = static_cast<int>(std::lrint(static_cast<double>(ost.Coded.Quality) / FF_QP2LAMBDA));
          if (ost.Coded.Known && qp >= 0 && qp < static_cast<int>(QpHistogram.size())) ++QpHistogram[qp];
          for (int j = 0; j < 32; ++j)
            line += FormatText("%X", static_cast<int>(std::lrint(std::log2(QpHistogram[j].load() + 1.0))));
        }
        if (ost.EncodingNeeded && (enc->flags & AV_CODEC_FLAG_PSNR)) {
          double errorSum = 0, scaleSum = 0;
          line += "PSNR=";
          for (int j = 0; j < 3; ++j) {
            double error, scale;
            if (finalReport) {
              error = static_cast<double>(enc->error[j]);
              scale = static_cast<double>(enc->width) * enc->height * 255.0 * 255.0 * frameNumber;
            } else {
              error = static_cast<double>(ost.Coded.Error[j]);
              scale = static_cast<double>(enc->width) * enc->height * 255.0 * 255.0;
            }
            if (j > 0) scale /= 4;
            errorSum += error;
            scaleSum += scale;
            line += FormatText("%c:%2.2f ", "YUV"[j], Psnr(error / scale));
          }
          line += FormatText("*:%2.2f ", Psnr(errorSum / scaleSum));
        }
      }
    }
    if (ost.MuxTimestamp != AV_NOPTS_VALUE) {
      const double position = static_cast<double>(ost.MuxTimestamp) * Real(ost.Stream->time_base);
      if (position > 0 && position < time) time = position;
    }
  }
  // No stream has written anything yet: no time has passed in the output.
  if (time >= 1e10) time = 0;
  if (time < 0.01) time = 0.01;

  if (ProgressHandler || Verbose > 0 || finalReport) {
    const double bitRate = static_cast<double>(size) * 8 / time / 1000;
    line += FormatText("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", static_cast<double>(size) / 1024, time,
                       bitRate);
    if (Verbose > 1) line += FormatText(" dup=%d drop=%d", DupFrames, DropFrames);
    if (ProgressHandler) {
      ProgressHandler(*this, frameNumber, fps, static_cast<int>(std::trunc(time * 1000)), quality,
                      static_cast<float>(bitRate), size, static_cast<int>(TotalDuration));
    } else if (Verbose >= 0 && LogHandler) {
      Log(1, "%s", line.c_str());
    }
  }

  if (finalReport && Verbose >= 0 && LogHandler) {
    const int64_t raw = VideoBytes + AudioBytes + HeaderBytes;
    const double video = static_cast<double>(VideoBytes) / 1024;
    const double audio = static_cast<double>(AudioBytes) / 1024;
    const double headers = static_cast<double>(HeaderBytes) / 1024;
    if (raw > 0)
      Log(1, "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n", video, audio, headers,
          100.0 * static_cast<double>(size - raw) / static_cast<double>(raw));
    else
      // Nothing counted (no packet, or only subtitles): there is no base to
      // measure the overhead against.
      Log(1, "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead unknown\r\n", video, audio,
          headers);
  }
}

void TCustomFFmpeg::WriteVideoStats(AVFormatContext*, TOutputStreamState& ost, int frameSize) {
  if (!VStatsFile) {
    VStatsFile = fopen(VStatsFileName.c_str(), "w");
    if (!VStatsFile) throw FFMpegException("fopen fail: " + VStatsFileName);
  }
  const AVCodecContext* enc = ost.Encoder;
  if (enc->codec_type != AVMEDIA_TYPE_VIDEO) return;
  fprintf(VStatsFile, "frame= %5d q= %2.1f ", ost.FrameNumber, static_cast<double>(ost.Coded.Quality) / FF_QP2LAMBDA);
  if (enc->flags & AV_CODEC_FLAG_PSNR)
    fprintf(VStatsFile, "PSNR= %6.2f ",
            Psnr(static_cast<double>(ost.Coded.Error[0]) / (static_cast<double>(enc->width) * enc->height * 255.0 * 255.0)));
  fprintf(VStatsFile, "f_size= %6d ", frameSize);
  double time = static_cast<double>(ost.SyncPosition) * Real(enc->time_base);
  if (time < 0.01) time = 0.01;
  const double bitRate = frameSize * 8 / Real(enc->time_base) / 1000;
  const double averageBitRate = static_cast<double>(VideoBytes) * 8 / time / 1000;
  fprintf(VStatsFile, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
          static_cast<double>(VideoBytes) / 1024, time, bitRate, averageBitRate);
  fprintf(VStatsFile, "type= %c\n", FF.av_get_picture_type_char(static_cast<AVPictureType>(ost.Coded.PictureType)));
}
