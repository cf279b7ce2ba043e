#include "app/CExportTasksPane.h"

#include <algorithm>
#include <cstdio>

#include "app/CExportMovie.h"
#include "app/CExportTask.h"
#include "platform/base/FixMath.h"
#include "platform/files/Resources.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/ui/URegistrar.h"

namespace {

std::string IndText(SInt16 inIndex) { return IndString(STRx_ExportList, inIndex); }

const std::vector<CExportTask*>& Tasks() {
  static const std::vector<CExportTask*> kNone;
  CExportMovie* client = CExportMovie::GetExporter();
  return client ? client->GetTasks() : kNone;
}

double FractionOf(const CExportTask* inTask) {
  switch (inTask->mState) {
    case exportTask_Waiting: return 0.0;
    case exportTask_Running: return Fix2X(inTask->mProgress);
    default: return 1.0;
  }
}

// Draws text clipped to a width, left or right aligned, baseline at inV.
void DrawCell(const std::string& inText, SInt16 inLeft, SInt16 inWidth, SInt16 inV, bool inRight) {
  std::string text = inText.substr(0, 255);
  while (!text.empty() && TextWidth(text.data(), 0, static_cast<SInt16>(text.size())) > inWidth - 8) text.pop_back();
  const SInt16 width = TextWidth(text.data(), 0, static_cast<SInt16>(text.size()));
  MoveTo(static_cast<SInt16>(inRight ? inLeft + inWidth - 4 - width : inLeft + 4), inV);
  DrawText(text.data(), 0, static_cast<SInt16>(text.size()));
}

}  // namespace

CExportTasksPane::CExportTasksPane(LStream* inStream) : LPane(inStream) {}

void CExportTasksPane::Register() {
  static bool sRegistered = false;
  if (sRegistered) return;
  URegistrar::RegisterClass(class_ID, &TRegistrar<CExportTasksPane>::CreateFromStream);
  sRegistered = true;
}

OSStatus CExportTasksPane::GetSetItemDataProc(const CExportTask* inTask, OSType inProperty, std::string& outText) {
  outText.clear();
  if (inTask == nullptr) return paramErr;
  switch (inProperty) {
    case kExportColumnMovie: {
      LStr255 title;
      inTask->GetTitle(title);
      outText.assign(title.ConstTextPtr(), title.Length());
      return noErr;
    }
    case kExportColumnActivity:
      if (inTask->mState == exportTask_Waiting) {
        outText = IndText(2);
      } else if (inTask->mState == exportTask_Running) {
        Str255 activity;
        inTask->GetActivity(activity);
        outText.assign(reinterpret_cast<const char*>(activity + 1), activity[0]);
      } else {
        outText = IndText(3);
      }
      return noErr;
    case kExportColumnProgress: {
      char text[32];
      std::snprintf(text, sizeof(text), "%3.1f %%", FractionOf(inTask) * 100.0);
      outText = text;
      return noErr;
    }
    case 0:
      return noErr;
    default:
      return -4979;  // property not supported
  }
}

Boolean CExportTasksPane::IsSelected(const CExportTask* inTask) const {
  return inTask && mSelected.count(inTask->GetCookie()) > 0;
}

SInt32 CExportTasksPane::CountSelected() const {
  SInt32 n = 0;
  for (const CExportTask* task : Tasks())
    if (IsSelected(task)) ++n;
  return n;
}

void CExportTasksPane::SelectTask(const CExportTask* inTask, Boolean inSelect, Boolean inAdd) {
  if (inTask == nullptr) return;
  std::set<UInt32> before = mSelected;
  if (!inAdd) mSelected.clear();
  if (inSelect)
    mSelected.insert(inTask->GetCookie());
  else
    mSelected.erase(inTask->GetCookie());
  if (before != mSelected) SelectionChanged();
}

void CExportTasksPane::SelectRow(SInt32 inRow, SInt16 inModifiers) {
  const auto& tasks = Tasks();
  const bool add = (inModifiers & (shiftKey | cmdKey)) != 0;
  if (inRow < 0 || inRow >= static_cast<SInt32>(tasks.size())) {
    if (!add && !mSelected.empty()) {
      mSelected.clear();
      SelectionChanged();
    }
    return;
  }
  const CExportTask* task = tasks[static_cast<size_t>(inRow)];
  if (add)
    SelectTask(task, !IsSelected(task), true);
  else
    SelectTask(task, true, false);
}

void CExportTasksPane::TaskRemoved(const CExportTask* inTask) {
  if (inTask && mSelected.erase(inTask->GetCookie()) > 0) SelectionChanged();
}

void CExportTasksPane::SelectionChanged() {
  Refresh();
  BroadcastMessage(msg_ExportSelectionChanged);
}

