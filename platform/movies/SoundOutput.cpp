#include "platform/movies/SoundOutput.h"

#include <chrono>

namespace {

std::mutex sFactoryLock;
SoundOutputFactory sFactory;

class CNullSoundOutput : public CSoundOutput {
 public:
  bool Open(SInt32, SInt16) override { return true; }
  bool Write(const SInt16*, size_t) override { return true; }
  bool Discards() const override { return true; }
};

}  // namespace

class CRecordingSoundOutput : public CSoundOutput {
 public:
  explicit CRecordingSoundOutput(std::shared_ptr<CSoundRecorder> inRecorder) : mRecorder(std::move(inRecorder)) {}
  bool Open(SInt32 inRate, SInt16 inChannels) override {
    std::lock_guard<std::mutex> g(mRecorder->mLock);
    mRecorder->mRecord.rate = inRate;
    mRecorder->mRecord.channels = inChannels;
    ++mRecorder->mRecord.opens;
    mChannels = inChannels;
    return true;
  }
  bool Write(const SInt16* inSamples, size_t inFrames) override {
    {
      std::lock_guard<std::mutex> g(mRecorder->mLock);
      mRecorder->mRecord.samples.insert(mRecorder->mRecord.samples.end(), inSamples,
                                        inSamples + inFrames * static_cast<size_t>(mChannels));
    }
    mRecorder->mChanged.notify_all();
    return true;
  }

 private:
  std::shared_ptr<CSoundRecorder> mRecorder;
  SInt16 mChannels = 1;
};

void SetSoundOutputFactory(SoundOutputFactory inFactory) {
  std::lock_guard<std::mutex> g(sFactoryLock);
  sFactory = std::move(inFactory);
}

std::unique_ptr<CSoundOutput> NewSoundOutput() {
  SoundOutputFactory factory;
  {
    std::lock_guard<std::mutex> g(sFactoryLock);
    factory = sFactory;
  }
  if (factory) {
    if (auto out = factory()) return out;
    return NewNullSoundOutput();
  }
  if (auto pulse = NewPulseSoundOutput()) return pulse;
  return NewNullSoundOutput();
}

std::unique_ptr<CSoundOutput> NewNullSoundOutput() { return std::make_unique<CNullSoundOutput>(); }

SoundOutputFactory CSoundRecorder::Factory() {
  std::shared_ptr<CSoundRecorder> self = shared_from_this();
  return [self]() -> std::unique_ptr<CSoundOutput> { return std::make_unique<CRecordingSoundOutput>(self); };
}

CSoundRecorder::Record CSoundRecorder::Get() const {
  std::lock_guard<std::mutex> g(mLock);
  return mRecord;
}

bool CSoundRecorder::WaitForFrames(size_t inFrames, int inMillis) const {
  std::unique_lock<std::mutex> g(mLock);
  return mChanged.wait_for(g, std::chrono::milliseconds(inMillis), [&] {
    const size_t channels = mRecord.channels > 0 ? static_cast<size_t>(mRecord.channels) : 1;
    return mRecord.samples.size() / channels >= inFrames;
  });
}

void CSoundRecorder::Clear() {
  std::lock_guard<std::mutex> g(mLock);
  mRecord = Record();
}
