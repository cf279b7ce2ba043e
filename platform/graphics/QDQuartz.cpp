// Quartz bitmap contexts over QuickDraw ports.
#include "platform/graphics/CGGraphics.h"
#include "platform/graphics/QuickDrawInternal.h"

OSStatus CreateCGContextForPort(CGrafPtr port, CGContextRef* outContext) {
  if (!outContext) return paramErr;
  *outContext = nullptr;
  if (!qd::IsPort(port)) return paramErr;
  const PixMap& pm = port->pixMap;
  const size_t width = static_cast<size_t>(pm.bounds.right - pm.bounds.left);
  const size_t height = static_cast<size_t>(pm.bounds.bottom - pm.bounds.top);
  CGColorSpaceRef space = nullptr;
  CGBitmapInfo info = kCGImageAlphaNone;
  if (pm.pixelFormat == k32ARGBPixelFormat) {
    space = CGColorSpaceCreateDeviceRGB();
    info = kCGImageAlphaPremultipliedFirst;
  } else if (pm.pixelFormat == k8IndexedGrayPixelFormat) {
    space = CGColorSpaceCreateDeviceGray();
  } else {
    return paramErr;
  }
  CGContextRef context =
      CGBitmapContextCreate(pm.baseAddr, width, height, 8, static_cast<size_t>(pm.pmRowBytes), space, info);
  CGColorSpaceRelease(space);
  if (!context) return paramErr;
  *outContext = context;
  return noErr;
}
