#include "app/TremblorixAppDocuments.h"

#include "platform/base/LException.h"
#include "platform/ui/UDesktop.h"

namespace {
const UAppDocuments::SProvider* sProvider = nullptr;
Boolean sQuitting = false;
Boolean sDisregardChanges = false;

// The movie documents (none until the movie document class is linked in).
std::vector<CAppDocument*> MovieDocuments() { return {}; }
}  // namespace

void UAppDocuments::SetProvider(const SProvider* inProvider) {
  sProvider = inProvider;
  sQuitting = false;
  sDisregardChanges = false;
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
  Throw_(err_NilPointer);
}

CAppDocument* UAppDocuments::NewMovieDocument(CMovie* inMovie) {
  if (sProvider) return sProvider->make(inMovie);
  Throw_(err_NilPointer);
}

Boolean UAppDocuments::IsQuitting() { return sQuitting; }
Boolean UAppDocuments::GetDisregardChanges() { return sDisregardChanges; }

void UAppDocuments::SetQuitting(Boolean inQuitting, Boolean inDisregardChanges) {
  sQuitting = inQuitting;
  sDisregardChanges = inDisregardChanges;
}
