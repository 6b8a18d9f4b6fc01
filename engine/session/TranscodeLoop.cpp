// The transcode's main loop: choice of the next input, reading, timestamp
// correction, decoding, stream copy, the end-of-stream flush and the way of
// every output packet through the bitstream filters into the muxer.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>

#include "engine/binding/CodecLock.h"
#include "engine/binding/EngineLog.h"
#include "engine/binding/MediaLibraries.h"
#include "engine/binding/MyUtils.h"
#include "engine/binding/OpenError.h"
#include "engine/session/CustomFFmpeg.h"

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};

double Real(AVRational r) { return r.den != 0 ? static_cast<double>(r.num) / r.den : 0.0; }

// Nearest integer, halves to the even neighbour.
int64_t RoundHalfEven(double value) { return static_cast<int64_t>(std::nearbyint(value)); }

// Wall time spent inside one codec call, added up only when a benchmark
// asks for it.
class TCodecTimer {
public:
  TCodecTimer(bool measure, int64_t& total) : total_(measure ? &total : nullptr) {
    if (total_) start_ = std::chrono::steady_clock::now();
  }
  ~TCodecTimer() {
    if (!total_) return;
    const auto spent = std::chrono::steady_clock::now() - start_;
    *total_ += std::chrono::duration_cast<std::chrono::nanoseconds>(spent).count();
  }
  TCodecTimer(const TCodecTimer&) = delete;
  TCodecTimer& operator=(const TCodecTimer&) = delete;

private:
  int64_t* total_;
  std::chrono::steady_clock::time_point start_;
};

uint64_t ReadLittleEndian(const uint8_t* bytes, int count) {
  uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

// The clock of an output stream in seconds: encoded video counts its frames
// in the encoder's time base; every other stream, copied video included, is
// as far as the packets handed to the muxer reach.
double OutputClock(const TOutputStreamState& ost) {
  if (ost.EncodingNeeded && ost.Encoder->codec_type == AVMEDIA_TYPE_VIDEO)
    return static_cast<double>(ost.SyncPosition) * Real(ost.Encoder->time_base);
  if (ost.MuxTimestamp == AV_NOPTS_VALUE) return 0.0;
  return static_cast<double>(ost.MuxTimestamp) * Real(ost.Stream->time_base);
}

}  // namespace

double TCustomFFmpeg::SyncInputSeconds(const TOutputStreamState& ost) const {
  return static_cast<double>(ost.SyncStream->Pts - StartTime) / 1000000.0;
}

void TCustomFFmpeg::RunTranscode() {
  CompletedNormally = false;
  VideoBytes = AudioBytes = HeaderBytes = 0;
  DupFrames = DropFrames = 0;
  HookFrameCount = 0;
  HookAction = haContinue;
  HookRangeIndex = 0;
  CodecTimeNs = 0;
  FreeRunTables();
  runTables_ = std::make_unique<TRunTables>();
  // The tables go on every way out, a failure included.
  struct TReleaseTables {
    TCustomFFmpeg* Session;
    ~TReleaseTables() { Session->FreeRunTables(); }
  } releaseTables{this};
  TRunTables& tables = *runTables_;
  tables.ReadPacket.reset(FF.av_packet_alloc());
  tables.CopyPacket.reset(FF.av_packet_alloc());
  if (!tables.ReadPacket || !tables.CopyPacket) throw FFMpegException("av_mallocz fail");

  SetUpTranscode(tables);
  RunMainLoop(tables);

  for (size_t i = 0; i < tables.InputStreams.size(); ++i) {
    TInputStreamState& ist = tables.InputStreams[i];
    if (ist.DecodingNeeded) ProcessInputPacket(ist, static_cast<int>(i), nullptr);
  }
  for (int k = 0; k < OutputFileCount; ++k) FF.av_write_trailer(OutputFiles[k]);
  ReportProgress(true);

  for (TOutputStreamState& ost : tables.OutputStreams) {
    if (!ost.EncodingNeeded) continue;
    FF.av_freep(&ost.Encoder->stats_in);
    std::lock_guard<std::mutex> guard(CodecLock());
    FF.avcodec_close(ost.Encoder);
    OpenEncoders.remove(ost.Encoder);
  }
  for (TInputStreamState& ist : tables.InputStreams) {
    if (!ist.DecodingNeeded || !ist.Decoder) continue;
    std::lock_guard<std::mutex> guard(CodecLock());
    FF.avcodec_close(ist.Decoder.get());
    OpenDecoders.remove(ist.Decoder.get());
  }
  CompletedNormally = !StopRequested;
}

