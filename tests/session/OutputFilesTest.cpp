// Creating outputs and their streams: layout, disabled types, failures,
// encoder settings taken from the options, and removal of empty outputs.
#include <filesystem>
#include <fstream>

#include "tests/session/SessionTesting.h"

using testsupport::Fixture;
namespace fs = std::filesystem;

namespace {

constexpr AVMediaType V = AVMEDIA_TYPE_VIDEO, A = AVMEDIA_TYPE_AUDIO, S = AVMEDIA_TYPE_SUBTITLE;

struct LayoutCase {
  std::vector<std::pair<std::string, std::string>> options;
  const char* input;
  const char* output;
  std::vector<AVMediaType> types;
};

TEST_F(SessionTest, StreamsFollowWhatTheInputsHaveAndWhatIsDisabled) {
  const LayoutCase cases[] = {
      {{}, "mkv_subtitle.mkv", "all.mkv", {V, A, S}},
      {{}, "mkv_subtitle.mkv", "all.mp4", {V, A}},  // MP4 has no subtitle format of its own
      {{{"vn", ""}}, "mkv_subtitle.mkv", "novideo.mkv", {A, S}},
      {{{"an", ""}}, "mkv_subtitle.mkv", "noaudio.mkv", {V, S}},
      {{{"sn", ""}}, "mkv_subtitle.mkv", "nosubtitle.mkv", {V, A}},
      {{{"vn", ""}, {"an", ""}, {"sn", ""}}, "mkv_subtitle.mkv", "nothing.mkv", {}},
      {{}, "tone.wav", "audio.mp4", {A}},
      {{}, "video_only.avi", "video.avi", {V}},
      {{}, "avi_mpeg4_mp3.avi", "sound.wav", {A}},  // the muxer has no video
      {{{"scodec", "copy"}}, "avi_mpeg4_mp3.avi", "nosubs.mkv", {V, A}},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.output);
    TCustomFFmpeg fresh;
    fresh.InitSession();
    ASSERT_TRUE(fresh.OpenInputFile(Fixture(c.input))) << fresh.LastError;
    for (const auto& [name, value] : c.options) fresh.ParseOption(name, value);
    ASSERT_TRUE(fresh.OpenOutputFile(folder.File(c.output))) << fresh.LastError;
    ASSERT_EQ(fresh.OutputFileCount, 1);
    std::vector<AVMediaType> types;
    for (const TOutputStreamRecord& stream : fresh.OutputRecord(0).Streams) {
      types.push_back(stream.Encoder->codec_type);
      EXPECT_EQ(stream.Stream->index, static_cast<int>(types.size()) - 1);
      EXPECT_FALSE(stream.StreamCopy);
      EXPECT_NE(stream.Codec, nullptr) << "no encoder for stream " << stream.Stream->index;
      if (stream.Codec) {
        EXPECT_EQ(stream.Encoder->codec_id, stream.Codec->id);
      }
    }
    EXPECT_EQ(types, c.types);
    EXPECT_EQ(fresh.OutputFiles[0]->nb_streams, c.types.size());
  }
}

