// The export sheet of a movie document: the put-file dialog for the
// destination with the export controls (layout 1001) in its custom area:
// the exporter's Options dialog (1), the exporter pop-up (2), selection only
// (3), the exporter's defaults (4) and single field (5, only for movies whose
// field order is known). The file name keeps the chosen exporter's
// extension. The sheet's choices become the export options when it goes.
//
// A document opens it with its movie, interlace mode and window:
//   auto* sheet = new LMovieExportNavSheet(movie, interlaceMode, window);
//   sheet->Start(name, [sheet](const FSSpec* inFile) { ...; delete sheet; });
// and, with the file, queues the export (CExportMovie::DoExport). The
// completion runs once, after the dialog has ended; the sheet may be deleted
// inside it.
#pragma once

#include <functional>
#include <string>

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"
#include "platform/movies/MovieExport.h"
#include "platform/ui/LPane.h"
#include "toolkit/CNavEventResponder.h"

class CMovie;
class LView;
class LWindow;

constexpr ResIDT PPob_ExportControls = 1001;

// Items of the export controls, counted from the first custom item.
enum : SInt16 {
  kExportItemOptions = 1,
  kExportItemExporter = 2,
  kExportItemSelectionOnly = 3,
  kExportItemDefaults = 4,
  kExportItemSingleField = 5,
};

class LMovieExportNavSheet : public CNavEventResponder {
 public:
  // The custom area's least size.
  static constexpr SInt16 kCustomWidth = 128;
  static constexpr SInt16 kCustomHeight = 64;

  // inDone gets the chosen file, or nil when the user cancelled.
  typedef std::function<void(const FSSpec* inFile)> Completion;

  LMovieExportNavSheet(CMovie* inMovie, SInt32 inInterlaceMode, LWindow* inParent = nullptr);
  ~LMovieExportNavSheet() override;

  // Opens the put-file dialog (a sheet of the parent window when there is
  // one) proposing inName with the exporter's extension.
  OSStatus Start(const std::string& inName, Completion inDone);

  void InvokeNavStart(NavCBRec* inParams) override;
  void InvokeNavCustomize(NavCBRec* inParams) override;
  void InvokeNavEvent(NavCBRec* inParams) override;
  void InvokeNavUserAction(NavCBRec* inParams) override;
  void InvokeNavTerminate(NavCBRec* inParams) override;

  // What a click on item inItem of the export controls does.
  void DoItem(SInt16 inItem);
  // Negotiates the custom area: ioArea is what is proposed and becomes what is asked.
  void NegotiateCustomArea(Rect& ioArea);

  // The file name shown now.
  std::string GetSaveFileName() const;
  OSType GetCurrentSubtype() const { return mSubtype; }
  Boolean GetSelectionOnly() const { return mSelectionOnly; }
  Boolean GetSingleField() const { return mSingleField; }
  MovieExportComponent GetExporter() const { return mExporter; }
  // The export controls while the dialog is up (nil otherwise).
  LView* GetControls() const;
  LPane* GetItem(SInt16 inItem) const;
  Boolean IsSingleFieldActive() const;

  // inName without its extension, plus "." and the extension without blanks.
  static std::string NameWithExtension(const std::string& inName, OSType inExtension);
  // Hooks the exporters' settings dialog up to the Options question.
  static void InstallExporterDialog();

 private:
  void OpenExporter();
  void SyncControls();
  void SetSaveFileName(const std::string& inName);
  std::string WithExtension(const std::string& inName) const;

  CMovie* mMovie;
  SInt32 mInterlaceMode;
  LWindow* mParent;
  MovieExportComponent mExporter = nullptr;
  OSType mSubtype;
  Boolean mSelectionOnly;
  Boolean mSingleField;
  SInt16 mFirstItem = 0;
  std::string mSaveName;
  Rect mLastTry{0, 0, 0, 0};
  Completion mDone;
  Boolean mSyncing = false;
  Boolean mChosen = false;
  FSSpec mChosenFile{};
};