void TCustomFFmpeg::RunMainLoop(TRunTables& tables) {
  int64_t lastReport = TimerStart;
  AVPacket* packet = tables.ReadPacket.get();
  while (!StopRequested) {
    // The converter's pause holds the job here; a stop opens the gate.
    if (PauseGate) PauseGate();
    if (StopRequested) break;

    // The input whose output streams are furthest behind.
    double iptsMin = 1e100, optsMin = 1e100;
    int fileIndex = -1;
    for (const TOutputStreamState& ost : tables.OutputStreams) {
      const TInputStreamState& ist = tables.InputStreams[ost.SourceIndex];
      const double opts = OutputClock(ost);
      const double ipts = static_cast<double>(ist.Pts);
      if (!tables.InputFiles[ist.FileIndex].EofReached) {
        if (ipts < iptsMin) {
          iptsMin = ipts;
          if (InputSync) fileIndex = ist.FileIndex;
        }
        if (opts < optsMin) {
          optsMin = opts;
          if (!InputSync) fileIndex = ist.FileIndex;
        }
      }
      const int type = ost.Encoder->codec_type;
      if (type >= 0 && type < static_cast<int>(MaxFrames.size()) && ost.FrameNumber >= MaxFrames[type]) {
        fileIndex = -1;
        break;
      }
    }
    if (fileIndex < 0) break;
    if (optsMin >= static_cast<double>(RecordingTime) / 1000000.0) break;
    if (LimitFileSize != 0 && OutputFiles[0]->pb && FF.avio_seek(OutputFiles[0]->pb, 0, SEEK_CUR) > LimitFileSize)
      break;

    TInputFileState& file = tables.InputFiles[fileIndex];
    if (FF.av_read_frame(InputFiles[fileIndex], packet) < 0) {
      file.EofReached = true;
      if (Shortest) break;
      continue;
    }
    if (DoPktDump && packet->stream_index < file.StreamCount)
      FF.av_pkt_dump_log2(nullptr, LibraryLogLevel(2), packet, DoHexDump,
                          InputFiles[fileIndex]->streams[packet->stream_index]);

    if (packet->stream_index < file.StreamCount && !tables.InputStreams[file.FirstStream + packet->stream_index].Discard) {
      const int istIndex = file.FirstStream + packet->stream_index;
      TInputStreamState& ist = tables.InputStreams[istIndex];
      const AVRational timeBase = ist.Stream->time_base;
      if (packet->dts != AV_NOPTS_VALUE) packet->dts += FF.av_rescale_q(InputTsOffsets[fileIndex], kMicroseconds, timeBase);
      if (packet->pts != AV_NOPTS_VALUE) packet->pts += FF.av_rescale_q(InputTsOffsets[fileIndex], kMicroseconds, timeBase);
      const double scale = packet->stream_index < MaxStreams ? InputTsScales[fileIndex][packet->stream_index] : 0.0;
      if (scale != 0.0) {
        if (packet->pts != AV_NOPTS_VALUE) packet->pts = RoundHalfEven(static_cast<double>(packet->pts) * scale);
        if (packet->dts != AV_NOPTS_VALUE) packet->dts = RoundHalfEven(static_cast<double>(packet->dts) * scale);
      }

      // A jump of the timestamps (forward beyond the threshold, or back
      // behind the stream's clock) is absorbed into the file's offset.
      if (packet->dts != AV_NOPTS_VALUE && ist.NextPts != AV_NOPTS_VALUE) {
        const int64_t packetDts = FF.av_rescale_q(packet->dts, timeBase, kMicroseconds);
        const int64_t delta = packetDts - ist.NextPts;
        if ((std::fabs(static_cast<double>(delta)) > static_cast<double>(DtsDeltaThreshold) * 1000000.0 ||
             packetDts + 1 < ist.Pts) &&
            !CopyTs) {
          InputTsOffsets[fileIndex] -= delta;
          if (Verbose > 2)
            Log(1, "timestamp discontinuity %" PRId64 ", new offset= %" PRId64, delta, InputTsOffsets[fileIndex]);
          const int64_t shift = FF.av_rescale_q(delta, kMicroseconds, timeBase);
          packet->dts -= shift;
          if (packet->pts != AV_NOPTS_VALUE) packet->pts -= shift;
        }
      }

      if (ProcessInputPacket(ist, istIndex, packet) < 0) {
        const std::string message =
            FormatText("Error while decoding stream #%d.%d", ist.FileIndex, ist.StreamIndex);
        FF.av_packet_unref(packet);
        if (ExitOnError) throw FFMpegException(message);
        if (Verbose >= 0) Log(1, "%s", message.c_str());
        continue;
      }
    }
    FF.av_packet_unref(packet);

    const int64_t now = FF.av_gettime_relative();
    if (now - lastReport > ProgressIntervalUs) {
      lastReport = now;
      ReportProgress(false);
    }
  }
}