TEST_F(SessionTest, StreamsTakeThePictureAndSoundOfTheInput) {
  ASSERT_TRUE(session.OpenInputFile(Fixture("mp4_h264_aac.mp4"))) << session.LastError;
  ASSERT_TRUE(session.OpenOutputFile(folder.File("out.mp4"))) << session.LastError;
  AVCodecContext* video = Encoder(0, 0);
  AVCodecContext* audio = Encoder(0, 1);
  EXPECT_EQ(video->width, 320);
  EXPECT_EQ(video->height, 240);
  EXPECT_EQ(video->time_base.num, 1);
  EXPECT_EQ(video->time_base.den, 25);
  EXPECT_EQ(video->sample_aspect_ratio.num, video->sample_aspect_ratio.den);  // square samples
  EXPECT_TRUE(video->flags & AV_CODEC_FLAG_GLOBAL_HEADER);                    // MP4 wants global headers
  EXPECT_EQ(video->thread_count, 0);  // the library picks the thread count
  EXPECT_EQ(audio->sample_rate, 44100);
  EXPECT_EQ(audio->ch_layout.nb_channels, 2);
  EXPECT_EQ(audio->time_base.den, 44100);
  EXPECT_TRUE(audio->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
}

TEST_F(SessionTest, EncoderSettingsComeFromTheOptions) {
  Apply({{"s", "720x480"},
         {"aspect", "16:9"},
         {"r", "26"},
         {"vcodec", "mpeg2video"},
         {"pix_fmt", "rgb24"},
         {"qscale", "4"},
         {"pass", "1"},
         {"psnr", ""},
         {"g", "12"},
         {"bufsize", "1835008"},
         {"rc_override", "0,100,5/200,300,-50"},
         {"vglobal", "2"},
         {"acodec", "aac"},
         {"sample_fmt", "u8"},
         {"ar", "48000"},
         {"ac", "1"},
         {"alang", "english"},
         {"title", "My Title"},
         {"author", "Me"},
         {"genre", std::string(40, 'g')},
         {"timestamp", "2020-01-02T03:04:05Z"}});
  ASSERT_TRUE(session.OpenOutputFile(folder.File("out.mkv"))) << session.LastError;
  ASSERT_EQ(StreamTypes(0), (std::vector<AVMediaType>{V, A, S}));
  AVCodecContext* video = Encoder(0, 0);
  EXPECT_EQ(video->codec_id, AV_CODEC_ID_MPEG2VIDEO);
  EXPECT_EQ(video->time_base.num, 1);  // 26 frames/s snapped to the nearest MPEG-2 rate
  EXPECT_EQ(video->time_base.den, 25);
  EXPECT_EQ(video->sample_aspect_ratio.num, 32);  // 16:9 on 720x480
  EXPECT_EQ(video->sample_aspect_ratio.den, 27);
  EXPECT_EQ(session.OutputRecord(0).Streams[0].Stream->sample_aspect_ratio.num, 32);
  EXPECT_EQ(video->pix_fmt, AV_PIX_FMT_YUV420P);  // rgb24 is not an MPEG-2 format
  EXPECT_EQ(video->gop_size, 12);
  EXPECT_EQ(video->rc_initial_buffer_occupancy, 1835008 * 3 / 4);
  EXPECT_EQ(video->global_quality, 4 * FF_QP2LAMBDA);
  const int flags = AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PSNR;
  EXPECT_EQ(video->flags & flags, flags);
  EXPECT_FALSE(video->flags & AV_CODEC_FLAG_GLOBAL_HEADER);  // vglobal 2 asks for local headers only
  EXPECT_TRUE(video->flags2 & AV_CODEC_FLAG2_LOCAL_HEADER);
  ASSERT_EQ(video->rc_override_count, 2);
  EXPECT_EQ(video->rc_override[0].start_frame, 0);
  EXPECT_EQ(video->rc_override[0].end_frame, 100);
  EXPECT_EQ(video->rc_override[0].qscale, 5);
  EXPECT_FLOAT_EQ(video->rc_override[0].quality_factor, 1.0f);
  EXPECT_EQ(video->rc_override[1].qscale, 0);
  EXPECT_FLOAT_EQ(video->rc_override[1].quality_factor, 0.5f);

  AVCodecContext* audio = Encoder(0, 1);
  EXPECT_EQ(audio->codec_id, AV_CODEC_ID_AAC);
  EXPECT_EQ(audio->sample_fmt, AV_SAMPLE_FMT_FLTP);  // u8 is not an AAC format
  EXPECT_EQ(audio->sample_rate, 48000);
  EXPECT_EQ(audio->ch_layout.nb_channels, 1);
  const AVDictionaryEntry* language =
      FF.av_dict_get(session.OutputRecord(0).Streams[1].Stream->metadata, "language", nullptr, 0);
  ASSERT_NE(language, nullptr);
  EXPECT_STREQ(language->value, "eng");
  EXPECT_TRUE(session.AudioLanguage.empty());

  AVDictionary* metadata = session.OutputFiles[0]->metadata;
  auto tag = [&](const char* key) {
    const AVDictionaryEntry* entry = FF.av_dict_get(metadata, key, nullptr, 0);
    return entry ? std::string(entry->value) : std::string("(none)");
  };
  EXPECT_EQ(tag("title"), "My Title");
  EXPECT_EQ(tag("artist"), "Me");
  EXPECT_EQ(tag("genre"), std::string(31, 'g'));
  EXPECT_EQ(tag("creation_time"), "2020-01-02T03:04:05.000000Z");
  EXPECT_EQ(tag("date"), "(none)");
}

TEST_F(SessionTest, CustomMatricesAndStreamOptionsAreConsumed) {
  std::string matrix;
  for (int i = 0; i < 64; ++i) matrix += (i ? "," : "") + std::to_string(8 + i);
  Apply({{"s", "320x240"},
         {"vcodec", "mpeg4"},
         {"intra_matrix", matrix},
         {"inter_matrix", matrix},
         {"vbsf", "dump_extra"}});
  ASSERT_TRUE(session.OpenOutputFile(folder.File("out.avi"))) << session.LastError;
  const TOutputStreamRecord& stream = session.OutputRecord(0).Streams[0];
  ASSERT_NE(stream.Encoder->intra_matrix, nullptr);
  EXPECT_EQ(stream.Encoder->intra_matrix[63], 71);
  EXPECT_EQ(stream.Encoder->inter_matrix[0], 8);
  ASSERT_EQ(stream.BitstreamFilters.size(), 1u);
  EXPECT_STREQ(stream.BitstreamFilters[0].Filter->name, "dump_extra");
  EXPECT_TRUE(session.VideoBitstreamFilters.empty());
  EXPECT_TRUE(session.VideoCodecName.empty());
}

TEST_F(SessionTest, H264OptionsReachTheEncoderWhenItOpens) {
  Apply({{"s", "320x240"},
         {"vcodec", "libx264"},
         {"vlevel", "13"},
         {"coder", "0"},
         {"crf", "20"},
         {"bufsize", "128000"},
         {"maxrate", "1500000"},
         {"an", ""}});
  ASSERT_TRUE(session.OpenOutputFile(folder.File("h264.mp4"))) << session.LastError;
  TOutputStreamRecord& stream = session.OutputRecord(0).Streams[0];
  AVCodecContext* encoder = stream.Encoder.get();
  EXPECT_EQ(encoder->level, 13);
  EXPECT_EQ(encoder->rc_buffer_size, 128000);
  EXPECT_EQ(encoder->rc_max_rate, 1500000);
  EXPECT_EQ(encoder->bit_rate, 0);  // the encoder's own default: quality mode
  ASSERT_NE(stream.EncoderOptions, nullptr);
  EXPECT_EQ(FF.av_dict_count(stream.EncoderOptions.get()), 2);

  AVDictionary* options = nullptr;
  FF.av_dict_copy(&options, stream.EncoderOptions.get(), 0);
  EXPECT_GE(FF.avcodec_open2(encoder, stream.Codec, &options), 0);
  EXPECT_EQ(FF.av_dict_count(options), 0) << "every encoder option was taken";
  FF.av_dict_free(&options);
  int64_t coder = -2;
  FF.av_opt_get_int(encoder->priv_data, "coder", 0, &coder);
  EXPECT_EQ(coder, 0);
}

TEST_F(SessionTest, CopiedVideoWithoutAspectHasNoSampleAspect) {
  Apply({{"vcodec", "copy"}, {"acodec", "copy"}});
  ASSERT_TRUE(session.OpenOutputFile(folder.File("copy.mkv"))) << session.LastError;
  ASSERT_GE(session.OutputRecord(0).Streams.size(), 2u);
  const TOutputStreamRecord& video = session.OutputRecord(0).Streams[0];
  EXPECT_TRUE(video.StreamCopy);
  EXPECT_EQ(video.Codec, nullptr);
  EXPECT_EQ(video.Stream->sample_aspect_ratio.num, 0);
  EXPECT_TRUE(session.OutputRecord(0).Streams[1].StreamCopy);
  EXPECT_EQ(session.VideoStreamCopy + session.AudioStreamCopy, 0);
}

TEST_F(SessionTest, NewStreamOptionsAppendToTheLastOutput) {
  ASSERT_TRUE(session.OpenInputFile(Fixture("mp4_h264_aac.mp4"))) << session.LastError;
  ASSERT_TRUE(session.OpenOutputFile(folder.File("first.mkv"))) << session.LastError;
  ASSERT_TRUE(session.OpenOutputFile(folder.File("second.mkv"))) << session.LastError;
  Apply({{"acodec", "mp2"}, {"alang", "ger"}, {"newaudio", ""}, {"vbsf", "dump_extra"}, {"newvideo", ""}});
  EXPECT_EQ(StreamTypes(0), (std::vector<AVMediaType>{V, A}));
  EXPECT_EQ(StreamTypes(1), (std::vector<AVMediaType>{V, A, A, V}));
  EXPECT_EQ(Encoder(1, 2)->codec_id, AV_CODEC_ID_MP2);
  EXPECT_EQ(session.OutputRecord(1).Streams[3].BitstreamFilters.size(), 1u);
  EXPECT_EQ(session.OutputFiles[1]->nb_streams, 4u);
}

struct OutputFailure {
  std::vector<std::pair<std::string, std::string>> options;
  std::string file;   // in the test folder
  std::string error;  // "%s" stands for the file's path
};

TEST_F(SessionTest, FailedOutputsExplainWhyAndLeaveNothingBehind) {
  const OutputFailure cases[] = {
      {{}, "out.nosuchextension", "Unable to find a suitable output format for '%s'"},
      {{}, "missing-folder/out.mp4", "Could not open '%s'"},
      {{{"vcodec", "nosuch"}}, "a.mp4", "new_video_stream fail: Unknown encoder 'nosuch'"},
      {{{"rc_override", "0;100,5"}}, "b.mp4", "new_video_stream fail: error parsing rc_override"},
      {{{"rc_override", "0,100,5/x"}}, "c.mp4", "new_video_stream fail: error parsing rc_override"},
      {{{"acodec", "mpeg4"}}, "d.mp4", "new_audio_stream fail: Invalid encoder type 'mpeg4'"},
      {{{"scodec", "nosuch"}}, "e.mkv", "new_subtitle_stream fail: Unknown encoder 'nosuch'"},
      {{{"s", "320x240"}, {"croptop", "10"}, {"vfilters", "hflip"}},
       "f.mp4",
       "Cannot enable crop options and filters at the same time."},
      {{{"padtop", "8"}, {"vfilters", "hflip,SCALE=320:240"}},
       "g.mp4",
       "Cannot enable pad options and the filters which resize frame at the same time. "
       "(crop, rotate, scale, transpose, etc.)"},
  };
  for (const OutputFailure& c : cases) {
    SCOPED_TRACE(c.file);
    TCustomFFmpeg fresh;
    fresh.InitSession();
    ASSERT_TRUE(fresh.OpenInputFile(Fixture("mkv_subtitle.mkv"))) << fresh.LastError;
    for (const auto& [name, value] : c.options) fresh.ParseOption(name, value);
    const std::string path = folder.File(c.file);
    EXPECT_FALSE(fresh.OpenOutputFile(path));
    std::string expected = c.error;
    const size_t at = expected.find("%s");
    if (at != std::string::npos) expected.replace(at, 2, path);
    EXPECT_EQ(fresh.LastError, expected);
    EXPECT_EQ(fresh.OutputFileCount, 0);
    EXPECT_EQ(fresh.ForcedOutputFormat, nullptr);
    EXPECT_FALSE(fs::exists(path));
  }
}

TEST_F(SessionTest, ResizeCheckLooksAtFilterNamesOnly) {
  Apply({{"padtop", "8"}, {"vfilters", "hflip,eq=contrast=1.1"}});
  ASSERT_TRUE(session.OpenOutputFile(folder.File("padded.mp4"))) << session.LastError;
  EXPECT_TRUE(session.UseFilters);
}

TEST_F(SessionTest, ReleaseRemovesOnlyEmptyOutputsTheSessionOpened) {
  const std::string unwritten = folder.File("unwritten.mp4");
  const std::string written = folder.File("written.mp4");
  const std::string foreign = folder.File("foreign.nosuchextension");
  std::ofstream(foreign).close();  // an empty file the session must not touch
  ASSERT_TRUE(session.OpenInputFile(Fixture("tone.wav")));
  ASSERT_TRUE(session.OpenOutputFile(unwritten)) << session.LastError;
  ASSERT_TRUE(session.OpenOutputFile(written)) << session.LastError;
  EXPECT_FALSE(session.OpenOutputFile(foreign));
  EXPECT_TRUE(fs::exists(unwritten));
  std::ofstream(written, std::ios::app) << "data";

  session.ReleaseSession();
  EXPECT_FALSE(fs::exists(unwritten));
  EXPECT_TRUE(fs::exists(written));
  EXPECT_TRUE(fs::exists(foreign));
  EXPECT_EQ(session.OutputFileCount, 0);
  EXPECT_EQ(session.InputFileCount, 0);
  session.ReleaseSession();  // a second release has nothing left to do
  EXPECT_TRUE(fs::exists(written));
}

TEST_F(SessionTest, MoreThanTwentyOutputsAreRefused) {
  session.ParseOption("an", "");  // outputs without streams are enough here
  for (int i = 0; i < TCustomFFmpeg::MaxFiles; ++i) {
    ASSERT_TRUE(session.OpenOutputFile(folder.File("out" + std::to_string(i) + ".wav"))) << session.LastError;
  }
  EXPECT_THROW(session.OpenOutputFile(folder.File("one-too-many.wav")), FFMpegException);
  EXPECT_EQ(session.OutputFileCount, TCustomFFmpeg::MaxFiles);
}

}  // namespace
