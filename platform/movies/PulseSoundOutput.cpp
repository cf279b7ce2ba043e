// The sound output over PulseAudio's simple API (also served by PipeWire's
// Pulse service). Every call is made on the sound thread.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/movies/SoundOutput.h"

#ifdef TRX_HAVE_PULSE
#include <pulse/error.h>
#include <pulse/simple.h>

namespace {

bool IsSocket(const std::string& inPath) {
  struct stat st;
  return ::stat(inPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// Whether a server may answer. Checked before connecting so that a machine
// without one never has a server started for it (the library would
// otherwise try to spawn one) and playback stays silent at once.
bool ServerMayAnswer() {
  if (const char* server = std::getenv("PULSE_SERVER"); server && *server) return true;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
    if (IsSocket(std::string(runtime) + "/pulse/native")) return true;
  if (IsSocket("/run/user/" + std::to_string(::getuid()) + "/pulse/native")) return true;
  return IsSocket("/run/pulse/native") || IsSocket("/var/run/pulse/native");
}

class CPulseSoundOutput : public CSoundOutput {
 public:
  ~CPulseSoundOutput() override {
    if (mStream) pa_simple_free(mStream);
  }

  bool Open(SInt32 inRate, SInt16 inChannels) override {
    if (inRate <= 0 || inChannels <= 0 || inChannels > static_cast<SInt16>(PA_CHANNELS_MAX)) return false;
    pa_sample_spec spec;
    spec.format = PA_SAMPLE_S16NE;
    spec.rate = static_cast<uint32_t>(inRate);
    spec.channels = static_cast<uint8_t>(inChannels);
    mFrameBytes = 2 * static_cast<size_t>(inChannels);
    // About a tenth of a second queued: a stop or a seek is heard at once
    // and the writes wake the thread often enough to notice it.
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(100000, &spec));
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    int error = 0;
    mStream = pa_simple_new(nullptr, "Tremblorix", PA_STREAM_PLAYBACK, nullptr, "Movie sound", &spec, nullptr, &attr,
                            &error);
    return mStream != nullptr;
  }

  bool Write(const SInt16* inSamples, size_t inFrames) override {
    if (!mStream) return false;
    int error = 0;
    return pa_simple_write(mStream, inSamples, inFrames * mFrameBytes, &error) == 0;
  }

  void Flush() override {
    int error = 0;
    if (mStream) pa_simple_flush(mStream, &error);
  }

  void Drain() override {
    int error = 0;
    if (mStream) pa_simple_drain(mStream, &error);
  }

  SInt64 GetLatencyMicros() override {
    int error = 0;
    if (!mStream) return 0;
    const pa_usec_t latency = pa_simple_get_latency(mStream, &error);
    return latency == static_cast<pa_usec_t>(-1) ? 0 : static_cast<SInt64>(latency);
  }

  bool IsPaced() const override { return true; }

 private:
  pa_simple* mStream = nullptr;
  size_t mFrameBytes = 4;
};

}  // namespace

std::unique_ptr<CSoundOutput> NewPulseSoundOutput() {
  if (!ServerMayAnswer()) return nullptr;
  return std::make_unique<CPulseSoundOutput>();
}

#else

std::unique_ptr<CSoundOutput> NewPulseSoundOutput() { return nullptr; }

#endif
