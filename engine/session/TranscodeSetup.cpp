// Transcode set-up: the run tables, the choice of a source for every output
// stream, the codec parameters for stream copy and for encoding, two-pass log
// files, codecs, metadata maps, headers and the stream mapping log.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "engine/binding/CodecLock.h"
#include "engine/binding/LocalInput.h"
#include "engine/binding/MediaLibraries.h"
#include "engine/binding/MyUtils.h"
#include "engine/binding/OpenError.h"
#include "engine/session/CustomFFmpeg.h"

namespace {

double Real(AVRational r) { return r.den != 0 ? static_cast<double>(r.num) / r.den : 0.0; }

// One frame of a video stream: the inverse of its frame rate, 0/1 when the
// rate is unknown.
AVRational FrameTimeBase(const AVStream* stream) {
  AVRational rate = stream->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = stream->r_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) return AVRational{0, 1};
  return AVRational{rate.den, rate.num};
}

// Keys of the container tags a metadata map copies, with the older name the
// library may still use for the same tag.
struct TTagKey {
  const char* Key;
  const char* OtherKey;
};
constexpr TTagKey kMappedTags[] = {{"title", nullptr},  {"artist", "author"}, {"copyright", nullptr},
                                   {"comment", nullptr}, {"album", nullptr},   {"date", "year"},
                                   {"track", nullptr},   {"genre", nullptr}};

}  // namespace

void TCustomFFmpeg::FreeRunTables() {
  if (!runTables_) return;
  TRunTables& tables = *runTables_;
  tables.InputFiles.clear();
  for (TInputStreamState& ist : tables.InputStreams) {
    ist.FilterGraph.reset();
    if (ist.Decoder) {
      // A decoder cannot outlive its table: one the run left open is closed
      // here, under the lock every codec open and close takes.
      std::lock_guard<std::mutex> guard(CodecLock());
      OpenDecoders.remove(ist.Decoder.get());
      ist.Decoder.reset();
    }
  }
  tables.InputStreams.clear();
  for (TOutputStreamState& ost : tables.OutputStreams) {
    if (ost.PassLogFile) fclose(ost.PassLogFile);
    ost.PassLogFile = nullptr;
    ost.SampleFifo.reset();
    ost.Pictures.clear();
    ost.Scaler.reset();
    ost.VideoResample = false;
    ost.AudioResampler.reset();
    ost.SampleFormatConverter.reset();
  }
  tables.OutputStreams.clear();
  runTables_.reset();
}

void TCustomFFmpeg::CloseOpenEncoders() {
  std::lock_guard<std::mutex> guard(CodecLock());
  for (AVCodecContext* encoder : OpenEncoders) {
    FF.av_freep(&encoder->stats_in);
    FF.avcodec_close(encoder);
  }
  OpenEncoders.clear();
}

void TCustomFFmpeg::CloseOpenDecoders() {
  std::lock_guard<std::mutex> guard(CodecLock());
  for (AVCodecContext* decoder : OpenDecoders) FF.avcodec_close(decoder);
  OpenDecoders.clear();
}

int TCustomFFmpeg::FindProgramStream(const TRunTables& tables, AVMediaType type, int programId) {
  for (int i = 0; i < InputFileCount; ++i) {
    const AVFormatContext* input = InputFiles[i];
    for (unsigned p = 0; p < input->nb_programs; ++p) {
      const AVProgram* program = input->programs[p];
      if (program->id != programId) continue;
      for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
        const unsigned streamIndex = program->stream_index[k];
        if (streamIndex >= input->nb_streams ||
            static_cast<int>(streamIndex) >= tables.InputFiles[i].StreamCount)
          continue;
        const int candidate = tables.InputFiles[i].FirstStream + static_cast<int>(streamIndex);
        if (tables.InputStreams[candidate].Discard && input->streams[streamIndex]->codecpar->codec_type == type)
          return candidate;
      }
    }
  }
  return -1;
}

