#include "platform/ui/LWindow.h"

#include <QCloseEvent>
#include <QCursor>
#include <QDialog>
#include <QEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMoveEvent>
#include <QWidget>
#include <algorithm>

#include "platform/base/Clock.h"
#include "platform/base/LException.h"
#include "platform/base/PascalStrings.h"
#include "platform/framework/LStream.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/ui/LMenu.h"
#include "platform/ui/UDesktop.h"
#include "platform/ui/UPaneHost.h"
#include "platform/ui/UQtSupport.h"
#include "platform/ui/UWindowState.h"

// The window the program last asked Qt to activate, until Qt says it is.
// Activations Qt reports for other windows meanwhile are echoes of earlier
// requests: following them would ask again and the two would never settle.
// A request Qt has not answered within half a second is forgotten, so a
// later click on another window is followed again.
static LWindow* sActivationRequested = nullptr;
static UInt32 sActivationRequestTicks = 0;

// What the top-level widget of a window does, whatever its Qt class: the
// menu bar over the content widget, activation followed, closing asked.
class UWindowFrame {
 public:
  explicit UWindowFrame(LWindow* inWindow) : mWindow(inWindow) {}
  virtual ~UWindowFrame() = default;
  void ForgetWindow() { mWindow = nullptr; }

 protected:
  void FrameEvent(QEvent* inEvent) {
    if (mWindow && inEvent->type() == QEvent::WindowActivate) {
      if (sActivationRequested && TickCount() - sActivationRequestTicks > 30) sActivationRequested = nullptr;
      bool echo = sActivationRequested && sActivationRequested != mWindow;
      if (sActivationRequested == mWindow) sActivationRequested = nullptr;
      if (!echo && mWindow->IsVisible() && UDesktop::FetchActiveWindow() != mWindow && !mWindow->IsFloating())
        UDesktop::SelectDeskWindow(mWindow);
    }
  }
  void FrameResized() {
    if (mWindow) mWindow->LayoutFrame();
  }
  // The user or the window manager moved the window: later moves (a
  // drawer's, keeping it on the screen) start from where it is now.
  void FrameMoved(const QPoint& inFramePos) {
    if (!mWindow) return;
    mWindow->mGlobalLeft = static_cast<SInt16>(inFramePos.x());
    mWindow->mGlobalTop = static_cast<SInt16>(inFramePos.y());
  }
  // The window manager decorates a window only after it is shown, and Qt
  // hears of the decoration with the move or resize that comes with it: the
  // window was placed and sized before its whole frame was known. Once the
  // event is handled, the window is told (it may move and resize again).
  void FrameGeometryChanged(QWidget* inFrame) {
    if (!mWindow || !inFrame->isWindow() || !inFrame->isVisible()) return;
    const Rect decoration = UWindowState::GetDecoration(inFrame);
    const Rect& known = mWindow->mDecoration;
    if (decoration.top == known.top && decoration.left == known.left && decoration.bottom == known.bottom &&
        decoration.right == known.right)
      return;
    mWindow->mDecoration = decoration;
    QMetaObject::invokeMethod(
        inFrame,
        [this] {
          if (mWindow && mWindow->IsVisible()) mWindow->FrameMarginsChanged();
        },
        Qt::QueuedConnection);
  }
  void FrameClose(QCloseEvent* inEvent) {
    // The window decides; the object deletes its widgets itself.
    inEvent->ignore();
    if (mWindow) mWindow->AttemptClose();
  }

  LWindow* mWindow;
};

template <class TBase>
class TWindowFrame : public TBase, public UWindowFrame {
 public:
  explicit TWindowFrame(LWindow* inWindow) : TBase(nullptr), UWindowFrame(inWindow) {}