void TCustomFFmpeg::ThrottleToNativeRate(TInputStreamState& ist) {
  if (!ist.RateEmu) return;
  // Reading waits until the wall clock reaches the stream time of the unit.
  if (ist.RatePtsStart == AV_NOPTS_VALUE) ist.RatePtsStart = ist.Pts;
  const int64_t target = ist.Pts - ist.RatePtsStart;
  const int64_t elapsed = FF.av_gettime_relative() - ist.RateStart;
  if (target - elapsed > 50000 && !StopRequested)
    std::this_thread::sleep_for(std::chrono::milliseconds((target - elapsed) / 1000));
  ++ist.RateFrames;
}

int TCustomFFmpeg::ProcessInputPacket(TInputStreamState& ist, int istIndex, const AVPacket* packet) {
  if (ist.NextPts == AV_NOPTS_VALUE) ist.NextPts = ist.Pts;
  if (packet && packet->dts != AV_NOPTS_VALUE)
    ist.NextPts = ist.Pts = FF.av_rescale_q(packet->dts, ist.Stream->time_base, kMicroseconds);

  TRunTables& tables = *runTables_;
  // Copied output streams take the packet once, whatever the decoder makes
  // of it.
  auto copyPacket = [&] {
    if (!packet || (StartTime != 0 && ist.Pts < StartTime)) return;
    for (TOutputStreamState& ost : tables.OutputStreams)
      if (ost.SourceIndex == istIndex && !ost.EncodingNeeded)
        CopyPacket(OutputFiles[ost.FileIndex], ost, ist, packet);
  };

  if (!ist.DecodingNeeded) {
    if (!packet) return 0;
    ist.Pts = ist.NextPts;
    const AVCodecParameters* parameters = ist.Stream->codecpar;
    if (parameters->codec_type == AVMEDIA_TYPE_AUDIO && parameters->sample_rate > 0)
      ist.NextPts += 1000000LL * parameters->frame_size / parameters->sample_rate;
    if (parameters->codec_type == AVMEDIA_TYPE_VIDEO && ist.CodecTimeBase.num != 0)
      ist.NextPts += 1000000LL * ist.CodecTimeBase.num / ist.CodecTimeBase.den;
    ThrottleToNativeRate(ist);
    copyPacket();
    return 0;
  }

  AVCodecContext* dec = ist.Decoder.get();
  copyPacket();
  if (dec->codec_type == AVMEDIA_TYPE_AUDIO || dec->codec_type == AVMEDIA_TYPE_VIDEO)
    return DecodeAudioVideo(ist, istIndex, packet);
  if (dec->codec_type != AVMEDIA_TYPE_SUBTITLE) return -1;
  if (!packet) {
    // Subtitle decoders hold nothing back; an encoder may still hold a
    // packet for its time.
    for (TOutputStreamState& ost : tables.OutputStreams)
      if (ost.SourceIndex == istIndex && ost.EncodingNeeded) FlushEncoder(OutputFiles[ost.FileIndex], ost);
    return 0;
  }
  AVSubtitle subtitle{};
  int gotSubtitle = 0;
  if (FF.avcodec_decode_subtitle2(dec, &subtitle, &gotSubtitle, const_cast<AVPacket*>(packet)) < 0) return -1;
  if (!gotSubtitle) return 0;
  ist.Pts = ist.NextPts;
  if (StartTime == 0 || ist.Pts >= StartTime) {
    try {
      for (TOutputStreamState& ost : tables.OutputStreams)
        if (ost.SourceIndex == istIndex && ost.EncodingNeeded)
          OutputSubtitle(OutputFiles[ost.FileIndex], ost, ist, &subtitle, packet->pts);
    } catch (...) {
      FF.avsubtitle_free(&subtitle);
      throw;
    }
  }
  FF.avsubtitle_free(&subtitle);
  return 0;
}