void TCustomFFmpeg::MapOutputStreams(TRunTables& tables) {
  int n = 0;
  for (int k = 0; k < OutputFileCount; ++k) {
    AVFormatContext* os = OutputFiles[k];
    TOutputFileRecord& record = outputRecords_[k];
    for (unsigned i = 0; i < os->nb_streams; ++i, ++n) {
      TOutputStreamState& ost = tables.OutputStreams[n];
      ost.FileIndex = k;
      ost.StreamIndex = static_cast<int>(i);
      ost.Stream = os->streams[i];
      ost.Record = &record.Streams.at(i);
      ost.Encoder = ost.Record->Encoder.get();
      const AVMediaType type = ost.Encoder->codec_type;

      int source = -1;
      if (StreamMapCount > 0) {
        const TStreamMap& map = StreamMaps[n];
        source = tables.InputFiles[map.FileIndex].FirstStream + map.StreamIndex;
        if (tables.InputStreams[source].Stream->codecpar->codec_type != type) {
          FF.av_dump_format(os, k, os->url, 1);
          throw FFMpegException(FormatText("Codec type mismatch for mapping #%d.%d -> #%d.%d", map.FileIndex,
                                           map.StreamIndex, k, static_cast<int>(i)));
        }
      } else {
        if (ProgramId != 0) {
          source = FindProgramStream(tables, type, ProgramId);
        } else {
          for (size_t j = 0; j < tables.InputStreams.size() && source < 0; ++j) {
            const TInputStreamState& ist = tables.InputStreams[j];
            if (ist.Discard && ist.Stream->codecpar->codec_type == type) source = static_cast<int>(j);
          }
          // No stream left: the last one of the type feeds this output too.
          for (size_t last = tables.InputStreams.size(); source < 0 && last-- > 0;)
            if (tables.InputStreams[last].Stream->codecpar->codec_type == type) source = static_cast<int>(last);
        }
        if (source < 0) {
          FF.av_dump_format(os, k, os->url, 1);
          throw FFMpegException(FormatText("Could not find input stream matching output stream #%d.%d", k,
                                           static_cast<int>(i)));
        }
      }
      ost.SourceIndex = source;
      tables.InputStreams[source].Discard = false;
      if (StreamMapCount > 0) {
        const TStreamMap& map = StreamMaps[n];
        ost.SyncStream = &tables.InputStreams[tables.InputFiles[map.SyncFileIndex].FirstStream + map.SyncStreamIndex];
      } else {
        ost.SyncStream = &tables.InputStreams[source];
      }
    }
  }
}

void TCustomFFmpeg::SetCopyParameters(TOutputStreamState& ost, TInputStreamState& ist, AVFormatContext* os) {
  const AVCodecParameters* in = ist.Stream->codecpar;
  AVCodecParameters* out = ost.Stream->codecpar;
  AVCodecContext* enc = ost.Encoder;
  switch (in->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      if (AudioVolume != 256) throw FFMpegException("-acodec copy and -vol are incompatible (frames are not decoded)");
      break;
    case AVMEDIA_TYPE_VIDEO:
      if (CustomHookHandler)
        throw FFMpegException("-vcodec copy and CustomHook are incompatible (frames are not decoded)");
      if (UsingVHook) throw FFMpegException("-vcodec copy and -vhook are incompatible (frames are not decoded)");
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      break;
    default:
      throw FFMpegException("invalid codec_type of output stream");
  }

  const unsigned chosenTag = enc->codec_tag;
  const AVRational streamAspect = ost.Stream->sample_aspect_ratio;
  if (FF.avcodec_parameters_copy(out, in) < 0) throw FFMpegException("av_mallocz fail");
  // The source's tag is kept where the output container knows it for this
  // codec, or has no tag of its own for the codec; otherwise the muxer
  // chooses (a tag of another codec would make the header fail).
  unsigned tag = chosenTag;
  if (tag == 0) {
    const AVCodecTag* const* table = os->oformat->codec_tag;
    if (!table || FF.av_codec_get_id(table, in->codec_tag) == in->codec_id ||
        FF.av_codec_get_tag(table, in->codec_id) == 0)
      tag = in->codec_tag;
  }
  out->codec_tag = tag;

  AVRational timeBase = ist.Stream->time_base;
  AVRational decoderTimeBase{0, 1};
  if (in->codec_type == AVMEDIA_TYPE_VIDEO) decoderTimeBase = ist.CodecTimeBase;
  if (in->codec_type == AVMEDIA_TYPE_AUDIO && in->sample_rate > 0) decoderTimeBase = AVRational{1, in->sample_rate};
  if (Real(decoderTimeBase) > Real(timeBase) && Real(timeBase) < 1.0 / 1000) timeBase = decoderTimeBase;

  if (in->codec_type == AVMEDIA_TYPE_AUDIO) {
    if ((out->block_align == 1 && out->codec_id == AV_CODEC_ID_MP3) || out->codec_id == AV_CODEC_ID_AC3)
      out->block_align = 0;
  }
  if (in->codec_type == AVMEDIA_TYPE_VIDEO && streamAspect.num != 0) out->sample_aspect_ratio = streamAspect;

  // The record's context mirrors the parameters, so that every reader of
  // the output stream sees one description.
  FF.avcodec_parameters_to_context(enc, out);
  enc->time_base = timeBase;
  ost.Stream->time_base = timeBase;
  if (in->codec_type == AVMEDIA_TYPE_VIDEO) {
    ost.Stream->avg_frame_rate = ist.Stream->avg_frame_rate;
    ost.Stream->r_frame_rate = ist.Stream->r_frame_rate;
  }
}

