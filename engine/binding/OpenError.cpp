#include "engine/binding/OpenError.h"

#include <cerrno>

#include "engine/binding/FFmpegHeaders.h"

std::string FormatOpenError(const std::string& fileName, int errorCode) {
  const char* tail = ": Error while opening file";
  switch (errorCode) {
    case AVERROR_DEMUXER_NOT_FOUND:
    case AVERROR(EILSEQ):
      tail = ": Unknown format";
      break;
    case AVERROR(EDOM):
      tail =
          ": Incorrect image filename syntax.\r\n"
          "Use '%d' to specify the image number:\r\n"
          "  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n"
          "  for img001.jpg, img002.jpg, ..., use 'img%03d.jpg'.";
      break;
    case AVERROR_INVALIDDATA:
    case AVERROR(EINVAL):
      tail = ": Error while parsing header";
      break;
    case AVERROR(ENOMEM):
      tail = ": memory allocation error occurred";
      break;
    case AVERROR(EIO):
    case AVERROR_EOF:
      tail = ": I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted.";
      break;
    case AVERROR(ENOENT):
      tail = ": no such file or directory";
      break;
    default:
      break;
  }
  return fileName + tail;
}
