// The media libraries are not built with the thread sanitizer: their own
// ordering of memory (atomic reference counts of shared buffers, the codecs'
// frame threads) is invisible to it, so what they order looks like a race.
// The sanitizer leaves out what those libraries do through its interceptors
// (allocation, copies); everything this program's own code does is checked.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libavutil.so\ncalled_from_lib:libavcodec.so\n";
}