SInt32 CExportTasksPane::RowAt(Point inLocal) const {
  Rect frame;
  if (!CalcLocalFrameRect(frame)) return -1;
  const SInt32 y = inLocal.v - frame.top - kHeaderHeight;
  if (y < 0 || inLocal.h < frame.left || inLocal.h >= frame.right) return -1;
  const SInt32 row = y / kRowHeight;
  return row < static_cast<SInt32>(Tasks().size()) ? row : -1;
}

void CExportTasksPane::ClickSelf(const SMouseDownEvent& inMouseDown) {
  SelectRow(RowAt(inMouseDown.whereLocal), static_cast<SInt16>(inMouseDown.macEvent.modifiers));
}

void CExportTasksPane::DrawSelf() {
  Rect frame;
  if (!CalcLocalFrameRect(frame)) return;
  const RGBColor white{0xFFFF, 0xFFFF, 0xFFFF}, black{0, 0, 0}, header{0xEEEE, 0xEEEE, 0xEEEE},
      line{0xC8C8, 0xC8C8, 0xC8C8}, stripe{0xF6F6, 0xF8F8, 0xFAFA}, selected{0x3A3A, 0x7575, 0xD8D8},
      barBack{0xDDDD, 0xDDDD, 0xDDDD}, barFill{0x4040, 0x8C8C, 0xE8E8};
  RGBBackColor(&white);
  EraseRect(&frame);
  TextFont(systemFont);
  TextSize(11);

  const SInt16 movieLeft = frame.left, activityLeft = static_cast<SInt16>(frame.left + kMovieWidth),
               progressLeft = static_cast<SInt16>(activityLeft + kActivityWidth);
  const SInt16 progressWidth = static_cast<SInt16>(std::max<SInt32>(kPercentWidth, frame.right - progressLeft));

  Rect head{frame.top, frame.left, static_cast<SInt16>(frame.top + kHeaderHeight), frame.right};
  RGBForeColor(&header);
  PaintRect(&head);
  RGBForeColor(&line);
  Rect rule{static_cast<SInt16>(head.bottom - 1), frame.left, head.bottom, frame.right};
  PaintRect(&rule);
  RGBForeColor(&black);
  TextSize(10);
  const SInt16 headBase = static_cast<SInt16>(frame.top + kHeaderHeight - 5);
  DrawCell(IndText(1), movieLeft, kMovieWidth, headBase, false);
  DrawCell(IndText(4), activityLeft, kActivityWidth, headBase, false);
  DrawCell(IndText(5), progressLeft, progressWidth, headBase, true);
  TextSize(11);

  const auto& tasks = Tasks();
  for (size_t i = 0; i < tasks.size(); ++i) {
    const CExportTask* task = tasks[i];
    const SInt16 top = static_cast<SInt16>(frame.top + kHeaderHeight + static_cast<SInt32>(i) * kRowHeight);
    if (top >= frame.bottom) break;
    Rect row{top, frame.left, static_cast<SInt16>(top + kRowHeight), frame.right};
    const bool isSelected = IsSelected(task);
    RGBForeColor(isSelected ? &selected : (i % 2 ? &stripe : &white));
    PaintRect(&row);
    RGBForeColor(isSelected ? &white : &black);
    const SInt16 base = static_cast<SInt16>(top + kRowHeight - 6);
    std::string text;
    GetSetItemDataProc(task, kExportColumnMovie, text);
    DrawCell(text, movieLeft, kMovieWidth, base, false);
    GetSetItemDataProc(task, kExportColumnActivity, text);
    DrawCell(text, activityLeft, kActivityWidth, base, false);
    // The bar fills the progress column left of the percentage.
    const SInt16 barWidth = static_cast<SInt16>(progressWidth - kPercentWidth - 4);
    if (barWidth > 8) {
      Rect bar{static_cast<SInt16>(top + 6), static_cast<SInt16>(progressLeft + 4), static_cast<SInt16>(top + 14),
               static_cast<SInt16>(progressLeft + 4 + barWidth)};
      RGBForeColor(&barBack);
      PaintRect(&bar);
      Rect fill = bar;
      fill.right = static_cast<SInt16>(bar.left + static_cast<SInt32>(barWidth * FractionOf(task) + 0.5));
      RGBForeColor(&barFill);
      if (fill.right > fill.left) PaintRect(&fill);
      RGBForeColor(&line);
      FrameRect(&bar);
      RGBForeColor(isSelected ? &white : &black);
    }
    GetSetItemDataProc(task, kExportColumnProgress, text);
    DrawCell(text, static_cast<SInt16>(progressLeft + progressWidth - kPercentWidth), kPercentWidth, base, true);
  }
  RGBForeColor(&black);
}