 protected:
  bool event(QEvent* inEvent) override {
    FrameEvent(inEvent);
    return TBase::event(inEvent);
  }
  void resizeEvent(QResizeEvent* inEvent) override {
    TBase::resizeEvent(inEvent);
    FrameResized();
    FrameGeometryChanged(this);
  }
  void moveEvent(QMoveEvent* inEvent) override {
    TBase::moveEvent(inEvent);
    if (this->isVisible()) FrameMoved(this->pos());
    FrameGeometryChanged(this);
  }
  void closeEvent(QCloseEvent* inEvent) override { FrameClose(inEvent); }
};

// A sheet's top-level widget is a dialog, so that it opens window-modal on
// its document window with open(). Every key is the sheet's: the framework
// hears it first, and the dialog's own keys (Return for a default button,
// Escape to reject) never act, nor does it close or finish by itself.
class USheetFrame : public TWindowFrame<QDialog> {
 public:
  using TWindowFrame<QDialog>::TWindowFrame;
  void accept() override {}
  void reject() override {}
  void done(int) override {}

 protected:
  void keyPressEvent(QKeyEvent* inEvent) override {
    const int key = inEvent->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
      inEvent->accept();
      return;
    }
    QWidget::keyPressEvent(inEvent);
  }
  // Tab and Shift-Tab reach the keyboard target like any other key; only
  // when nobody takes them does the focus move.
  bool focusNextPrevChild(bool inNext) override {
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, inNext ? Qt::NoModifier : Qt::ShiftModifier, QStringLiteral("\t"));
    if (UPaneHost::DeliverKey(&tab, true)) return true;
    QDialog::focusNextPrevChild(inNext);
    return true;  // offered once: not again as a plain key press
  }
};

LWindow::LWindow(const SWindowInfo& inInfo, LCommander* inSuperCommander) : LCommander(inSuperCommander) {
  InitWindow(inInfo);
}

LWindow::LWindow(LStream* inStream) : LCommander(LCommander::GetTopCommander()) {
  SWindowInfo info;
  Str255 title = {0};
  *inStream >> info.paneID;
  inStream->ReadPString(title);
  info.title = PStrToString(title);
  *inStream >> info.windowClass >> info.attributes >> info.left >> info.top >> info.width >> info.height >>
      info.minWidth >> info.minHeight >> info.maxWidth >> info.maxHeight >> info.userCon;
  InitWindow(info);
}

void LWindow::InitWindow(const SWindowInfo& inInfo) {
  if (!GetSuperCommander() && GetTopCommander() && GetTopCommander() != this) SetSuperCommander(GetTopCommander());
  mPaneID = inInfo.paneID;
  mUserCon = inInfo.userCon;
  mWidth = inInfo.width;
  mHeight = inInfo.height;
  mImageSize = SDimension32{inInfo.width, inInfo.height};
  mVisible = false;
  mActive = false;
  mWindowClass = inInfo.windowClass;
  mAttributes = inInfo.attributes;
  mTitle = inInfo.title;
  mGlobalLeft = inInfo.left;
  mGlobalTop = inInfo.top;
  mMinMax = Rect{inInfo.minHeight, inInfo.minWidth, inInfo.maxHeight, inInfo.maxWidth};
  UDesktop::AddWindow(this);
}

LWindow::~LWindow() {
  if (sActivationRequested == this) sActivationRequested = nullptr;
  UDesktop::RemoveWindow(this);
  // The panes go before the commander part (some of them are sub-commanders).
  DeleteAllSubPanes();
  if (mPort) DisposeGWorld(mPort);
  mPort = nullptr;
  delete mPortImage;
  mPortImage = nullptr;
  if (mFrame) {
    QWidget* frame = mFrame;
    QWidget* content = mWidget;
    mFrame = nullptr;
    mWidget = nullptr;
    UQt::OnMain([frame, content] {
      if (auto* link = dynamic_cast<UWindowFrame*>(frame)) link->ForgetWindow();
      if (auto* host = dynamic_cast<UPaneHost*>(content)) host->ForgetPane();
      UPaneHost::MarkWidget(content, nullptr);
      frame->hide();
      frame->deleteLater();
    });
  }
  UDesktop::UpdateActivation();
}