void TCustomFFmpeg::SetEncodeParameters(TOutputStreamState& ost, TInputStreamState& ist) {
  AVCodecContext* enc = ost.Encoder;
  const AVCodecParameters* dec = ist.Stream->codecpar;
  switch (enc->codec_type) {
    case AVMEDIA_TYPE_AUDIO: {
      const int channels = enc->ch_layout.nb_channels > 0 ? enc->ch_layout.nb_channels : AudioChannels;
      ost.SampleFifo.reset(FF.av_audio_fifo_alloc(AV_SAMPLE_FMT_S16, std::max(channels, 1), 1024));
      if (!ost.SampleFifo) throw FFMpegException("av_fifo_init fail");
      ost.SampleFormatPair = -6;
      ost.AudioResample = enc->sample_rate != dec->sample_rate || AudioSyncMethod > 1;
      break;
    }
    case AVMEDIA_TYPE_VIDEO: {
      ost.VideoCrop = CropTop + CropBottom + CropLeft + CropRight != 0;
      ost.VideoPad = PadTop + PadBottom + PadLeft + PadRight != 0;
      ost.VideoResample = enc->width != dec->width - CropLeft - CropRight + PadLeft + PadRight ||
                          enc->height != dec->height - CropTop - CropBottom + PadTop + PadBottom ||
                          enc->pix_fmt != dec->format;
      if (ost.VideoCrop) {
        ost.CropTop = CropTop;
        ost.CropLeft = CropLeft;
      }
      auto allocatePicture = [&](const char* failure) {
        ost.Pictures.clear();
        FramePtr picture(FF.av_frame_alloc());
        if (picture) {
          picture->format = enc->pix_fmt;
          picture->width = enc->width;
          picture->height = enc->height;
        }
        if (!picture || enc->pix_fmt == AV_PIX_FMT_NONE || FF.av_frame_get_buffer(picture.get(), 0) < 0)
          throw FFMpegException(failure);
        ost.Pictures.push_back(std::move(picture));
      };
      if (ost.VideoPad) {
        ost.PadTop = PadTop;
        ost.PadBottom = PadBottom;
        ost.PadLeft = PadLeft;
        ost.PadRight = PadRight;
        if (!ost.VideoResample) allocatePicture("avpicture_alloc fail");
      }
      if (ost.VideoResample) {
        allocatePicture("Cannot allocate temp picture, check pix fmt");
        int64_t flags = SwsFlags;
        if (ScalerOptions && FF.av_opt_get_int(ScalerOptions, "sws_flags", 0, &flags) >= 0)
          SwsFlags = static_cast<int>(flags);
        ost.Scaler.reset(FF.sws_getContext(
            dec->width - CropLeft - CropRight, dec->height - CropTop - CropBottom,
            static_cast<AVPixelFormat>(dec->format), enc->width - PadLeft - PadRight,
            enc->height - PadTop - PadBottom, enc->pix_fmt, SwsFlags, nullptr, nullptr, nullptr));
        if (!ost.Scaler) throw FFMpegException("Cannot get resampling context");
        ost.ResampleHeight = UseFilters ? dec->height : dec->height - CropTop - CropBottom;
      }
      LastError.clear();
      if (UseFilters && BuildVideoFilterGraph(ist, ost) < 0)
        throw FFMpegException(LastError.empty() ? std::string("Error opening filters!")
                                                : "Error opening filters: " + LastError);
      break;
    }
    case AVMEDIA_TYPE_SUBTITLE:
      break;
    default:
      throw FFMpegException("invalid codec_type of output stream");
  }
  ost.EncodingNeeded = true;
  ist.DecodingNeeded = true;
}

