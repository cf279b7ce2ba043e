#include "platform/ui/UResponder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QColorDialog>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "platform/framework/UEventLoop.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UNavPresenters.h"
#include "platform/ui/UQtSupport.h"

namespace {

struct State {
  std::recursive_mutex lock;
  bool interactive = false;
  std::map<int, std::deque<SAnswer>> scripts;
  std::map<int, UResponder::Presenter> presenters;
  std::function<void(const SQuestion&)> unexpected;
  std::vector<SQuestion> log;
};

State& S() {
  static auto* sState = new State;
  return *sState;
}

QWidget* ParentOf(const SQuestion& inQuestion) {
  return inQuestion.parent ? inQuestion.parent->GetFrameWidget() : nullptr;
}

QString Q(const std::string& inText) { return QString::fromUtf8(inText.c_str()); }

// Runs the reply once, at the next pass of the loop.
void ReplyLater(UResponder::Reply inReply, const SAnswer& inAnswer) {
  QTimer::singleShot(0, qApp, [inReply, inAnswer] {
    if (inReply) inReply(inAnswer);
  });
  UEventLoop::WakeUp();
}

// Reply that fires only once, whichever signal comes first.
struct OnceReply {
  UResponder::Reply reply;
  bool done = false;
  void operator()(const SAnswer& inAnswer) {
    if (done) return;
    done = true;
    if (reply) reply(inAnswer);
  }
};

void PresentButtons(const SQuestion& inQ, UResponder::Reply inReply) {
  auto* box = new QMessageBox(ParentOf(inQ));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(inQ.parent ? Qt::WindowModal : Qt::ApplicationModal);
  switch (inQ.kind) {
    case question_Alert:
      box->setIcon(inQ.alertType == 0   ? QMessageBox::Critical
                   : inQ.alertType == 2 ? QMessageBox::Warning
                   : inQ.alertType == 3 ? QMessageBox::NoIcon
                                        : QMessageBox::Information);
      break;
    case question_SaveChanges:
    case question_DiscardChanges:
    case question_ReviewChanges: box->setIcon(QMessageBox::Warning); break;
    default: break;
  }
  box->setText(Q(inQ.message));
  box->setInformativeText(Q(inQ.explanation));
  std::vector<QAbstractButton*> buttons;
  for (size_t i = 0; i < inQ.choices.size(); ++i) {
    QMessageBox::ButtonRole role = QMessageBox::ActionRole;
    if (static_cast<SInt32>(i + 1) == inQ.defaultChoice) role = QMessageBox::AcceptRole;
    else if (static_cast<SInt32>(i + 1) == inQ.cancelChoice) role = QMessageBox::RejectRole;
    else if (inQ.kind == question_SaveChanges && i == 1) role = QMessageBox::DestructiveRole;
    buttons.push_back(box->addButton(Q(inQ.choices[i]), role));
  }
  if (buttons.empty()) buttons.push_back(box->addButton(QMessageBox::Ok));
  if (inQ.defaultChoice >= 1 && inQ.defaultChoice <= static_cast<SInt32>(buttons.size()))
    box->setDefaultButton(static_cast<QPushButton*>(buttons[static_cast<size_t>(inQ.defaultChoice - 1)]));
  if (inQ.cancelChoice >= 1 && inQ.cancelChoice <= static_cast<SInt32>(buttons.size()))
    box->setEscapeButton(buttons[static_cast<size_t>(inQ.cancelChoice - 1)]);
  auto once = std::make_shared<OnceReply>(OnceReply{inReply});
  SInt32 cancel = inQ.cancelChoice;
  // The button clicked is the answer (finished(int) is no button code).
  QObject::connect(box, &QMessageBox::buttonClicked, box, [once, buttons, cancel](QAbstractButton* inButton) {
    for (size_t i = 0; i < buttons.size(); ++i)
      if (buttons[i] == inButton) {
        SAnswer a = SAnswer::Choice(static_cast<SInt32>(i + 1));
        a.cancelled = a.choice == cancel;
        (*once)(a);
        return;
      }
  });
  QObject::connect(box, &QDialog::rejected, box, [once] { (*once)(SAnswer::Cancel()); });
  box->open();
}

void PresentColor(const SQuestion& inQ, UResponder::Reply inReply) {
  auto* dialog = new QColorDialog(ParentOf(inQ));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setOption(QColorDialog::DontUseNativeDialog, true);
  dialog->setWindowModality(inQ.parent ? Qt::WindowModal : Qt::ApplicationModal);
  dialog->setWindowTitle(Q(inQ.title));
  dialog->setCurrentColor(QColor::fromRgb(inQ.color.red >> 8, inQ.color.green >> 8, inQ.color.blue >> 8));
  auto once = std::make_shared<OnceReply>(OnceReply{inReply});
  QObject::connect(dialog, &QColorDialog::colorSelected, dialog, [once](const QColor& inColor) {
    SAnswer a;
    a.color = RGBColor{static_cast<UInt16>(inColor.red() * 257), static_cast<UInt16>(inColor.green() * 257),
                       static_cast<UInt16>(inColor.blue() * 257)};
    (*once)(a);
  });
  QObject::connect(dialog, &QDialog::rejected, dialog, [once] { (*once)(SAnswer::Cancel()); });
  dialog->open();
}

void PresentPopup(const SQuestion& inQ, UResponder::Reply inReply) {
  auto* menu = new QMenu;
  menu->setAttribute(Qt::WA_DeleteOnClose);
  std::vector<QAction*> actions;
  for (size_t i = 0; i < inQ.choices.size(); ++i) {
    const std::string& item = inQ.choices[i];
    if (item.empty() || item == "-") {
      actions.push_back(menu->addSeparator());
      continue;
    }
    QAction* action = menu->addAction(Q(item));
    if (i < inQ.checked.size() && inQ.checked[i]) {
      action->setCheckable(true);
      action->setChecked(true);
    }
    if (i < inQ.disabled.size() && inQ.disabled[i]) action->setEnabled(false);
    actions.push_back(action);
  }
  auto once = std::make_shared<OnceReply>(OnceReply{inReply});
  QObject::connect(menu, &QMenu::triggered, menu, [once, actions](QAction* inAction) {
    for (size_t i = 0; i < actions.size(); ++i)
      if (actions[i] == inAction) (*once)(SAnswer::Choice(static_cast<SInt32>(i + 1)));
  });
  // Dismissed without a choice: the triggered signal (if any) comes first.
  QObject::connect(menu, &QMenu::aboutToHide, menu, [once] {
    QTimer::singleShot(0, qApp, [once] { (*once)(SAnswer::Cancel()); });
  });
  QAction* first = inQ.defaultChoice >= 1 && inQ.defaultChoice <= static_cast<SInt32>(actions.size())
                       ? actions[static_cast<size_t>(inQ.defaultChoice - 1)]
                       : nullptr;
  menu->popup(QPoint(inQ.where.h, inQ.where.v), first);
}

}  // namespace

