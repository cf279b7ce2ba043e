#include "platform/ui/USheetWindows.h"

#include <QAbstractButton>
#include <QFrame>
#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <map>
#include <memory>

#include "platform/framework/UEventLoop.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UQtSupport.h"
#include "platform/ui/UWindowState.h"

namespace {

QString Q(const std::string& inText) { return QString::fromUtf8(inText.c_str()); }

// ---------------------------------------------------------------------------
// Alerts

struct Alert {
  QPointer<QMessageBox> box;
  USheetWindows::AlertReply reply;
  bool answered = false;
  bool windowModal = false;
};

std::map<SInt32, std::shared_ptr<Alert>>& Alerts() {
  static auto* sAlerts = new std::map<SInt32, std::shared_ptr<Alert>>;
  return *sAlerts;
}

SInt32 sNextAlertID = 1;

std::shared_ptr<Alert> FindAlert(SInt32 inAlertID) {
  auto it = Alerts().find(inAlertID);
  return it == Alerts().end() ? nullptr : it->second;
}

// ---------------------------------------------------------------------------
// Drawers

struct Drawer {
  QPointer<QPropertyAnimation> slide;
};

std::map<const LWindow*, Drawer>& Drawers() {
  static auto* sDrawers = new std::map<const LWindow*, Drawer>;
  return *sDrawers;
}

// The panel's place inside the parent's frame: out beside the content, or
// hidden behind it.
QPoint DrawerPlace(LWindow* inParent, QWidget* inPanel, SInt16 inSide, bool inOut) {
  QWidget* content = inParent->GetWidget();
  const QRect c = content->geometry();
  const int w = inPanel->width();
  if (inSide == kDrawerSideLeft) return QPoint(inOut ? c.left() - w : c.left(), c.top());
  return QPoint(inOut ? c.right() + 1 : c.right() + 1 - w, c.top());
}

void StopSlide(const LWindow* inDrawer) {
  auto it = Drawers().find(inDrawer);
  if (it == Drawers().end()) return;
  if (QPropertyAnimation* slide = it->second.slide) {
    slide->disconnect();
    slide->stop();
    slide->deleteLater();
  }
  Drawers().erase(it);
}

// Keeps a sheet at the top of its parent's content, centred, while the user
// moves or resizes the parent (the window manager moves child windows of
// their own accord on some desktops only).
class SheetFollower : public QObject {
 public:
  SheetFollower(QWidget* inSheet, QWidget* inContent) : QObject(inSheet), mSheet(inSheet), mContent(inContent) {}
  void Place() {
    if (!mContent) return;
    const QPoint top = mContent->mapToGlobal(QPoint(0, 0));
    mSheet->move(top.x() + (mContent->width() - mSheet->width()) / 2, top.y());
  }

 protected:
  bool eventFilter(QObject* inWatched, QEvent* inEvent) override {
    if (inEvent->type() == QEvent::Move || inEvent->type() == QEvent::Resize) Place();
    return QObject::eventFilter(inWatched, inEvent);
  }

 private:
  QWidget* mSheet;
  QPointer<QWidget> mContent;
};

constexpr const char* kFollowerName = "trxSheetFollower";

}  // namespace

// ---------------------------------------------------------------------------
// Sheets