void TCustomFFmpeg::OpenPassLog(TOutputStreamState& ost, int index) {
  AVCodecContext* enc = ost.Encoder;
  if (!(enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2))) return;
  std::string name = (PassLogFilePrefix.empty() ? std::string("ffmpeg2pass") : PassLogFilePrefix) + "-" +
                     std::to_string(index) + ".log";
  if (name.size() > 1023) name.resize(1023);
  if (enc->flags & AV_CODEC_FLAG_PASS1) {
    ost.PassLogFile = fopen(name.c_str(), "w");
    if (!ost.PassLogFile) throw FFMpegException("creat file fail: " + name);
    return;
  }
  FILE* file = fopen(name.c_str(), "r");
  if (!file) throw FFMpegException("creat open fail: " + name);
  fseek(file, 0, SEEK_END);
  const long size = ftell(file);
  fseek(file, 0, SEEK_SET);
  char* buffer = size >= 0 ? static_cast<char*>(FF.av_malloc(static_cast<size_t>(size) + 1)) : nullptr;
  if (!buffer) {
    fclose(file);
    throw FFMpegException("Could not allocate log buffer");
  }
  const size_t read = fread(buffer, 1, static_cast<size_t>(size), file);
  fclose(file);
  buffer[read] = 0;
  FF.av_freep(&enc->stats_in);
  enc->stats_in = buffer;
}

void TCustomFFmpeg::OpenDecoder(TInputStreamState& ist) {
  if (ist.DecoderOpen) return;
  const AVCodecParameters* parameters = ist.Stream->codecpar;
  const AVCodec* codec = FF.avcodec_find_decoder(parameters->codec_id);
  if (!codec)
    throw FFMpegException(FormatText("Unsupported codec (id=%d) for input stream #%d.%d",
                                     static_cast<int>(parameters->codec_id), ist.FileIndex, ist.StreamIndex));
  ist.Decoder.reset(FF.avcodec_alloc_context3(codec));
  AVCodecContext* dec = ist.Decoder.get();
  if (!dec || FF.avcodec_parameters_to_context(dec, parameters) < 0) throw FFMpegException("av_mallocz fail");
  dec->pkt_timebase = ist.Stream->time_base;
  dec->framerate = ist.Stream->avg_frame_rate;
  const int typeMask = dec->codec_type == AVMEDIA_TYPE_VIDEO   ? AV_OPT_FLAG_VIDEO_PARAM
                       : dec->codec_type == AVMEDIA_TYPE_AUDIO ? AV_OPT_FLAG_AUDIO_PARAM
                                                               : AV_OPT_FLAG_SUBTITLE_PARAM;
  if (dec->codec_type >= 0 && dec->codec_type < MediaTypeCount)
    SetContextOptions(dec, CodecOptions[dec->codec_type], typeMask | AV_OPT_FLAG_DECODING_PARAM);
  dec->thread_count = ThreadCount;

  AVDictionary* options = nullptr;
  AddDecoderLimits(&options);
  int opened;
  {
    std::lock_guard<std::mutex> guard(CodecLock());
    opened = FF.avcodec_open2(dec, codec, &options);
    if (opened >= 0) OpenDecoders.push_front(dec);
  }
  FF.av_dict_free(&options);
  if (opened < 0)
    throw FFMpegException(FormatText("Error while opening codec for input stream #%d.%d", ist.FileIndex,
                                     ist.StreamIndex));
  ist.DecoderOpen = true;
  ist.Frame.reset(FF.av_frame_alloc());
  if (!ist.Frame) throw FFMpegException("av_mallocz fail");
  if (dec->codec_type == AVMEDIA_TYPE_VIDEO && dec->framerate.num > 0 && dec->framerate.den > 0)
    ist.CodecTimeBase = AVRational{dec->framerate.den, dec->framerate.num};
}

