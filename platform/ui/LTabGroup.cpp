#include "platform/ui/LTabGroup.h"

#include <QSignalBlocker>
#include <QTabBar>

#include "platform/framework/LStream.h"
#include "platform/ui/UControlSupport.h"

namespace {

QTabBar* TabBarOf(QWidget* inWidget) {
  return inWidget ? inWidget->findChild<QTabBar*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

}  // namespace

LTabGroup::LTabGroup(const SPaneInfo& inPaneInfo, const SViewInfo& inViewInfo, MessageT inMessage,
                     const std::vector<std::string>& inTitles)
    : LView(inPaneInfo, inViewInfo), mMessage(inMessage), mTitles(inTitles) {}

LTabGroup::LTabGroup(LStream* inStream) : LView(inStream) {
  UInt16 count = 0;
  *inStream >> mMessage >> mValue >> count;
  for (UInt16 i = 0; i < count; ++i) {
    Str255 title;
    inStream->ReadPString(title);
    mTitles.push_back(UControlSupport::FromPString(title));
  }
  mValue = std::clamp<SInt32>(mValue, 1, std::max<SInt32>(1, CountTabs()));
}

std::string LTabGroup::GetTabTitle(SInt32 inTab) const {
  return inTab >= 1 && inTab <= CountTabs() ? mTitles[static_cast<size_t>(inTab - 1)] : "";
}

LView* LTabGroup::GetPage(SInt32 inTab) const {
  SInt32 n = 0;
  for (LPane* sub : mSubPanes)
    if (auto* view = dynamic_cast<LView*>(sub))
      if (++n == inTab) return view;
  return nullptr;
}

void LTabGroup::SetValue(SInt32 inTab) {
  inTab = std::clamp<SInt32>(inTab, 1, std::max<SInt32>(1, CountTabs()));
  if (inTab == mValue) return;
  mValue = inTab;
  ShowCurrentPage();
  SInt32 tab = mValue;
  BroadcastMessage(mMessage, &tab);
}

void LTabGroup::FinishCreateSelf() {
  LView::FinishCreateSelf();
  ShowCurrentPage();
}

QWidget* LTabGroup::MakeWidget(QWidget* inParent) {
  QWidget* box = LView::MakeWidget(inParent);
  auto* bar = new QTabBar(box);
  for (const std::string& title : mTitles) bar->addTab(UControlSupport::ToQString(title));
  bar->setCurrentIndex(mValue - 1);
  bar->setGeometry(0, 0, mWidth, bar->sizeHint().height());
  QObject::connect(bar, &QTabBar::currentChanged, [this](int inIndex) { SetValue(inIndex + 1); });
  return box;
}

void LTabGroup::FrameChanged() {
  LView::FrameChanged();
  if (QTabBar* bar = TabBarOf(PeekWidget())) bar->setGeometry(0, 0, mWidth, bar->sizeHint().height());
}

void LTabGroup::ShowCurrentPage() {
  if (QTabBar* bar = TabBarOf(PeekWidget())) {
    QSignalBlocker block(bar);
    bar->setCurrentIndex(mValue - 1);
  }
  for (SInt32 tab = 1;; ++tab) {
    LView* page = GetPage(tab);
    if (page == nullptr) break;
    if (tab == mValue) page->Show();
    else page->Hide();
  }
}