int TCustomFFmpeg::DecodeAudioVideo(TInputStreamState& ist, int istIndex, const AVPacket* packet) {
  AVCodecContext* dec = ist.Decoder.get();
  AVFrame* frame = ist.Frame.get();
  int framesOfPacket = 0;
  // Every frame the decoder has ready goes to the outputs; false when the
  // decoder reported an error.
  auto receiveFrames = [&] {
    for (;;) {
      int received;
      {
        TCodecTimer timer(MeasureCodecTime, CodecTimeNs);
        received = FF.avcodec_receive_frame(dec, frame);
      }
      if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return true;
      if (received < 0) return false;
      ++framesOfPacket;
      HandleDecodedFrame(ist, istIndex, frame, packet != nullptr, framesOfPacket);
      FF.av_frame_unref(frame);
    }
  };

  auto send = [&] {
    TCodecTimer timer(MeasureCodecTime, CodecTimeNs);
    return FF.avcodec_send_packet(dec, packet);
  };
  int sent = send();
  if (sent == AVERROR(EAGAIN)) {
    if (!receiveFrames()) return -1;
    sent = send();
  }
  if (sent < 0 && sent != AVERROR_EOF) {
    receiveFrames();
    return -1;
  }
  if (!receiveFrames()) return -1;

  if (!packet) {
    // Pictures the deinterlacer and the filter graph still hold.
    if (dec->codec_type == AVMEDIA_TYPE_VIDEO) OutputDecodedPicture(ist, istIndex, nullptr);
    for (TOutputStreamState& ost : runTables_->OutputStreams)
      if (ost.SourceIndex == istIndex && ost.EncodingNeeded) FlushEncoder(OutputFiles[ost.FileIndex], ost);
  }
  return 0;
}

