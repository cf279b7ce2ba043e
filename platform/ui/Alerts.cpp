#include "platform/ui/Alerts.h"

#include <deque>
#include <mutex>

#include "platform/base/PascalStrings.h"
#include "platform/ui/UResponder.h"

namespace {

struct ResponderState {
  std::mutex lock;
  std::deque<DialogItemIndex> queued;
  UAlertResponder::Answerer answerer;
  OSErr failNext = noErr;
  std::vector<AlertRecord> recorded;
  SInt32 beeps = 0;
};

ResponderState& State() {
  static ResponderState s;
  return s;
}

const ConstStringPtr kStandardText = reinterpret_cast<ConstStringPtr>(-1);

std::string ButtonText(ConstStringPtr inText, const char* inStandard) {
  if (inText == kStandardText) return inStandard;
  return PStrToString(inText);
}

}  // namespace

OSErr GetStandardAlertDefaultParams(AlertStdAlertParamRec* param, UInt32 /*version*/) {
  if (!param) return paramErr;
  *param = AlertStdAlertParamRec{};
  param->movable = true;
  param->defaultText = kStandardText;
  param->defaultButton = kAlertStdAlertOKButton;
  param->position = kWindowDefaultPosition;
  return noErr;
}

OSErr StandardAlert(AlertType inAlertType, ConstStr255Param inError, ConstStr255Param inExplanation,
                    const AlertStdAlertParamRec* inAlertParam, SInt16* outItemHit) {
  AlertRecord record;
  record.kind = inAlertType;
  record.message = inError ? PStrToString(inError) : std::string();
  record.explanation = inExplanation ? PStrToString(inExplanation) : std::string();
  DialogItemIndex defaultItem = kAlertStdAlertOKButton;
  DialogItemIndex cancelItem = 0;
  std::vector<DialogItemIndex> items;  // the item of each button shown
  if (!inAlertParam) {
    record.buttons.push_back("OK");
    items.push_back(kAlertStdAlertOKButton);
  } else {
    if (inAlertParam->defaultText) {
      record.buttons.push_back(ButtonText(inAlertParam->defaultText, "OK"));
      items.push_back(kAlertStdAlertOKButton);
    }
    if (inAlertParam->cancelText) {
      record.buttons.push_back(ButtonText(inAlertParam->cancelText, "Cancel"));
      items.push_back(kAlertStdAlertCancelButton);
    }
    if (inAlertParam->otherText) {
      record.buttons.push_back(ButtonText(inAlertParam->otherText, "Don't Save"));
      items.push_back(kAlertStdAlertOtherButton);
    }
    if (inAlertParam->defaultButton > 0) defaultItem = inAlertParam->defaultButton;
    if (inAlertParam->cancelButton > 0) cancelItem = inAlertParam->cancelButton;
  }

  ResponderState& s = State();
  UAlertResponder::Answerer answerer;
  {
    std::lock_guard<std::mutex> g(s.lock);
    if (s.failNext != noErr) {
      OSErr err = s.failNext;
      s.failNext = noErr;
      return err;
    }
    answerer = s.answerer;
  }
  DialogItemIndex answer = defaultItem;
  auto indexOf = [&](DialogItemIndex inItem) {
    for (size_t i = 0; i < items.size(); ++i)
      if (items[i] == inItem) return static_cast<SInt32>(i + 1);
    return SInt32{0};
  };
  if (answerer) {
    answer = answerer(record);
  } else if (UResponder::IsInteractive() || UResponder::HasScript(question_Alert)) {
    // The one question interface: a real alert in the program, a scripted
    // answer (a button, 1-based among those shown) in tests.
    SQuestion q;
    q.kind = question_Alert;
    q.alertType = inAlertType;  // a stop alert shows as one, whoever presents it
    q.message = record.message;
    q.explanation = record.explanation;
    q.choices = record.buttons;
    q.defaultChoice = indexOf(defaultItem);
    q.cancelChoice = indexOf(cancelItem);
    SAnswer a = UResponder::IsInteractive() ? UResponder::AskAndWait(q) : UResponder::TakeScript(question_Alert);
    if (!UResponder::IsInteractive()) UResponder::LogQuestion(q);
    if (a.choice >= 1 && a.choice <= static_cast<SInt32>(items.size()))
      answer = items[static_cast<size_t>(a.choice - 1)];
    else if (a.cancelled && cancelItem > 0)
      answer = cancelItem;
  } else {
    std::lock_guard<std::mutex> g(s.lock);
    if (!s.queued.empty()) {
      answer = s.queued.front();
      s.queued.pop_front();
    }
  }
  record.answer = answer;
  {
    std::lock_guard<std::mutex> g(s.lock);
    s.recorded.push_back(record);
  }
  if (outItemHit) *outItemHit = answer;
  return noErr;
}

void SysBeep(SInt16 /*duration*/) {
  ResponderState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  ++s.beeps;
}

void UAlertResponder::QueueAnswer(DialogItemIndex inItem) {
  ResponderState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.queued.push_back(inItem);
}

void UAlertResponder::SetAnswerer(Answerer inAnswerer) {
  ResponderState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.answerer = std::move(inAnswerer);
}

void UAlertResponder::FailNextAlert(OSErr inErr) {
  ResponderState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.failNext = inErr;
}

std::vector<AlertRecord> UAlertResponder::GetRecorded() {
  ResponderState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  return s.recorded;
}

SInt32 UAlertResponder::GetBeepCount() {
  ResponderState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  return s.beeps;
}

void UAlertResponder::Reset() {
  ResponderState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.queued.clear();
  s.answerer = nullptr;
  s.failNext = noErr;
  s.recorded.clear();
  s.beeps = 0;
}
