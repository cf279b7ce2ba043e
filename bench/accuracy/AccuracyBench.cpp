// Ground-truth accuracy of the automatic tracker on a shaken photograph: a
// still picture is seen through a camera that moves by known sub-pixel
// amounts from frame to frame, the frames are encoded with libx264 at CRF 16
// and decoded again, as a handheld clip arrives, then tracked at accuracies
// 1, 2 and 3. Prints the RMS translation error (px, length of the error
// vector) and the RMS rotation error (rad) against the known motion, for the
// encoded frames and, to tell the codec's share from the tracker's, for the
// rendered frames before encoding.
//
// The picture: a photograph given as the first argument (any still format
// libavformat reads: JPEG, PNG...), or else a deterministic photograph-like
// texture (value noise of many octaves with a natural 1/f spectrum, soft
// shaded shapes and fine grain).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "ShakyScene.h"
#include "media/CBuffer.h"
#include "motion/CAutoMotionTracker.h"

using namespace shaky;

namespace {

constexpr SInt32 kWidth = 1280, kHeight = 720;
constexpr SInt32 kFrames = 90;
// The texture is sampled at twice the picture's resolution, and each picture
// pixel averages 2 x 2 texture samples, as a sensor integrates its area.
constexpr double kOversample = 2.0;
constexpr double kTarget = 0.05;  // px RMS of a good block-matching stabiliser on such a shake

// The luminance of the first picture of a still image file, scaled to cover
// inWidth x inHeight (cropped to the aspect ratio); empty on failure.
Texture LoadPhotoTexture(const char* inPath, SInt32 inWidth, SInt32 inHeight) {
  Texture t;
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, inPath, nullptr, nullptr) < 0) return t;
  AVCodecContext* c = nullptr;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  const int stream = avformat_find_stream_info(fmt, nullptr) >= 0
                         ? av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)
                         : -1;
  bool got = false;
  if (stream >= 0) {
    const AVCodec* codec = avcodec_find_decoder(fmt->streams[stream]->codecpar->codec_id);
    c = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (c && avcodec_parameters_to_context(c, fmt->streams[stream]->codecpar) >= 0 && avcodec_open2(c, codec, nullptr) >= 0) {
      while (!got && av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == stream && avcodec_send_packet(c, pkt) >= 0) got = avcodec_receive_frame(c, frame) == 0;
        av_packet_unref(pkt);
      }
      if (!got && avcodec_send_packet(c, nullptr) >= 0) got = avcodec_receive_frame(c, frame) == 0;
    }
  }
  if (got) {
    // Scaled to cover the texture, keeping the aspect ratio; then the centre cut out.
    const double cover = std::max(static_cast<double>(inWidth) / frame->width, static_cast<double>(inHeight) / frame->height);
    const SInt32 sw = std::max<SInt32>(inWidth, static_cast<SInt32>(std::ceil(frame->width * cover)));
    const SInt32 sh = std::max<SInt32>(inHeight, static_cast<SInt32>(std::ceil(frame->height * cover)));
    SwsContext* sws = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), sw, sh,
                                     AV_PIX_FMT_GRAY8, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (sws) {
      std::vector<UInt8> grey(static_cast<size_t>(sw) * sh);
      uint8_t* dst[4] = {grey.data(), nullptr, nullptr, nullptr};
      int dstStride[4] = {sw, 0, 0, 0};
      sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
      sws_freeContext(sws);
      t.width = inWidth;
      t.height = inHeight;
      t.pixels.resize(static_cast<size_t>(inWidth) * inHeight);
      const SInt32 ox = (sw - inWidth) / 2, oy = (sh - inHeight) / 2;
      for (SInt32 y = 0; y < inHeight; ++y)
        for (SInt32 x = 0; x < inWidth; ++x)
          t.pixels[static_cast<size_t>(y) * inWidth + x] = grey[static_cast<size_t>(y + oy) * sw + x + ox];
    }
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&c);
  avformat_close_input(&fmt);
  return t;
}

