#include "engine/binding/CodecLock.h"

std::mutex& CodecLock() {
  static std::mutex lock;
  return lock;
}