void LWindow::SetAttribute(UInt32 inAttr) { mAttributes |= inAttr; }
void LWindow::ClearAttribute(UInt32 inAttr) { mAttributes &= ~inAttr; }

void LWindow::SetDescriptor(ConstStringPtr inDescriptor) { SetTitle(PStrToString(inDescriptor)); }

StringPtr LWindow::GetDescriptor(Str255 outDescriptor) const {
  StringToPStr(mTitle, outDescriptor);
  return outDescriptor;
}

void LWindow::SetTitle(const std::string& inTitle) {
  mTitle = inTitle;
  UpdateWindowTitle();
}

void LWindow::SetProxyFile(const FSSpec* inFile) {
  mHasProxy = inFile != nullptr;
  if (inFile) mProxy = *inFile;
  UpdateWindowTitle();
}

void LWindow::SetModified(Boolean inModified) {
  mModified = inModified;
  UpdateWindowTitle();
}

void LWindow::UpdateWindowTitle() {
  if (!mFrame) return;
  UQt::OnMain([this] {
    mFrame->setWindowTitle(QString::fromUtf8(mTitle.c_str()) + QStringLiteral("[*]"));
    mFrame->setWindowFilePath(mHasProxy ? QString::fromUtf8(mProxy.path) : QString());
    mFrame->setWindowModified(mModified);
  });
}

QWidget* LWindow::MakeWidget(QWidget*) {
  QWidget* frame = mWindowClass == kSheetWindowClass ? static_cast<QWidget*>(new USheetFrame(this))
                                                     : new TWindowFrame<QWidget>(this);
  mFrame = frame;
  auto* content = new UPaneHost(this, frame);
  content->setFocusPolicy(Qt::StrongFocus);
  mWidget = content;
  frame->move(mGlobalLeft, mGlobalTop);
  // Modal windows block the others (Qt's modality only; the loop stays ours).
  if (IsModal()) frame->setWindowModality(Qt::ApplicationModal);
  UpdateWindowTitle();
  if (!mQtMenuBar && mWindowClass == kDocumentWindowClass && LMenuBar::GetCurrentMenuBar()) {
    // Each document window shows the program's menus in its own bar.
    mQtMenuBar = new QMenuBar(frame);
    LMenuBar::GetCurrentMenuBar()->AttachTo(mQtMenuBar);
  }
  if (mQtMenuBar) mQtMenuBar->setParent(frame);
  LayoutFrame();
  return content;
}

void LWindow::SetQtMenuBar(QMenuBar* inBar) {
  mQtMenuBar = inBar;
  if (mFrame && inBar) {
    UQt::OnMain([this, inBar] {
      inBar->setParent(mFrame);
      inBar->show();
      LayoutFrame();
    });
  }
}

void LWindow::LayoutFrame() {
  if (!mFrame || !mWidget) return;
  int barHeight = 0;
  if (mQtMenuBar) {
    barHeight = mQtMenuBar->sizeHint().height();
    mQtMenuBar->setGeometry(0, 0, mFrame->width(), barHeight);
  }
  int w = mFrame->width() - mInsetLeft - mInsetRight, h = mFrame->height() - barHeight - mInsetBottom;
  static bool sLaying = false;
  if (sLaying) return;
  sLaying = true;
  if (w != mWidth || h != mHeight) {
    if (mFrame->isVisible() && w > 0 && h > 0) {
      // The user (or the window manager) resized the window.
      ResizeFrameTo(static_cast<SInt16>(w), static_cast<SInt16>(h), true);
    } else {
      mFrame->resize(mWidth + mInsetLeft + mInsetRight, mHeight + barHeight + mInsetBottom);
    }
  }
  mWidget->setGeometry(mInsetLeft, barHeight, mWidth, mHeight);
  sLaying = false;
}