void USheetWindows::ShowSheetWindow(LWindow* inSheetWindow, LWindow* inParent) {
  if (!inSheetWindow || !inParent) return;
  QWidget* frame = inSheetWindow->GetFrameWidget();
  QWidget* parentFrame = inParent->GetFrameWidget();
  UQt::OnMain([&] {
    if (frame->parentWidget() != parentFrame) frame->setParent(parentFrame, Qt::Sheet);
  });
  // At the top of the parent's content, centred on it.
  const Rect bounds = inParent->GetGlobalBounds();
  SDimension16 size;
  inSheetWindow->GetFrameSize(size);
  const SInt16 left = static_cast<SInt16>(bounds.left + ((bounds.right - bounds.left) - size.width) / 2);
  inSheetWindow->MoveWindowTo(left, bounds.top);
  // A sheet's frame is a dialog: open() shows it window-modal on the parent,
  // without a loop of its own (the sheet's answer comes as a broadcast).
  UQt::OnMain([&] {
    if (auto* dialog = qobject_cast<QDialog*>(frame)) {
      if (!dialog->isVisible()) dialog->open();
    } else {
      frame->setWindowModality(Qt::WindowModal);
    }
  });
  inSheetWindow->Show();
  UQt::OnMain([&] {
    if (!frame->findChild<SheetFollower*>(QString::fromLatin1(kFollowerName), Qt::FindDirectChildrenOnly)) {
      auto* follower = new SheetFollower(frame, inParent->GetWidget());
      follower->setObjectName(QString::fromLatin1(kFollowerName));
      parentFrame->installEventFilter(follower);
    }
    frame->raise();
    frame->activateWindow();
    inSheetWindow->GetWidget()->setFocus();
  });
}

void USheetWindows::HideSheetWindow(LWindow* inSheetWindow) {
  if (!inSheetWindow) return;
  inSheetWindow->Hide();
  QWidget* frame = inSheetWindow->GetFrameWidget();
  UQt::OnMain([&] {
    delete frame->findChild<SheetFollower*>(QString::fromLatin1(kFollowerName), Qt::FindDirectChildrenOnly);
    // Let go of the parent: its widgets may go before this window does.
    if (frame->parentWidget()) frame->setParent(nullptr, Qt::Window);
  });
}

SInt32 USheetWindows::NewAlert(LWindow* inParent, AlertType inAlertType, const std::string& inMessage,
                               const std::string& inExplanation, const std::string& inDefaultText,
                               const std::string& inCancelText, const std::string& inOtherText, AlertReply inReply) {
  const SInt32 id = sNextAlertID++;
  auto alert = std::make_shared<Alert>();
  alert->reply = std::move(inReply);
  alert->windowModal = inParent != nullptr;
  UQt::OnMain([&] {
    UQt::EnsureApplication();
    auto* box = new QMessageBox(inParent ? inParent->GetFrameWidget() : nullptr);
    box->setWindowModality(inParent ? Qt::WindowModal : Qt::ApplicationModal);
    if (inParent) box->setWindowFlag(Qt::Sheet, true);
    switch (inAlertType) {
      case kAlertStopAlert: box->setIcon(QMessageBox::Critical); break;
      case kAlertNoteAlert: box->setIcon(QMessageBox::Information); break;
      case kAlertCautionAlert: box->setIcon(QMessageBox::Warning); break;
      default: box->setIcon(QMessageBox::NoIcon); break;
    }
    box->setText(Q(inMessage));
    box->setInformativeText(Q(inExplanation));
    std::map<QAbstractButton*, OSType> commands;
    QPushButton* defaultButton =
        box->addButton(inDefaultText.empty() ? QStringLiteral("OK") : Q(inDefaultText), QMessageBox::AcceptRole);
    commands[defaultButton] = kAlertCommandDefault;
    if (!inOtherText.empty()) commands[box->addButton(Q(inOtherText), QMessageBox::DestructiveRole)] = kAlertCommandOther;
    QAbstractButton* cancelButton = nullptr;
    if (!inCancelText.empty()) {
      cancelButton = box->addButton(Q(inCancelText), QMessageBox::RejectRole);
      commands[cancelButton] = kAlertCommandCancel;
    }
    box->setDefaultButton(defaultButton);
    box->setEscapeButton(cancelButton ? cancelButton : defaultButton);
    alert->box = box;
    std::weak_ptr<Alert> weak = alert;
    // The button clicked is the answer; it reaches the owner at a later pass
    // of the loop, outside the dialog's own signal.
    auto answer = [weak](OSType inCommand) {
      std::shared_ptr<Alert> a = weak.lock();
      if (!a || a->answered) return;
      a->answered = true;
      const OSType command = inCommand;
      QTimer::singleShot(0, qApp, [weak, command] {
        std::shared_ptr<Alert> later = weak.lock();
        if (!later || !later->reply) return;  // closed meanwhile
        USheetWindows::AlertReply reply = std::move(later->reply);
        later->reply = nullptr;
        reply(command);
      });
      UEventLoop::WakeUp();
    };
    QObject::connect(box, &QMessageBox::buttonClicked, box, [answer, commands](QAbstractButton* inButton) {
      auto it = commands.find(inButton);
      if (it != commands.end()) answer(it->second);
    });
    // Closed by the window manager: the escape button's answer.
    const OSType escape = cancelButton ? kAlertCommandCancel : kAlertCommandDefault;
    QObject::connect(box, &QDialog::finished, box, [answer, escape](int) { answer(escape); });
  });
  Alerts()[id] = alert;
  return id;
}

