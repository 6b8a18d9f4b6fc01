#include "tests/transcode/TranscodeTesting.h"

#include <algorithm>
#include <limits>

using namespace fixtures_test;

MediaSummary Summarize(const std::string& path) {
  MediaSummary summary;
  InputPtr input = OpenMedia(path);
  if (!input) return summary;
  summary.opened = true;
  summary.format = input->iformat->name;
  struct Span {
    double first = std::numeric_limits<double>::max();
    double last = std::numeric_limits<double>::lowest();
  };
  std::vector<Span> spans(input->nb_streams);
  std::vector<StreamSummary*> targets(input->nb_streams, nullptr);
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVCodecParameters* parameters = input->streams[i]->codecpar;
    StreamSummary* target = parameters->codec_type == AVMEDIA_TYPE_VIDEO      ? &summary.video
                            : parameters->codec_type == AVMEDIA_TYPE_AUDIO    ? &summary.audio
                            : parameters->codec_type == AVMEDIA_TYPE_SUBTITLE ? &summary.subtitle
                                                                              : nullptr;
    if (!target || target->present) continue;
    targets[i] = target;
    target->present = true;
    target->codec = avcodec_get_name(parameters->codec_id);
    target->width = parameters->width;
    target->height = parameters->height;
    target->sampleRate = parameters->sample_rate;
    target->channels = parameters->ch_layout.nb_channels;
  }
  fixtures_test::PacketPtr packet(av_packet_alloc());
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    const int index = packet->stream_index;
    StreamSummary* target = targets[index];
    if (target) {
      const AVStream* stream = input->streams[index];
      const int64_t start = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      if (target->packets == 0) target->firstIsKey = packet->flags & AV_PKT_FLAG_KEY;
      ++target->packets;
      if (packet->flags & AV_PKT_FLAG_KEY) ++target->keyPackets;
      if (start != AV_NOPTS_VALUE) {
        spans[index].first = std::min(spans[index].first, StreamSeconds(stream, start));
        spans[index].last = std::max(spans[index].last, StreamSeconds(stream, start + packet->duration));
      }
    }
    av_packet_unref(packet.get());
  }
  for (unsigned i = 0; i < input->nb_streams; ++i)
    if (targets[i] && spans[i].last >= spans[i].first) targets[i]->seconds = spans[i].last - spans[i].first;
  return summary;
}

std::vector<DecodedPicture> Pictures(const std::string& path, double frameRate) {
  std::vector<DecodedPicture> pictures;
  InputPtr input = OpenMedia(path);
  if (!input) return pictures;
  const int stream = FirstStream(input.get(), AVMEDIA_TYPE_VIDEO);
  if (stream < 0) return pictures;
  VideoReader reader(input.get(), stream, frameRate);
  DecodedPicture picture;
  while (reader.Next(picture)) pictures.push_back(picture);
  return pictures;
}

std::vector<int> PictureCounters(const std::string& path, double frameRate) {
  std::vector<int> counters;
  for (const DecodedPicture& picture : Pictures(path, frameRate)) counters.push_back(picture.counter);
  return counters;
}

DecodedAudio FirstAudio(const std::string& path) {
  InputPtr input = OpenMedia(path);
  if (!input) return {};
  const int stream = FirstStream(input.get(), AVMEDIA_TYPE_AUDIO);
  if (stream < 0) return {};
  return DecodeAudio(input.get(), stream);
}

void Remux(const std::string& source, const std::string& target,
           const std::function<bool(AVPacket& packet, const AVStream& stream)>& edit) {
  InputPtr input = OpenMedia(source);
  ASSERT_TRUE(input);
  AVFormatContext* output = nullptr;
  ASSERT_GE(avformat_alloc_output_context2(&output, nullptr, nullptr, target.c_str()), 0);
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> owner(output, [](AVFormatContext* context) {
    if (context->pb) avio_closep(&context->pb);
    avformat_free_context(context);
  });
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    AVStream* stream = avformat_new_stream(output, nullptr);
    ASSERT_TRUE(stream);
    avcodec_parameters_copy(stream->codecpar, input->streams[i]->codecpar);
    stream->codecpar->codec_tag = 0;
    stream->time_base = input->streams[i]->time_base;
  }
  ASSERT_GE(avio_open(&output->pb, target.c_str(), AVIO_FLAG_WRITE), 0);
  ASSERT_GE(avformat_write_header(output, nullptr), 0);
  fixtures_test::PacketPtr packet(av_packet_alloc());
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    const AVStream* from = input->streams[packet->stream_index];
    if (edit(*packet, *from)) {
      av_packet_rescale_ts(packet.get(), from->time_base, output->streams[packet->stream_index]->time_base);
      ASSERT_GE(av_interleaved_write_frame(output, packet.get()), 0);
    }
    av_packet_unref(packet.get());
  }
  ASSERT_GE(av_write_trailer(output), 0);
}
