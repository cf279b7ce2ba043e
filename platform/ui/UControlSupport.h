// Inside the desktop layer only: what the standard controls share on the Qt
// side (texts, text styles, icons and pictures from the resources).
#pragma once

#include <QPixmap>
#include <QString>
#include <string>

#include "platform/base/MacTypes.h"

class QWidget;

namespace UControlSupport {

inline QString ToQString(const std::string& inText) { return QString::fromUtf8(inText.data(), static_cast<int>(inText.size())); }
inline std::string FromQString(const QString& inText) { return inText.toUtf8().toStdString(); }
// Pascal string (UTF-8) to and from the model's text.
std::string FromPString(ConstStringPtr inText);
// Cut to 255 bytes, at a character boundary.
void ToPString(const std::string& inText, Str255 outText);

// The widget's font, colour and (for labels) alignment from text style inID.
void ApplyTextStyle(QWidget* inWidget, SInt16 inID);
// Reads a control-size tag's data (paramErr when too short, out of range).
OSStatus ReadControlSize(SInt32 inDataSize, const void* inDataPtr, SInt16& outSize);
// The widget's font for the control size (normal: the style's own size).
void ApplyControlSize(QWidget* inWidget, SInt16 inSize);
// A 'PNG ' resource as a pixmap (null when missing or unreadable).
QPixmap LoadIcon(SInt16 inID);
// A 'PICT' resource drawn at its own size (null when missing or invalid).
QPixmap LoadPicture(SInt16 inID);

}  // namespace UControlSupport
