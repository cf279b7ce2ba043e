// Where the sound of a playing movie goes. A movie playing at its normal rate
// (exactly 1) with a positive volume plays its enabled sound tracks through
// one of these, fed from a thread of its own; every other rate is silent.
//
// The output in use comes from a factory: by default the PulseAudio output
// when a sound server answers, else the null output (no sound, no error).
// Tests install their own, such as the recording output below.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/base/MacTypes.h"

class CSoundOutput {
 public:
  virtual ~CSoundOutput() = default;

  // Prepares for interleaved 16-bit host-order samples; false when the
  // output cannot play (no sound server): the movie then plays silently.
  // Called on the sound thread.
  virtual bool Open(SInt32 inRate, SInt16 inChannels) = 0;
  // Plays whole sample frames; a paced output blocks while its buffer is
  // full. Sound thread only. False when the output failed for good.
  virtual bool Write(const SInt16* inSamples, size_t inFrames) = 0;
  // Drops what is queued and not yet heard (stop, seek). Sound thread only.
  virtual void Flush() {}
  // Lets what is queued be heard to its end. Sound thread only.
  virtual void Drain() {}
  // Microseconds from a frame written now to its being heard.
  virtual SInt64 GetLatencyMicros() { return 0; }
  // True when writes are paced by a real device, whose clock the movie then
  // follows; false for outputs that take sound as fast as it is given, which
  // are fed by the movie's own clock.
  virtual bool IsPaced() const { return false; }
  // True for an output that throws everything away (nothing is decoded for it).
  virtual bool Discards() const { return false; }
};

typedef std::function<std::unique_ptr<CSoundOutput>()> SoundOutputFactory;

// Installs the factory of the outputs later playback uses; nil restores the
// default (PulseAudio when a server answers, else the null output).
void SetSoundOutputFactory(SoundOutputFactory inFactory);
// A new output from the current factory.
std::unique_ptr<CSoundOutput> NewSoundOutput();

std::unique_ptr<CSoundOutput> NewNullSoundOutput();
// The PulseAudio simple-API output, or nil when this build has none or no
// server can be reached (without starting one).
std::unique_ptr<CSoundOutput> NewPulseSoundOutput();

// Keeps every frame written to it, in order, for tests. Unpaced. Several
// outputs made by one recorder's factory write into the same record. Make
// it with std::make_shared: its outputs keep it alive.
class CSoundRecorder : public std::enable_shared_from_this<CSoundRecorder> {
 public:
  struct Record {
    SInt32 rate = 0;
    SInt16 channels = 0;
    std::vector<SInt16> samples;
    int opens = 0;
  };
  SoundOutputFactory Factory();
  // The record so far.
  Record Get() const;
  // Waits (real time, at most inMillis) until at least inFrames frames have
  // been written; answers whether they have.
  bool WaitForFrames(size_t inFrames, int inMillis) const;
  void Clear();

 private:
  friend class CRecordingSoundOutput;
  mutable std::mutex mLock;
  mutable std::condition_variable mChanged;
  Record mRecord;
};
