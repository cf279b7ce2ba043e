// A tab group: a row of tabs (QTabBar) over the pages it holds, one view per
// tab in order; only the current tab's page shows. Choosing a tab broadcasts
// the message with a pointer to the new tab number (1-based).
// Layout: pane record, view record, SInt32 message, SInt32 current tab,
// UInt16 tab count, a Str255 title per tab.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/LView.h"

class LTabGroup : public LView, public LBroadcaster {
 public:
  static constexpr ClassIDT class_ID = 'tabg';
  LTabGroup(const SPaneInfo& inPaneInfo, const SViewInfo& inViewInfo, MessageT inMessage,
            const std::vector<std::string>& inTitles);
  explicit LTabGroup(LStream* inStream);
  ClassIDT GetClassID() const override { return class_ID; }

  MessageT GetMessage() const { return mMessage; }
  SInt32 GetValue() const { return mValue; }
  // Shows that tab's page (clamped to the tabs) and broadcasts a change.
  void SetValue(SInt32 inTab);
  SInt32 CountTabs() const { return static_cast<SInt32>(mTitles.size()); }
  std::string GetTabTitle(SInt32 inTab) const;
  // The page of a tab (the n-th view inside), nil when there is none.
  LView* GetPage(SInt32 inTab) const;

 protected:
  QWidget* MakeWidget(QWidget* inParent) override;
  void FinishCreateSelf() override;
  void FrameChanged() override;
  void ShowCurrentPage();

  MessageT mMessage = msg_Nothing;
  SInt32 mValue = 1;
  std::vector<std::string> mTitles;
};