void LWindow::SyncWidget() {
  if (!mWidget) return;
  UQt::OnMain([this] {
    LayoutFrame();
    mWidget->setEnabled(IsEnabled());
    for (LPane* sub : mSubPanes)
      if (sub->PeekWidget()) sub->SyncWidget();
  });
}

void LWindow::FrameChanged() {
  if (mPort) {
    DisposeGWorld(mPort);
    mPort = nullptr;
  }
  if (mFrame) {
    UQt::OnMain([this] {
      int barHeight = mQtMenuBar ? mQtMenuBar->sizeHint().height() : 0;
      const int frameWidth = mWidth + mInsetLeft + mInsetRight, frameHeight = mHeight + barHeight + mInsetBottom;
      if (mFrame->width() != frameWidth || mFrame->height() != frameHeight) mFrame->resize(frameWidth, frameHeight);
      mWidget->setGeometry(mInsetLeft, barHeight, mWidth, mHeight);
    });
  }
  Refresh();
}

GrafPort* LWindow::GetWindowPort() {
  if (mPort) return mPort;
  Rect bounds = {0, 0, std::max<SInt16>(1, mHeight), std::max<SInt16>(1, mWidth)};
  GWorldPtr world = nullptr;
  if (NewGWorld(&world, 32, &bounds, nullptr, nullptr, 0) != noErr || !world) return nullptr;
  CGrafPtr savePort;
  GDHandle saveDevice;
  GetGWorld(&savePort, &saveDevice);
  SetGWorld(world, nullptr);
  RGBColor back = {0xEFEF, 0xEFEF, 0xEFEF};
  RGBBackColor(&back);
  EraseRect(&bounds);
  RGBColor white = {0xFFFF, 0xFFFF, 0xFFFF};
  RGBBackColor(&white);
  SetGWorld(savePort, saveDevice);
  mPort = world;
  return mPort;
}

void LWindow::ExposePortRect(const Rect& inPortRect) {
  if (!mPort) return;
  CGrafPtr savePort;
  GDHandle saveDevice;
  GetGWorld(&savePort, &saveDevice);
  SetGWorld(mPort, nullptr);
  SetOrigin(0, 0);
  Rect all = {0, 0, mHeight, mWidth};
  ClipRect(&all);
  RGBColor back = {0xEFEF, 0xEFEF, 0xEFEF};
  RGBBackColor(&back);
  EraseRect(&inPortRect);
  RGBColor white = {0xFFFF, 0xFFFF, 0xFFFF};
  RGBBackColor(&white);
  SetGWorld(savePort, saveDevice);
  // Every visible pane that overlaps draws itself again, back to front.
  std::vector<LPane*> stack = {this};
  while (!stack.empty()) {
    LPane* p = stack.back();
    stack.pop_back();
    Rect f;
    p->CalcPortFrameRect(f);
    bool overlaps = f.left < inPortRect.right && inPortRect.left < f.right && f.top < inPortRect.bottom && inPortRect.top < f.bottom;
    if (!overlaps || !p->IsVisible()) continue;
    p->mNeedsDraw = true;
    if (auto* view = dynamic_cast<LView*>(p))
      for (LPane* sub : view->GetSubPanes()) stack.push_back(sub);
  }
  if (mWidget) {
    UQt::OnMain([this, inPortRect] {
      mWidget->update(inPortRect.left, inPortRect.top, inPortRect.right - inPortRect.left, inPortRect.bottom - inPortRect.top);
    });
  }
}

QImage* LWindow::GetPortImage(const Rect& inPortRect) {
  GrafPort* port = GetWindowPort();
  if (!port) return nullptr;
  if (!mPortImage || mPortImage->width() != std::max<int>(1, mWidth) || mPortImage->height() != std::max<int>(1, mHeight)) {
    delete mPortImage;
    mPortImage = new QImage(std::max<int>(1, mWidth), std::max<int>(1, mHeight), QImage::Format_ARGB32);
  }
  SInt32 left = std::max<SInt32>(0, inPortRect.left), top = std::max<SInt32>(0, inPortRect.top);
  SInt32 right = std::min<SInt32>(mPortImage->width(), inPortRect.right);
  SInt32 bottom = std::min<SInt32>(mPortImage->height(), inPortRect.bottom);
  if (right > left && bottom > top) UQt::ConvertPortToImage(port, *mPortImage, left, top, right, bottom);
  return mPortImage;
}