// Encodes the frames with libx264 at CRF 16 and decodes them again into the
// same buffers. False when the encoder is missing.
bool EncodeAndDecode(std::vector<CBuffer*>& ioFrames) {
  const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
  const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (!encoder || !decoder) return false;
  AVCodecContext* enc = avcodec_alloc_context3(encoder);
  enc->width = kWidth;
  enc->height = kHeight;
  enc->pix_fmt = AV_PIX_FMT_YUV420P;
  enc->time_base = AVRational{1, 30};
  enc->framerate = AVRational{30, 1};
  enc->gop_size = 60;
  enc->thread_count = 0;
  av_opt_set(enc->priv_data, "crf", "16", 0);
  av_opt_set(enc->priv_data, "preset", "medium", 0);
  AVCodecContext* dec = avcodec_alloc_context3(decoder);
  dec->thread_count = 0;
  if (avcodec_open2(enc, encoder, nullptr) < 0 || avcodec_open2(dec, decoder, nullptr) < 0) {
    avcodec_free_context(&enc);
    avcodec_free_context(&dec);
    return false;
  }
  SwsContext* toYUV = sws_getContext(kWidth, kHeight, AV_PIX_FMT_ARGB, kWidth, kHeight, AV_PIX_FMT_YUV420P,
                                     SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
  SwsContext* toARGB = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, kWidth, kHeight, AV_PIX_FMT_ARGB,
                                      SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
  AVFrame* in = av_frame_alloc();
  in->format = AV_PIX_FMT_YUV420P;
  in->width = kWidth;
  in->height = kHeight;
  av_frame_get_buffer(in, 0);
  AVFrame* out = av_frame_alloc();
  AVPacket* pkt = av_packet_alloc();
  size_t decoded = 0;
  auto drain = [&]() {
    while (avcodec_receive_packet(enc, pkt) == 0) {
      avcodec_send_packet(dec, pkt);
      av_packet_unref(pkt);
      while (avcodec_receive_frame(dec, out) == 0 && decoded < ioFrames.size()) {
        CBuffer* f = ioFrames[decoded++];
        uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(f->GetData()), nullptr, nullptr, nullptr};
        int stride[4] = {static_cast<int>(f->GetRowBytes()), 0, 0, 0};
        sws_scale(toARGB, out->data, out->linesize, 0, kHeight, dst, stride);
      }
    }
  };
  for (size_t i = 0; i < ioFrames.size(); ++i) {
    av_frame_make_writable(in);
    const uint8_t* src[4] = {reinterpret_cast<const uint8_t*>(ioFrames[i]->GetData()), nullptr, nullptr, nullptr};
    int stride[4] = {static_cast<int>(ioFrames[i]->GetRowBytes()), 0, 0, 0};
    sws_scale(toYUV, src, stride, 0, kHeight, in->data, in->linesize);
    in->pts = static_cast<int64_t>(i);
    avcodec_send_frame(enc, in);
    drain();
  }
  avcodec_send_frame(enc, nullptr);
  drain();
  avcodec_send_packet(dec, nullptr);
  while (avcodec_receive_frame(dec, out) == 0 && decoded < ioFrames.size()) {
    CBuffer* f = ioFrames[decoded++];
    uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(f->GetData()), nullptr, nullptr, nullptr};
    int stride[4] = {static_cast<int>(f->GetRowBytes()), 0, 0, 0};
    sws_scale(toARGB, out->data, out->linesize, 0, kHeight, dst, stride);
  }
  av_packet_free(&pkt);
  av_frame_free(&in);
  av_frame_free(&out);
  sws_freeContext(toYUV);
  sws_freeContext(toARGB);
  avcodec_free_context(&enc);
  avcodec_free_context(&dec);
  return decoded == ioFrames.size();
}

struct Errors {
  double px = 0, rad = 0, biasX = 0, biasY = 0;
};

