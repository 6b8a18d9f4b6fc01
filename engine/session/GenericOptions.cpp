// The library's option system: generic codec, format and scaler options,
// options that belong to one encoder or muxer, and codec lookup by name.
#include <algorithm>
#include <cstring>

#include "engine/binding/CodecAliases.h"
#include "engine/binding/EngineLog.h"
#include "engine/binding/MediaLibraries.h"
#include "engine/binding/MyUtils.h"
#include "engine/session/CustomFFmpeg.h"

namespace {

// Option flag masks per media type: video, audio, data, subtitle, attachment.
constexpr int kTypeMasks[TCustomFFmpeg::MediaTypeCount] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM,
                                                           0, AV_OPT_FLAG_SUBTITLE_PARAM, 0};

// Options that would let a file reach other files or the network; every open
// sets them itself.
bool IsAccessOption(const std::string& name) {
  static const char* const kNames[] = {"protocol_whitelist", "protocol_blacklist", "format_whitelist"};
  for (const char* refused : kNames)
    if (name == refused) return true;
  return false;
}

std::string Trimmed(const std::string& text) {
  size_t first = 0, last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

const AVOption* FindOwnOption(void* object, const char* name, int flags) {
  return FF.av_opt_find2(object, name, nullptr, flags, 0, nullptr);
}

const AVOption* FindClassOption(const AVClass* const* cls, const char* name) {
  return FF.av_opt_find2(const_cast<const AVClass**>(cls), name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ, nullptr);
}

}  // namespace

bool TCustomFFmpeg::EnsureOptionHolders() {
  if (CodecOptions[0] && FormatOptions && ScalerOptions) return true;
  if (!MediaLibrariesLoaded()) return false;
  for (int type = 0; type < MediaTypeCount; ++type) {
    if (CodecOptions[type]) continue;
    CodecOptions[type] = FF.avcodec_alloc_context3(nullptr);
    if (!CodecOptions[type]) return false;
    CodecOptions[type]->codec_type = static_cast<AVMediaType>(type);
  }
  if (!FormatOptions) FormatOptions = FF.avformat_alloc_context();
  if (!ScalerOptions)
    ScalerOptions = FF.sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P, SwsFlags,
                                      nullptr, nullptr, nullptr);
  return FormatOptions && ScalerOptions;
}

void TCustomFFmpeg::FreeOptionHolders() {
  for (AVCodecContext*& holder : CodecOptions) {
    if (holder) FF.avcodec_free_context(&holder);
    holder = nullptr;
  }
  if (FormatOptions) FF.avformat_free_context(FormatOptions);
  FormatOptions = nullptr;
  if (ScalerOptions) FF.sws_freeContext(ScalerOptions);
  ScalerOptions = nullptr;
  setInHolder_.clear();
}

bool TCustomFFmpeg::SetGenericOption(const std::string& givenName, const std::string& value) {
  if (Trimmed(givenName).empty() || Trimmed(value).empty()) return false;
  const std::string name = CurrentOptionName(givenName);
  if (IsAccessOption(name) || !EnsureOptionHolders()) return false;

  const AVOption* found = nullptr;
  auto setIn = [&](void* holder, const std::string& optionName, int flags) {
    const AVOption* option = FindOwnOption(holder, optionName.c_str(), flags);
    if (!option || FF.av_opt_set(holder, optionName.c_str(), value.c_str(), 0) < 0) return false;
    found = option;
    setInHolder_.emplace_back(holder, option->name);
    return true;
  };

  for (int type = 0; type < MediaTypeCount; ++type) {
    // The option is looked up in the first holder with the type's mask as
    // required flags; every holder has the same options.
    if (!FindOwnOption(CodecOptions[0], name.c_str(), kTypeMasks[type])) continue;
    setIn(CodecOptions[type], name, 0);
  }
  if (!found) setIn(FormatOptions, name, 0);
  if (!found) setIn(ScalerOptions, name, 0);
  if (!found && name.size() > 1) {
    // "vb" sets "b" of the video options, "abt" sets "bt" of the audio ones.
    int type = -1;
    if (name[0] == 'a') type = AVMEDIA_TYPE_AUDIO;
    if (name[0] == 'v') type = AVMEDIA_TYPE_VIDEO;
    if (name[0] == 's') type = AVMEDIA_TYPE_SUBTITLE;
    if (type >= 0) setIn(CodecOptions[type], name.substr(1), 0);
  }
  if (!found) {
    std::string movedName, movedValue;
    if (name == "flags" && FlagMovedToOption(value, movedName, movedValue))
      return SetPrivateOption(movedName, movedValue);
    return SetPrivateOption(name, value);
  }

  GenericOptionNames.emplace_back(found->name);
  int64_t videoDebug = 0, formatDebug = 0;
  FF.av_opt_get_int(CodecOptions[AVMEDIA_TYPE_VIDEO], "debug", 0, &videoDebug);
  FF.av_opt_get_int(FormatOptions, "fdebug", 0, &formatDebug);
  if (videoDebug != 0 || formatDebug != 0) SetVerbose(2);
  return true;
}

bool TCustomFFmpeg::SetGenericOptionInt(const std::string& name, int64_t number) {
  return SetGenericOption(name, std::to_string(number));
}