void TCustomFFmpeg::OpenEncoder(TOutputStreamState& ost, TRunTables& tables) {
  AVCodecContext* enc = ost.Encoder;
  const AVCodec* codec = ost.Record->Codec ? ost.Record->Codec : FF.avcodec_find_encoder(enc->codec_id);
  if (!codec)
    throw FFMpegException(
        FormatText("Unsupported codec for output stream #%d.%d", ost.FileIndex, ost.StreamIndex));
  TInputStreamState& ist = tables.InputStreams[ost.SourceIndex];
  if (enc->codec_type == AVMEDIA_TYPE_SUBTITLE) {
    // Text subtitle encoders start from the style header the decoder makes.
    OpenDecoder(ist);
    const AVCodecContext* dec = ist.Decoder.get();
    if (dec->subtitle_header && dec->subtitle_header_size > 0 && !enc->subtitle_header) {
      enc->subtitle_header = static_cast<uint8_t*>(FF.av_mallocz(dec->subtitle_header_size + 1));
      if (!enc->subtitle_header) throw FFMpegException("av_mallocz fail");
      std::memcpy(enc->subtitle_header, dec->subtitle_header, dec->subtitle_header_size);
      enc->subtitle_header_size = dec->subtitle_header_size;
    }
    if (enc->time_base.num <= 0 || enc->time_base.den <= 0) enc->time_base = AVRational{1, AV_TIME_BASE};
    const AVCodecParameters* in = ist.Stream->codecpar;
    if (enc->width == 0 && enc->height == 0) {
      enc->width = in->width;
      enc->height = in->height;
    }
  }

  AVDictionary* options = nullptr;
  FF.av_dict_copy(&options, ost.Record->EncoderOptions.get(), 0);
  int opened;
  {
    std::lock_guard<std::mutex> guard(CodecLock());
    opened = FF.avcodec_open2(enc, codec, &options);
    if (opened >= 0) OpenEncoders.push_front(enc);
  }
  FF.av_dict_free(&options);
  if (opened < 0)
    throw FFMpegException(FormatText("Error while opening codec for output stream #%d.%d - maybe incorrect "
                                     "parameters such as bit_rate, rate, width or height",
                                     ost.FileIndex, ost.StreamIndex));
  HeaderBytes += enc->extradata_size;
  if (FF.avcodec_parameters_from_context(ost.Stream->codecpar, enc) < 0) throw FFMpegException("av_mallocz fail");
  ost.Stream->time_base = enc->time_base;
  if (enc->codec_type == AVMEDIA_TYPE_VIDEO) ost.Stream->avg_frame_rate = enc->framerate;
  ost.Packet.reset(FF.av_packet_alloc());
  if (!ost.Packet) throw FFMpegException("av_mallocz fail");
}

void TCustomFFmpeg::CreateBitstreamFilters(TOutputStreamState& ost) {
  TOutputStreamRecord& record = *ost.Record;
  record.BitstreamContexts.clear();
  ost.FilterPackets.clear();
  const AVCodecParameters* parameters = ost.Stream->codecpar;
  for (const TBitstreamFilterSpec& filterSpec : record.BitstreamFilters) {
    AVBSFContext* raw = nullptr;
    int result = FF.av_bsf_alloc(filterSpec.Filter, &raw);
    BsfContextPtr filter(raw);
    if (result >= 0) result = FF.avcodec_parameters_copy(filter->par_in, parameters);
    if (result >= 0) {
      filter->time_base_in = ost.Stream->time_base;
      result = FF.av_bsf_init(filter.get());
    }
    if (result < 0) {
      const std::string text = FormatText("%s failed for stream %d, codec %s", filterSpec.Filter->name, ost.StreamIndex,
                                          record.Codec ? record.Codec->name : "copy");
      throw FFMpegException(FormatOpenError(text, result));
    }
    parameters = filter->par_out;
    record.BitstreamContexts.push_back(std::move(filter));
    ost.FilterPackets.emplace_back(FF.av_packet_alloc());
    if (!ost.FilterPackets.back()) throw FFMpegException("av_mallocz fail");
  }
  // A filter may change what the muxer must know (extradata above all).
  if (!record.BitstreamContexts.empty() && FF.avcodec_parameters_copy(ost.Stream->codecpar, parameters) < 0)
    throw FFMpegException("av_mallocz fail");
}

