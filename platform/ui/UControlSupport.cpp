#include "platform/ui/UControlSupport.h"

#include <QFont>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QVariant>
#include <QWidget>
#include <cstring>
#include <vector>

#include "platform/base/MacMemory.h"
#include "platform/files/Resources.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/ui/UTextTraits.h"

namespace UControlSupport {

namespace {
constexpr SInt16 kSizeNormal = 0, kSizeSmall = 1, kSizeMini = 2;
}

std::string FromPString(ConstStringPtr inText) {
  if (inText == nullptr) return "";
  return std::string(reinterpret_cast<const char*>(inText + 1), inText[0]);
}

void ToPString(const std::string& inText, Str255 outText) {
  size_t n = std::min<size_t>(inText.size(), 255);
  // Never cut a UTF-8 sequence: back up over continuation bytes.
  if (n < inText.size())
    while (n > 0 && (static_cast<UInt8>(inText[n]) & 0xC0) == 0x80) --n;
  outText[0] = static_cast<UInt8>(n);
  std::memcpy(outText + 1, inText.data(), n);
}

void ApplyTextStyle(QWidget* inWidget, SInt16 inID) {
  STextTraits traits;
  if (!UTextTraits::Load(inID, traits)) return;
  QFont font = inWidget->font();
  if (!traits.font.empty()) font.setFamily(ToQString(traits.font));
  if (traits.size > 0) font.setPointSize(traits.size);
  font.setBold((traits.face & kTextFaceBold) != 0);
  font.setItalic((traits.face & kTextFaceItalic) != 0);
  font.setUnderline((traits.face & kTextFaceUnderline) != 0);
  inWidget->setFont(font);
  inWidget->setProperty("trxNormalPointSize", font.pointSizeF());  // the size the control sizes scale
  QPalette palette = inWidget->palette();
  palette.setColor(QPalette::WindowText, QColor(traits.red >> 8, traits.green >> 8, traits.blue >> 8));
  palette.setColor(QPalette::Text, QColor(traits.red >> 8, traits.green >> 8, traits.blue >> 8));
  inWidget->setPalette(palette);
  if (auto* label = qobject_cast<QLabel*>(inWidget)) {
    Qt::Alignment h = traits.just == kTextJustCenter  ? Qt::AlignHCenter
                      : traits.just == kTextJustRight ? Qt::AlignRight
                                                      : Qt::AlignLeft;
    label->setAlignment(h | (label->alignment() & Qt::AlignVertical_Mask));
  }
}

OSStatus ReadControlSize(SInt32 inDataSize, const void* inDataPtr, SInt16& outSize) {
  if (inDataPtr == nullptr || inDataSize < 1) return paramErr;
  // Callers pass a 16-bit size or a single byte.
  SInt16 size = inDataSize >= 2 ? *static_cast<const SInt16*>(inDataPtr) : *static_cast<const UInt8*>(inDataPtr);
  if (size < kSizeNormal || size > kSizeMini) return paramErr;
  outSize = size;
  return noErr;
}

void ApplyControlSize(QWidget* inWidget, SInt16 inSize) {
  if (inWidget == nullptr) return;
  QFont font = inWidget->font();
  // The base size is kept on the widget so that switching back restores it.
  QVariant base = inWidget->property("trxNormalPointSize");
  if (!base.isValid()) {
    base = font.pointSizeF();
    inWidget->setProperty("trxNormalPointSize", base);
  }
  double points = base.toDouble();
  if (inSize == kSizeSmall) points *= 0.85;
  else if (inSize == kSizeMini) points *= 0.72;
  if (points > 0) font.setPointSizeF(points);
  inWidget->setFont(font);
}

QPixmap LoadIcon(SInt16 inID) {
  Handle res = GetResource('PNG ', inID);
  if (res == nullptr) return {};
  QPixmap pixmap;
  pixmap.loadFromData(reinterpret_cast<const uchar*>(*res), static_cast<uint>(GetHandleSize(res)), "PNG");
  ReleaseResource(res);
  return pixmap;
}

QPixmap LoadPicture(SInt16 inID) {
  Handle res = GetResource('PICT', inID);
  if (res == nullptr) return {};
  PicHandle pic = reinterpret_cast<PicHandle>(res);
  QPixmap out;
  Rect bounds;
  if (IsValidPicture(pic) && QDGetPictureBounds(pic, &bounds) && bounds.right > bounds.left &&
      bounds.bottom > bounds.top && bounds.right - bounds.left <= 4096 && bounds.bottom - bounds.top <= 4096) {
    const int w = bounds.right - bounds.left, h = bounds.bottom - bounds.top;
    std::vector<UInt8> pixels(static_cast<size_t>(w) * h * 4, 0);
    Rect local = {0, 0, static_cast<SInt16>(h), static_cast<SInt16>(w)};
    GWorldPtr world = nullptr;
    if (NewGWorldFromPtr(&world, k32ARGBPixelFormat, &local, nullptr, nullptr, 0,
                         reinterpret_cast<Ptr>(pixels.data()), w * 4) == noErr) {
      CGrafPtr savedPort = nullptr;
      GDHandle savedDevice = nullptr;
      GetGWorld(&savedPort, &savedDevice);
      SetGWorld(world, nullptr);
      DrawPicture(pic, &local);
      SetGWorld(savedPort, savedDevice);
      DisposeGWorld(world);
      // A,R,G,B bytes to the host-order 0xAARRGGBB Qt reads.
      QImage image(w, h, QImage::Format_ARGB32);
      for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        const UInt8* src = pixels.data() + static_cast<size_t>(y) * w * 4;
        for (int x = 0; x < w; ++x, src += 4) row[x] = qRgba(src[1], src[2], src[3], src[0]);
      }
      out = QPixmap::fromImage(image);
    }
  }
  ReleaseResource(res);
  return out;
}

}  // namespace UControlSupport