void TCustomFFmpeg::HandleDecodedFrame(TInputStreamState& ist, int istIndex, AVFrame* frame, bool fromPacket,
                                       int framesOfPacket) {
  AVCodecContext* dec = ist.Decoder.get();
  TRunTables& tables = *runTables_;
  ist.Pts = ist.NextPts;
  int unitSize = 0;
  if (dec->codec_type == AVMEDIA_TYPE_AUDIO) {
    // Video decoders hand out pictures late by design (reordering, frame
    // threads); an audio decoder giving two frames means two in the packet.
    if (fromPacket && framesOfPacket > 1 && Verbose > 0)
      Log(0, "Multiple frames in a packet from stream %d", ist.StreamIndex);
    unitSize = ConvertToS16(ist, frame);
    if (unitSize <= 0) return;
    ist.NextPts += 500000LL * unitSize / (static_cast<int64_t>(ist.UnitRate) * ist.UnitChannels);
    if (AudioVolume != 256) {
      auto* samples = reinterpret_cast<int16_t*>(DecodedAudioBuffer.data());
      for (int i = 0; i < unitSize / 2; ++i) {
        int value = (samples[i] * AudioVolume + 128) >> 8;
        samples[i] = static_cast<int16_t>(value < -32768 ? -32768 : value > 32767 ? 32767 : value);
      }
    }
  } else {
    // The picture's own time: decoders with frame threads hand pictures out
    // several packets late, so the packet clock would run ahead of them.
    const int64_t best = frame->best_effort_timestamp;
    if (best != AV_NOPTS_VALUE) ist.Pts = FF.av_rescale_q(best, ist.Stream->time_base, kMicroseconds);
    ist.Quality = static_cast<float>(frame->quality);
    ist.NextPts = ist.Pts;
    if (ist.CodecTimeBase.num != 0) ist.NextPts += 1000000LL * ist.CodecTimeBase.num / ist.CodecTimeBase.den;
    ThrottleToNativeRate(ist);
    // Deinterlacer, hooks and filter graph, then the outputs.
    OutputDecodedPicture(ist, istIndex, frame);
    return;
  }
  ThrottleToNativeRate(ist);

  if (StartTime != 0 && ist.Pts < StartTime) return;
  for (TOutputStreamState& ost : tables.OutputStreams) {
    if (ost.SourceIndex != istIndex || !ost.EncodingNeeded) continue;
    AVFormatContext* os = OutputFiles[ost.FileIndex];
    if (ost.Encoder->codec_type != AVMEDIA_TYPE_AUDIO) throw FFMpegException("invalid codec_type");
    OutputAudio(os, ost, ist, DecodedAudioBuffer.data(), unitSize);
  }
}

void TCustomFFmpeg::CopyPacket(AVFormatContext* os, TOutputStreamState& ost, const TInputStreamState& ist,
                               const AVPacket* packet) {
  // A copy starts at a key frame: what comes before it cannot be decoded.
  if (ost.FrameNumber == 0 && !(packet->flags & AV_PKT_FLAG_KEY)) return;
  AVPacket* out = runTables_->CopyPacket.get();
  if (FF.av_packet_ref(out, packet) < 0) throw FFMpegException("av_mallocz fail");
  const AVMediaType type = ist.Stream->codecpar->codec_type;
  if (type == AVMEDIA_TYPE_AUDIO) AudioBytes += packet->size;
  if (type == AVMEDIA_TYPE_VIDEO) {
    VideoBytes += packet->size;
    ++ost.SyncPosition;
  }
  const AVRational from = ist.Stream->time_base;
  const AVRational to = ost.Stream->time_base;
  out->stream_index = ost.StreamIndex;
  out->pts = packet->pts != AV_NOPTS_VALUE ? FF.av_rescale_q(packet->pts, from, to) : AV_NOPTS_VALUE;
  out->dts = packet->dts == AV_NOPTS_VALUE ? FF.av_rescale_q(ist.Pts, kMicroseconds, to)
                                           : FF.av_rescale_q(packet->dts, from, to);
  out->duration = FF.av_rescale_q(packet->duration, from, to);
  WritePacket(os, out, ost);
  FF.av_packet_unref(out);
  ++ost.FrameNumber;
}