void TCustomFFmpeg::SetUpTranscode(TRunTables& tables) {
  // Input files and streams.
  int inputStreamCount = 0;
  for (int i = 0; i < InputFileCount; ++i) {
    TInputFileState file;
    file.FirstStream = inputStreamCount;
    file.StreamCount = static_cast<int>(InputFiles[i]->nb_streams);
    inputStreamCount += file.StreamCount;
    tables.InputFiles.push_back(file);
  }
  tables.InputStreams.resize(inputStreamCount);
  for (int k = 0, n = 0; k < InputFileCount; ++k) {
    for (int j = 0; j < tables.InputFiles[k].StreamCount; ++j, ++n) {
      TInputStreamState& ist = tables.InputStreams[n];
      ist.FileIndex = k;
      ist.StreamIndex = j;
      ist.Stream = InputFiles[k]->streams[j];
      ist.Discard = true;
      if (ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) ist.CodecTimeBase = FrameTimeBase(ist.Stream);
      if (InputRateEmu[k]) {
        ist.RateEmu = true;
        ist.RateStart = FF.av_gettime_relative();
        ist.RateFrames = 0;
      }
    }
  }

  // Output streams and their sources.
  int outputStreamCount = 0;
  for (int k = 0; k < OutputFileCount; ++k) {
    if (OutputFiles[k]->nb_streams == 0) throw FFMpegException("Output file does not contain any stream");
    outputStreamCount += static_cast<int>(OutputFiles[k]->nb_streams);
  }
  if (StreamMapCount > 0 && StreamMapCount != outputStreamCount)
    throw FFMpegException("Number of stream maps must match number of output streams");
  for (int i = 0; i < StreamMapCount; ++i) {
    const TStreamMap& map = StreamMaps[i];
    if (map.FileIndex < 0 || map.FileIndex >= InputFileCount || map.StreamIndex < 0 ||
        map.StreamIndex >= tables.InputFiles[map.FileIndex].StreamCount)
      throw FFMpegException(FormatText("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex));
    if (map.SyncFileIndex < 0 || map.SyncFileIndex >= InputFileCount || map.SyncStreamIndex < 0 ||
        map.SyncStreamIndex >= tables.InputFiles[map.SyncFileIndex].StreamCount)
      throw FFMpegException(
          FormatText("Could not find sync stream #%d.%d", map.SyncFileIndex, map.SyncStreamIndex));
  }
  tables.OutputStreams.resize(outputStreamCount);
  MapOutputStreams(tables);

  // Codec parameters.
  for (int n = 0; n < outputStreamCount; ++n) {
    TOutputStreamState& ost = tables.OutputStreams[n];
    TInputStreamState& ist = tables.InputStreams[ost.SourceIndex];
    AVFormatContext* os = OutputFiles[ost.FileIndex];
    if (!FF.av_dict_get(ost.Stream->metadata, "language", nullptr, 0)) {
      if (const AVDictionaryEntry* language = FF.av_dict_get(ist.Stream->metadata, "language", nullptr, 0))
        FF.av_dict_set(&ost.Stream->metadata, "language", std::string(language->value).substr(0, 3).c_str(), 0);
    }
    ost.Stream->disposition = ist.Stream->disposition;

    if (ost.Record->StreamCopy)
      SetCopyParameters(ost, ist, os);
    else
      SetEncodeParameters(ost, ist);
    if (ost.EncodingNeeded) OpenPassLog(ost, n);
    if (ost.Encoder->codec_type == AVMEDIA_TYPE_VIDEO)
      BitBufferSize = std::max(BitBufferSize, 4 * ost.Encoder->width * ost.Encoder->height);
  }

  // What the outputs will hold, as the muxers see it before the codecs open.
  for (TOutputStreamState& ost : tables.OutputStreams)
    if (ost.EncodingNeeded) FF.avcodec_parameters_from_context(ost.Stream->codecpar, ost.Encoder);
  for (int k = 0; k < OutputFileCount; ++k) FF.av_dump_format(OutputFiles[k], k, OutputFiles[k]->url, 1);

  if (Verbose >= 0 && LogHandler) {
    Log(1, "Stream mapping:");
    for (const TOutputStreamState& ost : tables.OutputStreams) {
      const TInputStreamState& source = tables.InputStreams[ost.SourceIndex];
      Log(1, "  Stream #%d.%d -> #%d.%d", source.FileIndex, source.StreamIndex, ost.FileIndex, ost.StreamIndex);
      if (ost.SyncStream != &source)
        Log(1, " [sync #%d.%d]", ost.SyncStream->FileIndex, ost.SyncStream->StreamIndex);
    }
  }

  for (TOutputStreamState& ost : tables.OutputStreams)
    if (ost.EncodingNeeded) OpenEncoder(ost, tables);
  for (TInputStreamState& ist : tables.InputStreams)
    if (ist.DecodingNeeded) OpenDecoder(ist);
  for (TInputStreamState& ist : tables.InputStreams) {
    ist.Pts = 0;
    ist.NextPts = AV_NOPTS_VALUE;
    ist.IsStart = true;
  }

  for (int i = 0; i < MetaDataMapCount; ++i) {
    const TMetaDataMap& map = MetaDataMaps[i];
    if (map.OutFileIndex < 0 || map.OutFileIndex >= OutputFileCount)
      throw FFMpegException(FormatText("Invalid output file index %d map_meta_data(%d,%d)", map.OutFileIndex,
                                       map.OutFileIndex, map.InFileIndex));
    if (map.InFileIndex < 0 || map.InFileIndex >= InputFileCount)
      throw FFMpegException(FormatText("Invalid input file index %d map_meta_data(%d,%d)", map.InFileIndex,
                                       map.OutFileIndex, map.InFileIndex));
    const AVDictionary* from = InputFiles[map.InFileIndex]->metadata;
    AVDictionary** to = &OutputFiles[map.OutFileIndex]->metadata;
    for (const TTagKey& tag : kMappedTags) {
      const AVDictionaryEntry* entry = FF.av_dict_get(from, tag.Key, nullptr, 0);
      if (!entry && tag.OtherKey) entry = FF.av_dict_get(from, tag.OtherKey, nullptr, 0);
      if (entry) FF.av_dict_set(to, tag.Key, entry->value, 0);
    }
  }

  for (TOutputStreamState& ost : tables.OutputStreams) CreateBitstreamFilters(ost);

  bool wantSdp = true;
  for (int k = 0; k < OutputFileCount; ++k) {
    AVFormatContext* os = OutputFiles[k];
    AVDictionary* options = nullptr;
    FF.av_dict_copy(&options, outputRecords_[k].MuxerOptions.get(), 0);
    const int written = FF.avformat_write_header(os, &options);
    FF.av_dict_free(&options);
    if (written < 0)
      throw FFMpegException(
          FormatText("Could not write header for output file #%d (incorrect codec parameters ?)", k));
    if (std::strcmp(os->oformat->name, "rtp") != 0) wantSdp = false;
  }
  if (wantSdp && LogHandler) {
    char sdp[2048] = {0};
    FF.av_sdp_create(OutputFiles.data(), OutputFileCount, sdp, sizeof(sdp));
    std::string text = sdp;
    const size_t first = text.find_first_not_of(" \t\r\n");
    const size_t last = text.find_last_not_of(" \t\r\n");
    text = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    Log(1, "SDP: %s", text.c_str());
  }

  TimerStart = FF.av_gettime_relative();
}
