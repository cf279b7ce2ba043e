// A sheet that hosts a navigation dialog (save changes, discard changes, a
// file dialog) on its document window. Its owner makes it, hands it to the
// window (CRegularWindow::AddSheet) and runs the dialog through UNavigation
// with the sheet as the dialog's responder and the window as the dialog's
// parent. The dialog's answer goes to the sheet's listeners as
// msg_NavSheetUserAction with the dialog's NavCBRec*, then its end as
// msg_NavSheetTerminate with the same record; the sheet then releases
// itself. However it ends (answered, released by its owner, or deleted with
// its window) the listeners hear msg_SheetReleased last; a sheet deleted
// unanswered disposes of its dialog without a terminate message.
#pragma once

#include "toolkit/CNavEventResponder.h"
#include "toolkit/LSheet.h"

constexpr MessageT msg_NavSheetUserAction = 1100;
constexpr MessageT msg_NavSheetTerminate = 1101;

class LDocumentNavSheet : public LDocumentSheet, public CNavEventResponder {
 public:
  explicit LDocumentNavSheet(LListener* inListener);
  ~LDocumentNavSheet() override;

  // The sheet takes (and gives back) the window's keyboard target; the
  // dialog itself shows on the parent window as the responder presents it.
  void Show() override;
  void Hide() override;

  // Asks for a fresh command status, then broadcasts msg_NavSheetUserAction.
  void InvokeNavUserAction(NavCBRec* inParams) override;
  // Broadcasts msg_NavSheetTerminate, then releases the sheet (unless a
  // listener deleted it meanwhile).
  void InvokeNavTerminate(NavCBRec* inParams) override;

 private:
  bool* mDeletedFlag = nullptr;
  SInt32 mHandlerDepth = 0;
};