Errors TrackFrames(const std::vector<CBuffer*>& inFrames, const std::vector<Pose>& inPoses, SInt32 inAccuracy) {
  CBuffer frame(inFrames.front()->GetBounds(), kBufferDepth8, kBufferModeARGB);
  CAutoMotionTracker tracker;
  tracker.SetAccuracy(static_cast<QTrackingAccuracy>(inAccuracy));
  tracker.BeginTracking(&frame, frame.GetBounds(), nullptr, nullptr);
  for (CBuffer* f : inFrames) {
    std::memcpy(frame.GetData(), f->GetData(), static_cast<size_t>(frame.GetDataSize()));
    tracker.ProcessFrame(1, ETrackerFieldMode::kFrame, nullptr, nullptr);
  }
  tracker.EndTracking();
  auto& records = tracker.GetMotionDataArray();
  Errors e;
  SInt32 n = 0;
  // Record 1 compares the first picture with nothing.
  for (SInt32 i = 2; i <= records.GetCount(); ++i) {
    const Pose m = MotionBetween(inPoses[static_cast<size_t>(i - 2)], inPoses[static_cast<size_t>(i - 1)]);
    const double ex = records[i].xShift - m.t.real(), ey = records[i].yShift - m.t.imag();
    const double er = -records[i].rotation - m.B();
    e.px += ex * ex + ey * ey;
    e.rad += er * er;
    e.biasX += ex;
    e.biasY += ey;
    ++n;
  }
  if (n > 0) {
    e.px = std::sqrt(e.px / n);
    e.rad = std::sqrt(e.rad / n);
    e.biasX /= n;
    e.biasY /= n;
  }
  return e;
}

}  // namespace

int main(int argc, char** argv) {
  av_log_set_level(AV_LOG_ERROR);
  const SInt32 tw = static_cast<SInt32>((kWidth + 160) * kOversample), th = static_cast<SInt32>((kHeight + 120) * kOversample);
  Texture texture;
  std::string source = "generated photograph-like texture";
  if (argc > 1) {
    texture = LoadPhotoTexture(argv[1], tw, th);
    if (texture.pixels.empty()) {
      std::fprintf(stderr, "cannot read a picture from %s\n", argv[1]);
      return 1;
    }
    source = argv[1];
  } else {
    texture = MakePhotoTexture(tw, th, 2026);
  }
  // Sub-pixel shake: steps of up to 2.5 px, 0.002 rad and 0.1 % in scale.
  const std::vector<Pose> poses = MakePoses(kFrames, 2.5, 0.002, 0.001, 15);
  std::vector<CBuffer*> frames;
  for (const Pose& pose : poses) {
    frames.push_back(NewFrame(kWidth, kHeight));
    RenderArea(texture, pose, frames.back(), kOversample);
  }
  std::printf("picture: %s, %dx%d, %d frames\n", source.c_str(), static_cast<int>(kWidth), static_cast<int>(kHeight),
              static_cast<int>(kFrames));
  for (SInt32 accuracy = 1; accuracy <= 3; ++accuracy) {
    const Errors e = TrackFrames(frames, poses, accuracy);
    std::printf("rendered accuracy %d: rms_err_px: %.4f rms_err_rad: %.6f (mean err %.4f, %.4f px)\n",
                static_cast<int>(accuracy), e.px, e.rad, e.biasX, e.biasY);
  }
  if (!EncodeAndDecode(frames)) {
    std::printf("libx264 CRF 16: encoder not available\n");
  } else {
    for (SInt32 accuracy = 1; accuracy <= 3; ++accuracy) {
      const Errors e = TrackFrames(frames, poses, accuracy);
      std::printf("x264 crf16 accuracy %d: rms_err_px: %.4f (target <= %.2f) rms_err_rad: %.6f (mean err %.4f, %.4f px)\n",
                  static_cast<int>(accuracy), e.px, kTarget, e.rad, e.biasX, e.biasY);
    }
  }
  for (CBuffer* b : frames) b->Release();
  return 0;
}