int TCustomFFmpeg::EncodeFrame(AVFormatContext* os, TOutputStreamState& ost, AVFrame* frame) {
  AVCodecContext* enc = ost.Encoder;
  const bool video = enc->codec_type == AVMEDIA_TYPE_VIDEO;
  int result;
  {
    TCodecTimer timer(MeasureCodecTime, CodecTimeNs);
    result = FF.avcodec_send_frame(enc, frame);
  }
  if (result == AVERROR_EOF && !frame) return 0;  // drained already
  auto failed = [&] {
    if (video) throw FFMpegException("Video encoding failed");
    Log(0, "Audio encoding failed");
    return 0;
  };
  if (result < 0) return failed();

  int lastSize = 0;
  AVPacket* packet = ost.Packet.get();
  auto receive = [&] {
    TCodecTimer timer(MeasureCodecTime, CodecTimeNs);
    return FF.avcodec_receive_packet(enc, packet);
  };
  while ((result = receive()) >= 0) {
    lastSize = packet->size;
    if (video) {
      VideoBytes += packet->size;
      size_t statsSize = 0;
      if (const uint8_t* stats = FF.av_packet_get_side_data(packet, AV_PKT_DATA_QUALITY_STATS, &statsSize);
          stats && statsSize >= 6) {
        ost.Coded.Known = true;
        ost.Coded.Quality = static_cast<int>(ReadLittleEndian(stats, 4));
        ost.Coded.PictureType = stats[4];
        const int errors = std::min<int>(stats[5], 4);
        for (int i = 0; i < errors && statsSize >= 8 + 8 * static_cast<size_t>(i + 1); ++i)
          ost.Coded.Error[i] = ReadLittleEndian(stats + 8 + 8 * i, 8);
      }
      if (ost.PassLogFile && enc->stats_out) fprintf(ost.PassLogFile, "%s", enc->stats_out);
      if (packet->duration == 0) packet->duration = 1;  // one frame of the encoder's time base
    } else {
      AudioBytes += packet->size;
    }
    packet->stream_index = ost.StreamIndex;
    FF.av_packet_rescale_ts(packet, enc->time_base, ost.Stream->time_base);
    WritePacket(os, packet, ost);
    FF.av_packet_unref(packet);
  }
  if (result != AVERROR(EAGAIN) && result != AVERROR_EOF) return failed();
  return lastSize;
}

void TCustomFFmpeg::WritePacket(AVFormatContext* os, AVPacket* packet, TOutputStreamState& ost) {
  FilterAndWrite(os, packet, ost, 0);
}

void TCustomFFmpeg::FilterAndWrite(AVFormatContext* os, AVPacket* packet, TOutputStreamState& ost, size_t level) {
  std::vector<BsfContextPtr>& chain = ost.Record->BitstreamContexts;
  if (level >= chain.size()) {
    MuxPacket(os, packet, ost);
    return;
  }
  AVBSFContext* filter = chain[level].get();
  auto report = [&](int code) {
    if (!LogHandler && !ExitOnError) return;
    const std::string text = FormatText("%s failed for stream %d, codec %s", filter->filter->name,
                                        packet->stream_index, ost.Record->Codec ? ost.Record->Codec->name : "copy");
    const std::string message = FormatOpenError(text, code);
    if (ExitOnError) throw FFMpegException(message);
    Log(0, "%s", message.c_str());
  };
  const int streamIndex = packet->stream_index;
  const int sent = FF.av_bsf_send_packet(filter, packet);
  if (sent < 0) {
    // The packet goes on as it was.
    report(sent);
    FilterAndWrite(os, packet, ost, level + 1);
    return;
  }
  AVPacket* filtered = ost.FilterPackets[level].get();
  int received;
  while ((received = FF.av_bsf_receive_packet(filter, filtered)) >= 0) {
    filtered->stream_index = streamIndex;
    FilterAndWrite(os, filtered, ost, level + 1);
    FF.av_packet_unref(filtered);
  }
  if (received != AVERROR(EAGAIN) && received != AVERROR_EOF) {
    packet->stream_index = streamIndex;
    report(received);
  }
}

void TCustomFFmpeg::MuxPacket(AVFormatContext* os, AVPacket* packet, TOutputStreamState& ost) {
  const int64_t start = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
  if (start != AV_NOPTS_VALUE) {
    const int64_t end = start + std::max<int64_t>(packet->duration, 0);
    if (ost.MuxTimestamp == AV_NOPTS_VALUE || end > ost.MuxTimestamp) ost.MuxTimestamp = end;
  }
  const int written = FF.av_interleaved_write_frame(os, packet);
  if (written < 0) throw FFMpegException(FormatOpenError("av_interleaved_write_frame()", written));
}