void LWindow::Show() {
  GetWidget();
  FinishCreate();
  bool wasShown = mVisible;
  mVisible = true;
  UQt::OnMain([this] {
    SyncWidget();
    mFrame->show();
  });
  if (!wasShown) {
    for (LPane* sub : mSubPanes) sub->SuperShow();
    ShowSelf();
    UDesktop::BringToFront(this);
  }
  UDesktop::UpdateActivation();
}

void LWindow::Hide() {
  if (!mVisible) return;
  mVisible = false;
  if (sActivationRequested == this) sActivationRequested = nullptr;
  for (LPane* sub : mSubPanes) sub->SuperHide();
  HideSelf();
  if (mFrame) UQt::OnMain([this] { mFrame->hide(); });
  UDesktop::UpdateActivation();
}

void LWindow::Select() { UDesktop::SelectDeskWindow(this); }

void LWindow::Activate() {
  if (mWindowActive) return;
  mWindowActive = true;
  LView::Activate();
  if (mFrame)
    UQt::OnMain([this] {
      if (mFrame->isVisible()) {
        sActivationRequested = this;
        sActivationRequestTicks = TickCount();
        mFrame->activateWindow();
      }
      mWidget->setFocus();
    });
}

void LWindow::Deactivate() {
  if (!mWindowActive) return;
  mWindowActive = false;
  LView::Deactivate();
}

void LWindow::ActivateSelf() {
  // The keyboard target comes back to where it was in this window.
  if (HasAttribute(windAttr_Targetable) || GetLatentSub()) RestoreTarget();
}

void LWindow::DeactivateSelf() {
  // The target leaves the window; the window remembers where it was.
  if (IsOnDuty() && GetSuperCommander()) SwitchTarget(GetSuperCommander());
}

void LWindow::PutOnDuty(LCommander*) {
  // Becoming on duty from a click or a command into a window behind: bring it forward.
  if (!mWindowActive && mVisible && UDesktop::FetchActiveWindow() != this && IsRegular() && !UDesktop::FetchTopModal())
    UDesktop::SelectDeskWindow(this);
}

void LWindow::AttemptClose() {
  if (!GetSuperCommander() || GetSuperCommander()->AllowSubRemoval(this)) DoClose();
}

void LWindow::DoClose() { delete this; }

void LWindow::ResizeWindowTo(SInt16 inWidth, SInt16 inHeight) {
  SInt16 w = std::clamp<SInt16>(inWidth, mMinMax.left, mMinMax.right);
  SInt16 h = std::clamp<SInt16>(inHeight, mMinMax.top, mMinMax.bottom);
  ResizeFrameTo(w, h, true);
}

void LWindow::ResizeWindowBy(SInt16 inWidthDelta, SInt16 inHeightDelta) {
  ResizeWindowTo(static_cast<SInt16>(mWidth + inWidthDelta), static_cast<SInt16>(mHeight + inHeightDelta));
}

void LWindow::MoveWindowTo(SInt16 inLeft, SInt16 inTop) {
  mGlobalLeft = inLeft;
  mGlobalTop = inTop;
  if (mFrame) UQt::OnMain([this] { mFrame->move(mGlobalLeft, mGlobalTop); });
}

void LWindow::FrameMarginsChanged() {
  // Its controls stay within reach.
  if (mFrame && mWindowClass != kDrawerWindowClass) UWindowState::KeepOnScreen(this);
}