void UResponder::SetInteractive(Boolean inInteractive) {
  std::lock_guard<std::recursive_mutex> g(S().lock);
  S().interactive = inInteractive;
}

Boolean UResponder::IsInteractive() {
  std::lock_guard<std::recursive_mutex> g(S().lock);
  return S().interactive;
}

void UResponder::SetPresenter(EQuestion inKind, Presenter inPresenter) {
  std::lock_guard<std::recursive_mutex> g(S().lock);
  S().presenters[inKind] = std::move(inPresenter);
}

void UResponder::Script(EQuestion inKind, const SAnswer& inAnswer) {
  std::lock_guard<std::recursive_mutex> g(S().lock);
  S().scripts[inKind].push_back(inAnswer);
}

SInt32 UResponder::CountScripted() {
  std::lock_guard<std::recursive_mutex> g(S().lock);
  size_t n = 0;
  for (auto& [kind, list] : S().scripts) n += list.size();
  return static_cast<SInt32>(n);
}

Boolean UResponder::HasScript(EQuestion inKind) {
  std::lock_guard<std::recursive_mutex> g(S().lock);
  auto it = S().scripts.find(inKind);
  return it != S().scripts.end() && !it->second.empty();
}

SAnswer UResponder::TakeScript(EQuestion inKind) {
  std::lock_guard<std::recursive_mutex> g(S().lock);
  auto& list = S().scripts[inKind];
  if (list.empty()) return SAnswer::Cancel();
  SAnswer a = list.front();
  list.pop_front();
  return a;
}

void UResponder::SetUnexpectedHandler(std::function<void(const SQuestion&)> inHandler) {
  std::lock_guard<std::recursive_mutex> g(S().lock);
  S().unexpected = std::move(inHandler);
}

void UResponder::LogQuestion(const SQuestion& inQuestion) {
  std::lock_guard<std::recursive_mutex> g(S().lock);
  S().log.push_back(inQuestion);
}

std::vector<SQuestion> UResponder::GetLog() {
  std::lock_guard<std::recursive_mutex> g(S().lock);
  return S().log;
}

void UResponder::Reset() {
  std::lock_guard<std::recursive_mutex> g(S().lock);
  S().interactive = false;
  S().scripts.clear();
  S().presenters.clear();
  S().unexpected = nullptr;
  S().log.clear();
}

void UResponder::Ask(const SQuestion& inQuestion, Reply inReply) {
  LogQuestion(inQuestion);
  UQt::OnMain([&] {
    UQt::EnsureApplication();
    Presenter presenter;
    std::function<void(const SQuestion&)> unexpected;
    bool interactive;
    {
      std::lock_guard<std::recursive_mutex> g(S().lock);
      interactive = S().interactive;
      auto it = S().presenters.find(inQuestion.kind);
      if (it != S().presenters.end()) presenter = it->second;
      unexpected = S().unexpected;
    }
    if (!interactive) {
      if (HasScript(inQuestion.kind)) {
        ReplyLater(inReply, TakeScript(inQuestion.kind));
      } else {
        if (unexpected) unexpected(inQuestion);
        ReplyLater(inReply, SAnswer::Cancel());
      }
      return;
    }
    if (presenter) {
      presenter(inQuestion, inReply);
      return;
    }
    switch (inQuestion.kind) {
      case question_Alert: PresentButtons(inQuestion, inReply); break;
      case question_SaveChanges:
      case question_DiscardChanges:
      case question_ReviewChanges: UNavPresenters::PresentQuestion(inQuestion, inReply); break;
      case question_OpenFile:
      case question_SaveFile:
      case question_ChooseFolder: UNavPresenters::PresentFile(inQuestion, inReply); break;
      case question_Color: PresentColor(inQuestion, inReply); break;
      case question_PopupMenu: PresentPopup(inQuestion, inReply); break;
      case question_ExporterOptions: ReplyLater(inReply, SAnswer::Cancel()); break;
    }
  });
}

SAnswer UResponder::AskAndWait(const SQuestion& inQuestion) {
  auto answer = std::make_shared<SAnswer>();
  auto done = std::make_shared<bool>(false);
  Ask(inQuestion, [answer, done](const SAnswer& inAnswer) {
    *answer = inAnswer;
    *done = true;
  });
  while (!*done) UEventLoop::PassAndSleep(true);
  return *answer;
}
