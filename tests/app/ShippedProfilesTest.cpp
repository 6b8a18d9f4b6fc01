// The shipped format profile file, checked against the installed encoders and
// containers: every offered choice is built into a job the way the
// application builds it, the job's encoders are opened with its values and
// encode a frame, and each encoder pair is muxed into the format's container.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>

#include "app/ConversionOptions.h"
#include "app/FormatProfiles.h"
#include "engine/binding/CodecAliases.h"

namespace {

// The copy beside the built programs: what the program reads.
std::string ProfilePath() {
  const char* folder = std::getenv("TOVRIN_PROGRAM_DIR");
  return std::string(folder ? folder : TOVRIN_BUILT_PROGRAM_DIR) + "/tovrinflvformat.ini";
}

const TIniFile& Profiles() {
  static const TIniFile file(ProfilePath());
  return file;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

struct CodecContextFree {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
using CodecContext = std::unique_ptr<AVCodecContext, CodecContextFree>;
struct PacketFree {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using Packet = std::unique_ptr<AVPacket, PacketFree>;
struct FrameFree {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct DictionaryFree {
  void operator()(AVDictionary* dictionary) const { av_dict_free(&dictionary); }
};

struct Job {
  TOutputOptions output;
  TInputOptions input;
};

// The job the application builds from these choices, for a 640x480 source
// with sound.
Job BuildJob(const TFormatChoices& choices) {
  TIniFile settings("");
  SaveFormatChoices(settings, Profiles(), choices);
  TSourceInfo source;
  source.Width = 640;
  source.Height = 480;
  source.VideoBitRate = 1000000;
  source.HasVideo = source.HasAudio = true;
  Job job;
  BuildConversionOptions(settings, Profiles(), choices.FormatIndex, kZoomLetterBox, source, job.output,
                         job.input);
  return job;
}

const AVOutputFormat* MuxerFor(const TFormatProfile& profile) {
  const std::string forced = ForcedContainer(profile.Format);
  if (!forced.empty()) return av_guess_format(Lower(forced).c_str(), nullptr, nullptr);
  return av_guess_format(nullptr, ("out." + profile.FileExt).c_str(), nullptr);
}

bool EncoderExists(const std::string& name) {
  return avcodec_find_encoder_by_name(name.c_str()) != nullptr;
}

// The encoder the converter uses: the named one (old names renamed), or the
// container's own default for its type.
const AVCodec* EncoderFor(const std::string& name, const AVOutputFormat* muxer, AVMediaType type) {
  if (name.empty()) {
    const AVCodecID id = av_guess_codec(muxer, nullptr, nullptr, nullptr, type);
    return id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_encoder(id);
  }
  return avcodec_find_encoder_by_name(ResolveEncoderName(name, EncoderExists).c_str());
}

// The encoded picture: the frame size less the crop (none here) plus the pads.
void EncodedSize(const TOutputOptions& output, int& width, int& height) {
  width = height = 0;
  if (sscanf(output.FrameSize.c_str(), "%dx%d", &width, &height) != 2) return;
  width += std::max(output.PadLeft, 0) + std::max(output.PadRight, 0);
  height += std::max(output.PadTop, 0) + std::max(output.PadBottom, 0);
}

// Name=value lines, as the converter reads the job's extra options.
AVDictionary* OptionLines(const std::string& text) {
  AVDictionary* options = nullptr;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const size_t equals = line.find('=');
    av_dict_set(&options, line.substr(0, equals).c_str(),
                equals == std::string::npos ? "" : line.substr(equals + 1).c_str(), 0);
    start = end + 1;
  }
  return options;
}

// Opens the job's video encoder as the converter sets it up; an empty pointer
// and a reason on failure.
CodecContext OpenVideoEncoder(const TOutputOptions& output, const AVOutputFormat* muxer,
                              std::string& failure) {
  const AVCodec* codec = EncoderFor(output.VideoCodec, muxer, AVMEDIA_TYPE_VIDEO);
  if (!codec) {
    failure = "no video encoder for '" + output.VideoCodec + "'";
    return {};
  }
  int width = 0, height = 0;
  EncodedSize(output, width, height);
  if (width <= 0 || height <= 0) {
    failure = "no picture size in the job";
    return {};
  }
  AVRational rate{25, 1};
  if (!output.FrameRateText.empty() && av_parse_video_rate(&rate, output.FrameRateText.c_str()) < 0) {
    failure = "frame rate '" + output.FrameRateText + "' does not parse";
    return {};
  }
  if (codec->supported_framerates) {
    // The converter moves the rate to the encoder's nearest; it must be the
    // rate offered, not merely a neighbour.
    const AVRational nearest =
        codec->supported_framerates[av_find_nearest_q_idx(rate, codec->supported_framerates)];
    if (std::abs(av_q2d(nearest) / av_q2d(rate) - 1.0) > 0.001) {
      failure = "frame rate " + output.FrameRateText + " is not one " + codec->name + " takes";
      return {};
    }
    rate = nearest;
  }
  CodecContext context(avcodec_alloc_context3(codec));
  context->width = width;
  context->height = height;
  context->time_base = av_inv_q(rate);
  context->framerate = rate;
  context->pix_fmt = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
  context->sample_aspect_ratio = AVRational{1, 1};
  if (output.VideoBitrate > 0) context->bit_rate = output.VideoBitrate;
  if (output.GOP > 0) context->gop_size = output.GOP;
  if (output.MaxRate > 0) context->rc_max_rate = output.MaxRate;
  if (output.BufSize > 0) context->rc_buffer_size = output.BufSize;
  if (muxer->flags & AVFMT_GLOBALHEADER) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* options = OptionLines(output.ExtOptions);
  const int result = avcodec_open2(context.get(), codec, &options);
  std::unique_ptr<AVDictionary, DictionaryFree> left(options);
  if (result < 0) {
    failure = std::string(codec->name) + " does not open at " + std::to_string(width) + "x" +
              std::to_string(height) + ", " + output.FrameRateText + " fps: " + ErrorText(result);
    return {};
  }
  if (const AVDictionaryEntry* unknown = av_dict_get(options, "", nullptr, AV_DICT_IGNORE_SUFFIX)) {
    failure = std::string(codec->name) + " does not know the option '" + unknown->key + "'";
    return {};
  }
  return context;
}

// sampleRate stands for the source's rate when the job keeps it.
CodecContext OpenAudioEncoder(const TOutputOptions& output, const AVOutputFormat* muxer, int sourceRate,
                              std::string& failure) {
  const AVCodec* codec = EncoderFor(output.AudioCodec, muxer, AVMEDIA_TYPE_AUDIO);
  if (!codec) {
    failure = "no audio encoder for '" + output.AudioCodec + "'";
    return {};
  }
  const int rate = output.AudioSampleRate > 0 ? output.AudioSampleRate : sourceRate;
  const int channels = output.AudioChannels > 0 ? output.AudioChannels : 2;
  const std::string what = std::string(codec->name) + " at " + std::to_string(rate) + " Hz, " +
                           std::to_string(channels) + " channels, " + std::to_string(output.AudioBitrate) +
                           " bit/s";
  if (codec->supported_samplerates) {
    bool listed = false;
    for (const int* r = codec->supported_samplerates; *r; ++r) listed |= *r == rate;
    if (!listed) {
      failure = what + ": rate not in the encoder's list";
      return {};
    }
  }
  if (codec->ch_layouts) {
    bool listed = false;
    for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels; ++l)
      listed |= l->nb_channels == channels;
    if (!listed) {
      failure = what + ": channel count not in the encoder's list";
      return {};
    }
  }
  CodecContext context(avcodec_alloc_context3(codec));
  context->sample_rate = rate;
  context->time_base = AVRational{1, rate};
  av_channel_layout_default(&context->ch_layout, channels);
  context->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
  if (output.AudioBitrate > 0) context->bit_rate = output.AudioBitrate;
  if (muxer->flags & AVFMT_GLOBALHEADER) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int result = avcodec_open2(context.get(), codec, nullptr);
  if (result < 0) {
    failure = what + ": does not open: " + ErrorText(result);
    return {};
  }
  return context;
}

// One black picture or one frame of silence, then the encoder drained.
std::vector<Packet> EncodeOneFrame(AVCodecContext* context, std::string& failure) {
  std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
  if (context->codec_type == AVMEDIA_TYPE_VIDEO) {
    frame->format = context->pix_fmt;
    frame->width = context->width;
    frame->height = context->height;
    av_frame_get_buffer(frame.get(), 0);
    ptrdiff_t lines[4] = {frame->linesize[0], frame->linesize[1], frame->linesize[2], frame->linesize[3]};
    av_image_fill_black(frame->data, lines, context->pix_fmt, AVCOL_RANGE_MPEG, context->width,
                        context->height);
  } else {
    frame->format = context->sample_fmt;
    frame->sample_rate = context->sample_rate;
    frame->nb_samples = context->frame_size > 0 ? context->frame_size : 1024;
    av_channel_layout_copy(&frame->ch_layout, &context->ch_layout);
    av_frame_get_buffer(frame.get(), 0);
    av_samples_set_silence(frame->data, 0, frame->nb_samples, context->ch_layout.nb_channels,
                           context->sample_fmt);
  }
  frame->pts = 0;
  std::vector<Packet> packets;
  for (AVFrame* input : {frame.get(), static_cast<AVFrame*>(nullptr)}) {
    if (const int sent = avcodec_send_frame(context, input); sent < 0) {
      failure = std::string(context->codec->name) + " refuses a frame: " + ErrorText(sent);
      return {};
    }
    for (;;) {
      Packet packet(av_packet_alloc());
      const int received = avcodec_receive_packet(context, packet.get());
      if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) break;
      if (received < 0) {
        failure = std::string(context->codec->name) + " fails to encode: " + ErrorText(received);
        return {};
      }
      packets.push_back(std::move(packet));
    }
  }
  if (packets.empty()) failure = std::string(context->codec->name) + " gave no packet";
  return packets;
}

// Writes the encoders' streams and packets into the muxer, in memory.
std::string Mux(const AVOutputFormat* muxer, const TOutputOptions& output,
                const std::vector<std::pair<AVCodecContext*, std::vector<Packet>*>>& streams) {
  AVFormatContext* context = nullptr;
  if (avformat_alloc_output_context2(&context, muxer, nullptr, nullptr) < 0) return "no muxer context";
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> owner(context, avformat_free_context);
  for (const auto& [encoder, packets] : streams) {
    AVStream* stream = avformat_new_stream(context, nullptr);
    avcodec_parameters_from_context(stream->codecpar, encoder);
    stream->time_base = encoder->time_base;
    if (encoder->codec_type == AVMEDIA_TYPE_VIDEO) {
      stream->avg_frame_rate = encoder->framerate;
      if (output.VideoTag.size() == 4) {
        const std::string& t = output.VideoTag;
        stream->codecpar->codec_tag = MKTAG(t[0], t[1], t[2], t[3]);
      }
    }
  }
  if (avio_open_dyn_buf(&context->pb) < 0) return "no memory output";
  std::string failure;
  if (const int result = avformat_write_header(context, nullptr); result < 0) {
    failure = std::string(muxer->name) + " refuses the streams: " + ErrorText(result);
  } else {
    for (size_t i = 0; i < streams.size() && failure.empty(); ++i) {
      for (Packet& packet : *streams[i].second) {
        packet->stream_index = static_cast<int>(i);
        av_packet_rescale_ts(packet.get(), streams[i].first->time_base, context->streams[i]->time_base);
        if (const int result = av_interleaved_write_frame(context, packet.get()); result < 0) {
          failure = std::string(muxer->name) + " refuses a packet: " + ErrorText(result);
          break;
        }
      }
    }
    if (const int result = av_write_trailer(context); result < 0 && failure.empty()) {
      failure = std::string(muxer->name) + " fails to finish: " + ErrorText(result);
    }
  }
  uint8_t* buffer = nullptr;
  avio_close_dyn_buf(context->pb, &buffer);
  context->pb = nullptr;
  av_free(buffer);
  return failure;
}

// Every default choice, with the items of some lists replaced.
TFormatChoices Choose(const TFormatProfile& profile,
                      std::initializer_list<std::pair<TFormatList, int>> picks) {
  TFormatChoices choices = DefaultFormatChoices(profile);
  for (const auto& [list, index] : picks) choices[list] = ChooseItem(profile.List(list).Items, index);
  return choices;
}

int ItemCount(const TFormatProfile& profile, TFormatList list) {
  return static_cast<int>(profile.List(list).Items.size());
}

// The source rates a job that keeps the source's sample rate is tried with.
std::vector<int> SampleRatesFor(const TOutputOptions& output) {
  if (output.AudioSampleRate > 0) return {output.AudioSampleRate};
  return {8000, 22050, 44100, 48000, 96000};
}

class ShippedProfileTest : public ::testing::TestWithParam<int> {
protected:
  void SetUp() override {
    av_log_set_level(AV_LOG_ERROR);
    ASSERT_TRUE(Profiles().SectionExists(FormatSection(GetParam()))) << ProfilePath();
    profile_ = ReadFormatProfile(Profiles(), GetParam());
    muxer_ = MuxerFor(profile_);
    ASSERT_NE(muxer_, nullptr) << "no container for " << profile_.Format << " / ." << profile_.FileExt;
  }

  TFormatProfile profile_;
  const AVOutputFormat* muxer_ = nullptr;
};

TEST(ShippedProfilesTest, EighteenSectionsAndNoOther) {
  ASSERT_TRUE(std::filesystem::exists(ProfilePath())) << ProfilePath();
  for (int n = 0; n < kFormatCount; ++n) EXPECT_TRUE(Profiles().SectionExists(FormatSection(n))) << n;
  EXPECT_FALSE(Profiles().SectionExists(FormatSection(kFormatCount)));
}

TEST_P(ShippedProfileTest, KeysAndListsAreWellFormed) {
  const int n = GetParam();
  const std::string section = FormatSection(n);
  std::set<std::string> known = {"FileExt", "Format"};
  for (int i = 0; i < kFormatListCount; ++i) {
    known.emplace(ListKey(static_cast<TFormatList>(i)));
    known.emplace(IndexKey(static_cast<TFormatList>(i)));
  }
  for (const TFormatKey& key :
       {profilekeys::ParaBitExact, profilekeys::ParaMaxBitrate, profilekeys::ParaBufferSize,
        profilekeys::ParaLevel, profilekeys::ParaQscale, profilekeys::ParaGop, profilekeys::ParaCoder}) {
    known.emplace(key.Key);
  }
  for (const std::string& key : Profiles().KeyNames(section))
    EXPECT_TRUE(known.count(key)) << "unknown key " << key;

  // The format list names the extension the profile writes.
  EXPECT_NE(std::string(FormatText(n)).find("(*." + profile_.FileExt + ")"), std::string::npos)
      << FormatText(n);

  // Each list: offered, or absent altogether; a default inside it.
  const TFormatList videoLists[] = {flVideoSize, flVideoBitRate, flFrameRate, flVideoEncoder};
  for (TFormatList list : videoLists) {
    if (profile_.AudioOnly()) {
      EXPECT_FALSE(Profiles().ValueExists(section, std::string(ListKey(list)))) << ListKey(list);
    } else {
      EXPECT_TRUE(profile_.List(list).Offered()) << ListKey(list);
    }
  }
  for (TFormatList list : {flSampleRate, flAudioEncoder, flChannel, flVolume}) {
    EXPECT_TRUE(profile_.List(list).Offered()) << ListKey(list);
  }
  for (int i = 0; i < kFormatListCount; ++i) {
    const TProfileList& list = profile_.Lists[i];
    if (!list.Offered()) continue;
    EXPECT_GE(list.DefaultIndex, 0) << ListKey(static_cast<TFormatList>(i));
    EXPECT_LT(list.DefaultIndex, static_cast<int>(list.Items.size())) << ListKey(static_cast<TFormatList>(i));
    for (const std::string& item : list.Items)
      EXPECT_FALSE(item.empty()) << ListKey(static_cast<TFormatList>(i));
  }

  // Every display name, channel and volume text is one the save rules know.
  for (const std::string& name : profile_.List(flVideoEncoder).Items) {
    EXPECT_TRUE(VideoEncoderForDisplayName(name)) << name;
  }
  for (const std::string& name : profile_.List(flAudioEncoder).Items) {
    EXPECT_TRUE(AudioEncoderForDisplayName(name)) << name;
  }
  for (const std::string& text : profile_.List(flChannel).Items) EXPECT_TRUE(ChannelValueFor(text)) << text;
  for (const std::string& text : profile_.List(flVolume).Items) {
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '%') << text;
    EXPECT_TRUE(VolumeForPercent(StrToIntDef(text.substr(0, text.size() - 1), -1))) << text;
  }
  EXPECT_EQ(profile_.List(flVolume).Items[profile_.List(flVolume).DefaultIndex], "100%");

  // Numbers are numbers.
  for (const std::string& size : profile_.List(flVideoSize).Items) {
    int width = 0, height = 0;
    char extra = 0;
    EXPECT_EQ(sscanf(size.c_str(), "%dx%d%c", &width, &height, &extra), 2) << size;
    EXPECT_TRUE(width > 0 && height > 0 && width % 2 == 0 && height % 2 == 0) << size;
  }
  for (const std::string& rate : profile_.List(flFrameRate).Items) {
    AVRational parsed{};
    EXPECT_GE(av_parse_video_rate(&parsed, rate.c_str()), 0) << rate;
  }
  for (const std::string& rate : profile_.List(flVideoBitRate).Items)
    EXPECT_GT(StrToIntDef(rate, 0), 0) << rate;
  for (const std::string& rate : profile_.List(flAudioBitRate).Items) EXPECT_GT(StrToFloat(rate), 0) << rate;
  for (const std::string& rate : profile_.List(flSampleRate).Items) {
    EXPECT_TRUE(rate == "as source" || StrToIntDef(rate, 0) > 0) << rate;
  }

  // H.263 knows five picture sizes; the builder would raise any other size to
  // one of them, so the list would promise a size the output does not have.
  const auto& encoders = profile_.List(flVideoEncoder).Items;
  if (std::any_of(encoders.begin(), encoders.end(),
                  [](const std::string& name) { return Lower(name) == "h263"; })) {
    const std::set<std::string> h263Sizes = {"128x96", "176x144", "352x288", "704x576", "1408x1152"};
    for (const std::string& size : profile_.List(flVideoSize).Items)
      EXPECT_TRUE(h263Sizes.count(size)) << size;
  }

  // A format offering the H.264 encoder carries its tuning.
  const bool offersH264 = std::any_of(encoders.begin(), encoders.end(),
                                      [](const std::string& name) { return Lower(name) == "h264"; });
  for (const TFormatKey& key : {profilekeys::ParaMaxBitrate, profilekeys::ParaBufferSize,
                                profilekeys::ParaLevel, profilekeys::ParaQscale, profilekeys::ParaGop}) {
    if (!offersH264) {
      EXPECT_FALSE(Profiles().ValueExists(section, std::string(key.Key))) << key.Key;
      continue;
    }
    ASSERT_TRUE(Profiles().ValueExists(section, std::string(key.Key))) << key.Key;
    EXPECT_GT(StrToIntDef(ReadFormatKey(Profiles(), n, key), 0), 0) << key.Key;
  }
  if (offersH264) {
    EXPECT_EQ(ReadFormatKey(Profiles(), n, profilekeys::ParaBitExact), "True");
    EXPECT_EQ(ReadFormatKey(Profiles(), n, profilekeys::ParaCoder), "1");
  }
}

TEST_P(ShippedProfileTest, JobsAtTheDefaultChoicesHaveTheFormatsStreams) {
  const Job job = BuildJob(DefaultFormatChoices(profile_));
  if (profile_.AudioOnly()) {
    EXPECT_EQ(job.input.ExtOptions, "vn=1");
    EXPECT_EQ(job.output.VideoCodec, "");
  } else {
    EXPECT_EQ(job.input.ExtOptions, "");
    EXPECT_NE(job.output.FrameSize, "");
  }
  EXPECT_NE(job.output.AudioCodec, "");
  EXPECT_EQ(job.output.AudioVolume, -1);  // 100%
}

TEST_P(ShippedProfileTest, EveryVideoChoiceOpensItsEncoderAndEncodes) {
  if (profile_.AudioOnly()) GTEST_SKIP() << "audio only";
  for (int e = 0; e < ItemCount(profile_, flVideoEncoder); ++e) {
    std::vector<TFormatChoices> variants;
    for (int i = 0; i < ItemCount(profile_, flVideoSize); ++i) {
      variants.push_back(Choose(profile_, {{flVideoEncoder, e}, {flVideoSize, i}}));
    }
    for (int i = 0; i < ItemCount(profile_, flFrameRate); ++i) {
      variants.push_back(Choose(profile_, {{flVideoEncoder, e}, {flFrameRate, i}}));
    }
    for (int i = 0; i < ItemCount(profile_, flVideoBitRate); ++i) {
      variants.push_back(Choose(profile_, {{flVideoEncoder, e}, {flVideoBitRate, i}}));
    }
    for (const TFormatChoices& choices : variants) {
      const Job job = BuildJob(choices);
      SCOPED_TRACE(choices[flVideoEncoder].Text + " " + choices[flVideoSize].Text + " " +
                   choices[flFrameRate].Text + " fps " + choices[flVideoBitRate].Text + " kbit/s");
      ASSERT_EQ(job.input.ExtOptions, "");
      std::string failure;
      const CodecContext encoder = OpenVideoEncoder(job.output, muxer_, failure);
      ASSERT_TRUE(encoder) << failure;
      if (Lower(choices[flVideoEncoder].Text) == "h263") {
        const std::pair<int, int> size{encoder->width, encoder->height};
        const std::set<std::pair<int, int>> h263Sizes = {
            {128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};
        EXPECT_TRUE(h263Sizes.count(size)) << size.first << "x" << size.second;
      }
      EncodeOneFrame(encoder.get(), failure);
      EXPECT_EQ(failure, "");
    }
  }
}

TEST_P(ShippedProfileTest, EveryAudioChoiceOpensItsEncoderAndEncodes) {
  const int bitRates = std::max(ItemCount(profile_, flAudioBitRate), 1);
  for (int e = 0; e < ItemCount(profile_, flAudioEncoder); ++e) {
    for (int r = 0; r < ItemCount(profile_, flSampleRate); ++r) {
      for (int c = 0; c < ItemCount(profile_, flChannel); ++c) {
        for (int b = 0; b < bitRates; ++b) {
          TFormatChoices choices = Choose(profile_, {{flAudioEncoder, e}, {flSampleRate, r}, {flChannel, c}});
          if (profile_.List(flAudioBitRate).Offered()) {
            choices[flAudioBitRate] = ChooseItem(profile_.List(flAudioBitRate).Items, b);
          }
          const Job job = BuildJob(choices);
          for (int sourceRate : SampleRatesFor(job.output)) {
            SCOPED_TRACE(choices[flAudioEncoder].Text + " " + choices[flSampleRate].Text + " Hz (" +
                         std::to_string(sourceRate) + ") " + choices[flChannel].Text + " " +
                         choices[flAudioBitRate].Text + " kbit/s");
            std::string failure;
            const CodecContext encoder = OpenAudioEncoder(job.output, muxer_, sourceRate, failure);
            ASSERT_TRUE(encoder) << failure;
            EncodeOneFrame(encoder.get(), failure);
            EXPECT_EQ(failure, "");
          }
        }
      }
    }
  }
}

TEST_P(ShippedProfileTest, EveryEncoderPairMuxesIntoTheContainer) {
  const int videoEncoders = profile_.AudioOnly() ? 1 : ItemCount(profile_, flVideoEncoder);
  for (int v = 0; v < videoEncoders; ++v) {
    for (int a = 0; a < ItemCount(profile_, flAudioEncoder); ++a) {
      for (int r = 0; r < ItemCount(profile_, flSampleRate); ++r) {
        TFormatChoices choices = Choose(profile_, {{flAudioEncoder, a}, {flSampleRate, r}});
        if (!profile_.AudioOnly())
          choices[flVideoEncoder] = ChooseItem(profile_.List(flVideoEncoder).Items, v);
        const Job job = BuildJob(choices);
        const std::string forced = job.output.FileFormat;
        if (!forced.empty()) {
          EXPECT_EQ(av_guess_format(Lower(forced).c_str(), nullptr, nullptr), muxer_);
        }
        for (int sourceRate : SampleRatesFor(job.output)) {
          SCOPED_TRACE(choices[flVideoEncoder].Text + " + " + choices[flAudioEncoder].Text + " at " +
                       std::to_string(sourceRate) + " Hz into " + muxer_->name);
          std::string failure;
          CodecContext video;
          std::vector<Packet> videoPackets;
          std::vector<std::pair<AVCodecContext*, std::vector<Packet>*>> streams;
          if (!profile_.AudioOnly()) {
            video = OpenVideoEncoder(job.output, muxer_, failure);
            ASSERT_TRUE(video) << failure;
            videoPackets = EncodeOneFrame(video.get(), failure);
            ASSERT_EQ(failure, "");
            streams.emplace_back(video.get(), &videoPackets);
          }
          const CodecContext audio = OpenAudioEncoder(job.output, muxer_, sourceRate, failure);
          ASSERT_TRUE(audio) << failure;
          std::vector<Packet> audioPackets = EncodeOneFrame(audio.get(), failure);
          ASSERT_EQ(failure, "");
          streams.emplace_back(audio.get(), &audioPackets);
          EXPECT_EQ(Mux(muxer_, job.output, streams), "");
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, ShippedProfileTest, ::testing::Range(0, kFormatCount),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "format" + std::to_string(info.param);
                         });

}  // namespace