void LWindow::GetMinMaxSize(Rect& outRect) const { outRect = mMinMax; }
void LWindow::SetMinMaxSize(const Rect& inRect) { mMinMax = inRect; }

Rect LWindow::GetGlobalBounds() const {
  const SInt16 left = static_cast<SInt16>(mGlobalLeft + mInsetLeft);
  return Rect{mGlobalTop, left, static_cast<SInt16>(mGlobalTop + mHeight), static_cast<SInt16>(left + mWidth)};
}

void LWindow::SetFrameInsets(SInt16 inLeft, SInt16 inRight, SInt16 inBottom) {
  mInsetLeft = inLeft;
  mInsetRight = inRight;
  mInsetBottom = std::max<SInt16>(0, inBottom);
  if (!mFrame) return;
  UQt::OnMain([this] {
    const int barHeight = mQtMenuBar ? mQtMenuBar->sizeHint().height() : 0;
    mFrame->resize(mWidth + mInsetLeft + mInsetRight, mHeight + barHeight + mInsetBottom);
    LayoutFrame();
  });
}

void LWindow::HandleClick(const EventRecord& inMacEvent, SInt16 inClickCount) {
  if (UDesktop::FetchActiveWindow() != this && IsRegular() && !UDesktop::FetchTopModal()) Select();
  LPane::SetClickCount(inClickCount);
  SMouseDownEvent mouse;
  mouse.macEvent = inMacEvent;
  mouse.wherePort = inMacEvent.where;
  mouse.whereLocal = inMacEvent.where;
  EventRecord event = inMacEvent;
  if (!ExecuteAttachments(msg_Event, &event)) return;
  LPane* pane = FindDeepSubPaneContaining(inMacEvent.where.h, inMacEvent.where.v);
  if (pane) pane->Click(mouse);
}

void LWindow::AdjustCursor(Point inPortPt, const EventRecord& inMacEvent) {
  LPane* pane = FindDeepSubPaneContaining(inPortPt.h, inPortPt.v);
  if (!pane) pane = this;
  if (pane != LPane::sLastPaneMoused) {
    if (LPane::sLastPaneMoused) LPane::sLastPaneMoused->MouseLeave();
    LPane::sLastPaneMoused = pane;
    pane->MouseEnter(inPortPt, inMacEvent);
  } else {
    pane->MouseWithin(inPortPt, inMacEvent);
  }
  pane->AdjustMouse(inPortPt, inMacEvent, nullptr);
  if (!mWidget) return;
  static const Qt::CursorShape kShapes[] = {
      Qt::ArrowCursor,       Qt::IBeamCursor,     Qt::CrossCursor,       Qt::WaitCursor,
      Qt::PointingHandCursor, Qt::OpenHandCursor, Qt::ClosedHandCursor,  Qt::SizeHorCursor,
      Qt::SizeHorCursor,     Qt::SizeHorCursor,   Qt::DragCopyCursor,    Qt::ForbiddenCursor,
  };
  UQt::OnMain([this] { mWidget->setCursor(QCursor(kShapes[UCursor::Get()])); });
}

Boolean LWindow::ObeyCommand(CommandT inCommand, void* ioParam) {
  if (inCommand == cmd_Close && HasAttribute(windAttr_CloseBox)) {
    AttemptClose();
    return true;
  }
  return LCommander::ObeyCommand(inCommand, ioParam);
}

void LWindow::FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                                Str255 outName) {
  if (inCommand == cmd_Close && HasAttribute(windAttr_CloseBox)) {
    outEnabled = true;
    return;
  }
  LCommander::FindCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName);
}

LWindow* LWindow::FetchWindowOfWidget(QWidget* inWidget) {
  for (QWidget* w = inWidget; w; w = w->parentWidget()) {
    if (dynamic_cast<UWindowFrame*>(w)) {
      for (LWindow* window : UDesktop::GetWindows())
        if (window->mFrame == w) return window;
      return nullptr;
    }
  }
  return nullptr;
}
