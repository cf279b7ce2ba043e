// The compiled form of window and dialog layouts ('PPob' resources), shared
// by the resource compiler (resources/tools) and the layout reader
// (UReanimator). Every number is big-endian.
//
// A layout is a sequence of records, each starting with a four-byte tag:
//   'objd' SInt32 length, then `length` bytes: the class id and the object's
//          data, which the class's stream constructor reads;
//   'begs' the objects that follow, up to the matching 'ends', belong to the
//          object just read: panes go inside it (it must be a view),
//          attachments are attached to it;
//   'ends' closes the innermost 'begs';
//   'end.' the end of the layout.
// The first object is the layout's top pane (a window or a view).
//
// A pane's data starts with the pane record (SPaneInfo's stored form):
//   SInt32 pane id, SInt16 width, SInt16 height, UInt8 visible, UInt8 enabled,
//   UInt8 bound left, top, right, bottom (bindings to the super view),
//   SInt32 left, SInt32 top (in the super view's image), SInt32 user constant,
//   SInt32 super view (-1: the view being read; the compiler always writes -1).
// A view continues with the view record: SInt32 image width, image height,
//   SInt32 scroll position h, v, SInt32 scroll unit h, v, SInt16 reconcile.
// A window stores, in place of the pane's and the view's records: SInt32
//   pane id, Str255 title, UInt32 window class, UInt32 attributes, SInt16
//   left, top, width, height (global position, content size), SInt16 minimum
//   width, height, SInt16 maximum width, height, SInt32 user constant.
// A control continues with the control record: SInt32 value message, SInt32
//   value, SInt32 minimum, SInt32 maximum.
// Each class then appends its own fields (see resources/layouts/README.txt).
// An attachment's data is: SInt32 message it answers, UInt8 execute host,
//   then its class's own fields.
//
// A link list ('RidL', the layout's id) names the panes whose broadcasts go to
// the listener that builds the layout: UInt16 count, then count SInt32 pane ids.
//
// A text style ('Txtr'): Str255 font family ("" the system font), SInt16 size
// in points (0 the system size), UInt8 face bits (1 bold, 2 italic, 4
// underline), SInt16 justification (0 left, 1 centre, -1 right), UInt16 red,
// green, blue.
#pragma once

#include "platform/base/MacTypes.h"

constexpr ResType kLayoutResType = 'PPob';
constexpr ResType kLinkListResType = 'RidL';
constexpr ResType kTextStyleResType = 'Txtr';

constexpr OSType kLayoutObjectTag = 'objd';
constexpr OSType kLayoutBeginTag = 'begs';
constexpr OSType kLayoutEndTag = 'ends';
constexpr OSType kLayoutEndOfDataTag = 'end.';

// Bytes of the stored records.
constexpr SInt32 kPaneRecordSize = 30;
constexpr SInt32 kViewRecordSize = 26;
constexpr SInt32 kControlRecordSize = 16;

// Window classes as stored in layouts.
constexpr SInt16 kLayoutModalWindowClass = 3;
constexpr SInt16 kLayoutMovableModalWindowClass = 4;
constexpr SInt16 kLayoutFloatingWindowClass = 5;
constexpr SInt16 kLayoutDocumentWindowClass = 6;
constexpr SInt16 kLayoutSheetWindowClass = 11;
constexpr SInt16 kLayoutPlainWindowClass = 13;
constexpr SInt16 kLayoutDrawerWindowClass = 20;

// Key filters of edit fields.
constexpr UInt8 kKeyFilterNone = 0;           // any character
constexpr UInt8 kKeyFilterInteger = 1;        // digits
constexpr UInt8 kKeyFilterNegativeInteger = 2;  // digits and a leading minus
constexpr UInt8 kKeyFilterAlphaNumeric = 3;   // letters and digits
constexpr UInt8 kKeyFilterPrintingChar = 4;   // no control characters

// Bevel button content kinds.
constexpr SInt16 kBevelContentText = 0;
constexpr SInt16 kBevelContentIcon = 1;     // a 'PNG ' resource
constexpr SInt16 kBevelContentPicture = 2;  // a 'PICT' resource
