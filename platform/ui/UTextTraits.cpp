#include "platform/ui/UTextTraits.h"

#include "platform/base/MacMemory.h"
#include "platform/files/Resources.h"
#include "platform/framework/LHandleStream.h"
#include "platform/ui/LayoutFormat.h"

Boolean UTextTraits::Load(SInt16 inID, STextTraits& outTraits) {
  outTraits = STextTraits{};
  if (inID == 0) return false;
  Handle res = GetResource(kTextStyleResType, inID);
  if (res == nullptr) return false;
  Handle copy = nullptr;
  PtrToHand(*res, &copy, GetHandleSize(res));
  ReleaseResource(res);
  LHandleStream stream(copy);
  try {
    Str255 font;
    stream.ReadPString(font);
    outTraits.font.assign(reinterpret_cast<const char*>(font + 1), font[0]);
    stream >> outTraits.size >> outTraits.face >> outTraits.just >> outTraits.red >> outTraits.green >>
        outTraits.blue;
  } catch (const LException&) {
    outTraits = STextTraits{};
    return false;
  }
  return true;
}