void USheetWindows::ShowAlert(SInt32 inAlertID) {
  std::shared_ptr<Alert> alert = FindAlert(inAlertID);
  if (!alert || !alert->box) return;
  UQt::OnMain([&] {
    if (alert->box->isVisible()) return;
    // open() is window-modal by definition; without a window the alert is
    // application-modal and shown as it is.
    if (alert->windowModal)
      alert->box->open();
    else
      alert->box->show();
  });
}

void USheetWindows::HideAlert(SInt32 inAlertID) {
  std::shared_ptr<Alert> alert = FindAlert(inAlertID);
  if (!alert || !alert->box) return;
  UQt::OnMain([&] { alert->box->hide(); });
}

void USheetWindows::CloseAlert(SInt32 inAlertID) {
  auto it = Alerts().find(inAlertID);
  if (it == Alerts().end()) return;
  std::shared_ptr<Alert> alert = it->second;
  Alerts().erase(it);
  alert->reply = nullptr;
  alert->answered = true;
  if (QMessageBox* box = alert->box) {
    UQt::OnMain([box] {
      box->disconnect();
      box->hide();
      box->deleteLater();
    });
  }
}

QWidget* USheetWindows::GetAlertWidget(SInt32 inAlertID) {
  std::shared_ptr<Alert> alert = FindAlert(inAlertID);
  return alert ? alert->box.data() : nullptr;
}

// ---------------------------------------------------------------------------
// Screens

Rect USheetWindows::GetScreensBounds() {
  QRect all;
  UQt::OnMain([&] {
    UQt::EnsureApplication();
    for (QScreen* screen : QGuiApplication::screens()) all = all.united(screen->geometry());
  });
  if (all.isEmpty()) return Rect{0, 0, 0, 0};
  return Rect{static_cast<SInt16>(all.top()), static_cast<SInt16>(all.left()), static_cast<SInt16>(all.bottom() + 1),
              static_cast<SInt16>(all.right() + 1)};
}

// ---------------------------------------------------------------------------
// Drawers

