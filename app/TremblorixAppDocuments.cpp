#include "app/TremblorixAppDocuments.h"

#include <algorithm>
#include <map>
#include <memory>

#include "app/CMovieDocument.h"
#include "media/CMovieTask.h"
#include "platform/base/LException.h"
#include "platform/framework/LPeriodical.h"
#include "platform/ui/UDesktop.h"
#include "toolkit/CRegularWindow.h"

namespace {

const UAppDocuments::SProvider* sProvider = nullptr;
Boolean sTestQuitting = false;
Boolean sTestDisregard = false;
Boolean sDiscarding = false;

// A movie document as the application sees it.
class CMovieAppDocument : public CAppDocument {
 public:
  explicit CMovieAppDocument(CMovieDocument* inDoc) : mDoc(inDoc) {}
  Boolean IsModified() const override { return mDoc->IsModified(); }
  LWindow* GetWindow() const override { return mDoc->GetWindow(); }
  Boolean UsesFile(const FSSpec& inSpec) const override {
    return mDoc->HasFile() && FSSpecPath(mDoc->GetFileSpec()) == FSSpecPath(inSpec);
  }
  void MakeCurrent() override {
    LWindow* w = mDoc->GetWindow();
    if (!w) return;
    if (!w->IsVisible()) w->Show();
    w->Select();
  }
  void AttemptClose(Boolean inRecordIt) override { mDoc->AttemptClose(inRecordIt); }
  Boolean IsTaskRunning() const override { return mDoc->IsTaskRunning(); }
  void StopTask() override {
    if (CMovieTask* task = mDoc->GetRunningTask()) task->UserCanceled();
  }
  Boolean IsAsking() const override {
    CRegularWindow* w = mDoc->GetWindow();
    return mDoc->IsAsking() || (w && w->GetCurrentSheet() != nullptr);
  }
  void Close() override { mDoc->Close(); }
  LCommander* GetCommander() override { return mDoc; }
  CMovieDocument* mDoc;
};

std::map<CMovieDocument*, std::unique_ptr<CMovieAppDocument>>& Links() {
  static std::map<CMovieDocument*, std::unique_ptr<CMovieAppDocument>> sLinks;
  return sLinks;
}

// The live movie documents, by their document windows.
std::vector<CAppDocument*> MovieDocuments() {
  std::vector<CMovieDocument*> live;
  for (LWindow* w : UDesktop::GetWindowsOfClass(kDocumentWindowClass)) {
    auto* doc = dynamic_cast<CMovieDocument*>(w->GetSuperCommander());
    if (doc && CSingleDocument::GetDocTester().FindDocument(doc) &&
        std::find(live.begin(), live.end(), doc) == live.end())
      live.push_back(doc);
  }
  auto& links = Links();
  for (auto it = links.begin(); it != links.end();)
    it = std::find(live.begin(), live.end(), it->first) == live.end() ? links.erase(it) : std::next(it);
  std::vector<CAppDocument*> docs;
  for (CMovieDocument* doc : live) {
    auto& link = links[doc];
    if (!link) link = std::make_unique<CMovieAppDocument>(doc);
    docs.push_back(link.get());
  }
  return docs;
}

CAppDocument* Wrap(CMovieDocument* inDoc) {
  for (CAppDocument* d : MovieDocuments())
    if (static_cast<CMovieAppDocument*>(d)->mDoc == inDoc) return d;
  return nullptr;
}

// Closes the documents one per pass while discarding for a quit.
class CDiscardCloser : public LPeriodical {
 public:
  void SpendTime(const EventRecord&) override {
    std::vector<CAppDocument*> docs = UAppDocuments::GetDocuments();
    if (docs.empty()) {
      StopRepeating();
      return;
    }
    CAppDocument* doc = docs.front();
    if (doc->IsTaskRunning()) {
      // Its end (and its progress sheet's) comes first; the task's end
      // message still reaches a whole document.
      doc->StopTask();
      return;
    }
    if (doc->IsAsking()) {
      // Something on its window waits for the user: never closed under it.
      sDiscarding = false;
      StopRepeating();
      doc->MakeCurrent();
      return;
    }
    try {
      doc->Close();
    } catch (...) {
      sDiscarding = false;
      StopRepeating();
    }
  }
};

CDiscardCloser& DiscardCloser() {
  static CDiscardCloser sCloser;
  return sCloser;
}

}  // namespace

void UAppDocuments::SetProvider(const SProvider* inProvider) {
  sProvider = inProvider;
  sTestQuitting = false;
  sTestDisregard = false;
  sDiscarding = false;
}

std::vector<CAppDocument*> UAppDocuments::GetDocuments() {
  std::vector<CAppDocument*> docs = sProvider ? sProvider->list() : MovieDocuments();
  // Front to back by their windows; hidden windows after the visible ones.
  std::vector<CAppDocument*> ordered;
  for (LWindow* w : UDesktop::GetWindows())
    for (CAppDocument* d : docs)
      if (d->GetWindow() == w && w->IsVisible()) ordered.push_back(d);
  for (CAppDocument* d : docs)
    if (std::find(ordered.begin(), ordered.end(), d) == ordered.end()) ordered.push_back(d);
  return ordered;
}

CAppDocument* UAppDocuments::FindByFileSpec(const FSSpec& inSpec) {
  for (CAppDocument* d : GetDocuments())
    if (d->UsesFile(inSpec)) return d;
  return nullptr;
}

CAppDocument* UAppDocuments::OpenMovieDocument(FSSpec* inSpec) {
  if (sProvider) return sProvider->open(inSpec);
  return Wrap(new CMovieDocument(*inSpec));
}

CAppDocument* UAppDocuments::NewMovieDocument(CMovie* inMovie) {
  if (sProvider) return sProvider->make(inMovie);
  return Wrap(new CMovieDocument(inMovie));
}

Boolean UAppDocuments::IsQuitting() {
  if (sDiscarding) return true;
  return sProvider ? sTestQuitting : CSingleDocument::sQuitting;
}

Boolean UAppDocuments::GetDisregardChanges() { return sProvider ? sTestDisregard : CSingleDocument::sDisregardChanges; }

void UAppDocuments::SetQuitting(Boolean inQuitting, Boolean inDisregardChanges) {
  sDiscarding = false;
  if (sProvider) {
    sTestQuitting = inQuitting;
    sTestDisregard = inDisregardChanges;
    return;
  }
  CSingleDocument::sQuitting = inQuitting;
  CSingleDocument::sDisregardChanges = inDisregardChanges;
}

void UAppDocuments::DiscardAllForQuit() {
  // The documents' own quit sequence stays out of it: this closer goes
  // through them one by one.
  SetQuitting(false, false);
  sDiscarding = true;
  DiscardCloser().StartRepeating();
}

Boolean UAppDocuments::IsDiscarding() { return sDiscarding; }