// Options that belong to one encoder (x264's "crf", "coder"...) or one muxer
// ("muxrate", "preload"...). The value must be accepted by at least one of
// them; it reaches the encoder or muxer when an output uses it.
bool TCustomFFmpeg::SetPrivateOption(const std::string& name, const std::string& value) {
  void* opaque = nullptr;
  while (const AVCodec* codec = FF.av_codec_iterate(&opaque)) {
    if (!FF.av_codec_is_encoder(codec) || !codec->priv_class) continue;
    if (!FindClassOption(&codec->priv_class, name.c_str())) continue;
    AVCodecContext* probe = FF.avcodec_alloc_context3(codec);
    const bool accepted =
        probe && probe->priv_data && FF.av_opt_set(probe->priv_data, name.c_str(), value.c_str(), 0) >= 0;
    FF.avcodec_free_context(&probe);
    if (!accepted) continue;
    EncoderPrivateOptions.emplace_back(name, value);
    GenericOptionNames.push_back(name);
    return true;
  }
  opaque = nullptr;
  while (const AVOutputFormat* muxer = FF.av_muxer_iterate(&opaque)) {
    if (!muxer->priv_class || !FindClassOption(&muxer->priv_class, name.c_str())) continue;
    AVFormatContext* probe = nullptr;
    FF.avformat_alloc_output_context2(&probe, muxer, nullptr, nullptr);
    const bool accepted =
        probe && probe->priv_data && FF.av_opt_set(probe->priv_data, name.c_str(), value.c_str(), 0) >= 0;
    if (probe) FF.avformat_free_context(probe);
    if (!accepted) continue;
    MuxerPrivateOptions.emplace_back(name, value);
    GenericOptionNames.push_back(name);
    return true;
  }
  return false;
}

void TCustomFFmpeg::SetContextOptions(void* context, void* optionsContext, int flagMask) {
  if (!context || !optionsContext) return;
  for (const std::string& name : GenericOptionNames) {
    const bool setHere = std::any_of(setInHolder_.begin(), setInHolder_.end(), [&](const auto& entry) {
      return entry.first == optionsContext && entry.second == name;
    });
    if (!setHere) continue;
    const AVOption* option = FindOwnOption(optionsContext, name.c_str(), 0);
    if (!option || (option->flags & flagMask) != flagMask) continue;
    uint8_t* text = nullptr;
    if (FF.av_opt_get(optionsContext, name.c_str(), 0, &text) >= 0 && text)
      FF.av_opt_set(context, name.c_str(), reinterpret_cast<const char*>(text), 0);
    FF.av_free(text);
  }
}

void TCustomFFmpeg::ApplyEncoderPrivateOptions(TOutputStreamRecord& record) {
  const AVCodec* codec = record.Codec;
  if (!codec || !codec->priv_class || !record.Encoder || !record.Encoder->priv_data) return;
  for (const auto& [name, value] : EncoderPrivateOptions) {
    if (!FindClassOption(&codec->priv_class, name.c_str())) continue;
    if (FF.av_opt_set(record.Encoder->priv_data, name.c_str(), value.c_str(), 0) < 0) {
      Log(1, "Encoder %s does not accept %s=%s; ignored", codec->name, name.c_str(), value.c_str());
      continue;
    }
    AVDictionary* options = record.EncoderOptions.release();
    FF.av_dict_set(&options, name.c_str(), value.c_str(), 0);
    record.EncoderOptions.reset(options);
  }
}

void TCustomFFmpeg::ApplyMuxerPrivateOptions(AVFormatContext* output, TOutputFileRecord& record) {
  const AVOutputFormat* muxer = output->oformat;
  if (!muxer->priv_class || !output->priv_data) return;
  auto apply = [&](const std::string& name, const std::string& value) {
    if (!FindClassOption(&muxer->priv_class, name.c_str())) return;
    if (FF.av_opt_set(output->priv_data, name.c_str(), value.c_str(), 0) < 0) {
      Log(1, "Muxer %s does not accept %s=%s; ignored", muxer->name, name.c_str(), value.c_str());
      return;
    }
    AVDictionary* options = record.MuxerOptions.release();
    FF.av_dict_set(&options, name.c_str(), value.c_str(), 0);
    record.MuxerOptions.reset(options);
  };
  // Preload and loop count became options of the muxers that use them.
  apply("preload", std::to_string(static_cast<int64_t>(MuxPreload * 1000000)));
  if (const AVOption* loop = FindClassOption(&muxer->priv_class, "loop")) {
    if (LoopOutput >= loop->min && LoopOutput <= loop->max) apply("loop", std::to_string(LoopOutput));
  }
  for (const auto& [name, value] : MuxerPrivateOptions) apply(name, value);
}

const AVCodec* TCustomFFmpeg::FindCodecByName(const std::string& name, AVMediaType type, bool encoder) {
  const char* kind = encoder ? "encoder" : "decoder";
  auto lookup = [&](const std::string& candidate) {
    return encoder ? FF.avcodec_find_encoder_by_name(candidate.c_str())
                   : FF.avcodec_find_decoder_by_name(candidate.c_str());
  };
  const AVCodec* codec = nullptr;
  if (encoder) {
    codec = lookup(ResolveEncoderName(name, [&](const std::string& candidate) { return lookup(candidate); }));
  } else {
    codec = lookup(name);
    if (!codec) codec = lookup(CurrentEncoderName(name));
  }
  if (!codec) {
    LastError = FormatText("Unknown %s '%s'", kind, name.c_str());
    return nullptr;
  }
  if (codec->type != type) {
    LastError = FormatText("Invalid %s type '%s'", kind, name.c_str());
    return nullptr;
  }
  return codec;
}

bool TCustomFFmpeg::FindCodec(const std::string& name, AVMediaType type, bool encoder, AVCodecID& codecId) {
  codecId = AV_CODEC_ID_NONE;
  if (name.empty()) return true;
  const AVCodec* codec = FindCodecByName(name, type, encoder);
  if (!codec) return false;
  codecId = codec->id;
  return true;
}