void USheetWindows::AttachDrawer(LWindow* inDrawerWindow, LWindow* inParent, SInt16 inSide, Boolean inAnimate) {
  if (!inDrawerWindow || !inParent) return;
  StopSlide(inDrawerWindow);
  SDimension16 size;
  inDrawerWindow->GetFrameSize(size);
  QWidget* panel = inDrawerWindow->GetFrameWidget();
  QWidget* parentFrame = inParent->GetFrameWidget();
  // The frame grows on the drawer's side; on the left it moves left by as
  // much, so that the content stays where it is. A drawer taller than the
  // content makes the frame taller too: a panel cut off at the window's
  // bottom would hide its last controls out of reach.
  const Rect content = inParent->GetGlobalBounds();
  const SInt16 below = static_cast<SInt16>(std::max(0, size.height - (content.bottom - content.top)));
  if (inSide == kDrawerSideLeft) {
    inParent->SetFrameInsets(size.width, 0, below);
    inParent->MoveWindowTo(static_cast<SInt16>(content.left - size.width), content.top);
  } else {
    inParent->SetFrameInsets(0, size.width, below);
  }
  UQt::OnMain([&] {
    if (panel->parentWidget() != parentFrame) panel->setParent(parentFrame, Qt::Widget);
  });
  // The grown frame stays on the screen with its controls.
  UWindowState::KeepOnScreen(inParent);
  inDrawerWindow->Show();
  UQt::OnMain([&] {
    panel->resize(size.width, size.height);
    // A line where the drawer meets the window's content.
    auto* edge = panel->findChild<QFrame*>(QStringLiteral("trxDrawerEdge"), Qt::FindDirectChildrenOnly);
    if (!edge) {
      edge = new QFrame(panel);
      edge->setObjectName(QStringLiteral("trxDrawerEdge"));
      edge->setFrameShape(QFrame::VLine);
      edge->setFrameShadow(QFrame::Sunken);
    }
    edge->setGeometry(inSide == kDrawerSideLeft ? size.width - 2 : 0, 0, 2, size.height);
    edge->raise();
    edge->show();
    inParent->GetWidget()->raise();  // the panel slides out from behind the content
    const QPoint out = DrawerPlace(inParent, panel, inSide, true);
    if (!inAnimate || !parentFrame->isVisible()) {
      panel->move(out);
      return;
    }
    panel->move(DrawerPlace(inParent, panel, inSide, false));
    auto* slide = new QPropertyAnimation(panel, "pos");
    slide->setDuration(180);
    slide->setEndValue(out);
    Drawers()[inDrawerWindow].slide = slide;
    const LWindow* key = inDrawerWindow;
    QObject::connect(slide, &QPropertyAnimation::finished, slide, [key, slide] {
      slide->deleteLater();
      Drawers().erase(key);
    });
    slide->start();
  });
}

void USheetWindows::DetachDrawer(LWindow* inDrawerWindow, LWindow* inParent, Boolean inAnimate) {
  if (!inDrawerWindow) return;
  StopSlide(inDrawerWindow);
  QWidget* panel = inDrawerWindow->GetFrameWidget();
  auto finish = [inDrawerWindow, inParent, panel] {
    inDrawerWindow->Hide();
    UQt::OnMain([&] {
      if (panel->parentWidget()) panel->setParent(nullptr, Qt::Window);
      panel->hide();
    });
    if (!inParent) return;
    // The content goes back to where the frame starts.
    const Rect content = inParent->GetGlobalBounds();
    inParent->SetFrameInsets(0, 0);
    inParent->MoveWindowTo(content.left, content.top);
    UWindowState::KeepOnScreen(inParent);
  };
  bool animate = false;
  UQt::OnMain([&] { animate = inAnimate && inParent && panel->isVisible() && panel->parentWidget(); });
  if (!animate) {
    finish();
    return;
  }
  // The side: left when the panel sits left of the content.
  UQt::OnMain([&] {
    const SInt16 side = panel->x() < inParent->GetWidget()->x() ? kDrawerSideLeft : kDrawerSideRight;
    auto* slide = new QPropertyAnimation(panel, "pos");
    slide->setDuration(180);
    slide->setEndValue(DrawerPlace(inParent, panel, side, false));
    Drawers()[inDrawerWindow].slide = slide;
    const LWindow* key = inDrawerWindow;
    QObject::connect(slide, &QPropertyAnimation::finished, slide, [key, slide, finish] {
      slide->deleteLater();
      Drawers().erase(key);
      finish();
    });
    slide->start();
  });
}

void USheetWindows::FollowParent(LWindow* inDrawerWindow, LWindow* inParent, SInt16 inSide) {
  if (!inDrawerWindow || !inParent || IsDrawerMoving(inDrawerWindow)) return;
  QWidget* panel = inDrawerWindow->GetFrameWidget();
  UQt::OnMain([&] {
    if (panel->parentWidget() == inParent->GetFrameWidget()) panel->move(DrawerPlace(inParent, panel, inSide, true));
  });
}

Boolean USheetWindows::IsDrawerMoving(LWindow* inDrawerWindow) {
  return Drawers().find(inDrawerWindow) != Drawers().end();
}
