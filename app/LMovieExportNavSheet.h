// The export sheet of a movie document: the save question for the
// destination plus the export controls (layout 1001): the exporter's Options
// dialog (1), the exporter pop-up (2), selection only (3), the exporter's
// defaults (4) and single field (5, only for movies whose field order is
// known). The file name keeps the chosen exporter's extension. The sheet's
// choices become the export options when it goes.
//
// A document opens it with its movie, interlace mode and window and gets the
// chosen file, then queues the export with CExportMovie::DoExport.
#pragma once

#include <functional>
#include <string>

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"
#include "platform/framework/LListener.h"
#include "platform/movies/MovieExport.h"
#include "platform/ui/LPane.h"

class CMovie;
class LWindow;
struct SAnswer;

constexpr ResIDT PPob_ExportControls = 1001;

// Items of the export controls.
enum : SInt16 {
  kExportItemOptions = 1,
  kExportItemExporter = 2,
  kExportItemSelectionOnly = 3,
  kExportItemDefaults = 4,
  kExportItemSingleField = 5,
};

class LMovieExportNavSheet : public LListener {
 public:
  // The export options (read by the request writer, stored in the preferences).
  static OSType sCurrentExporter;
  static Boolean sSelectionOnly;
  static Boolean sSingleField;

  // The custom area's least size.
  static constexpr SInt16 kCustomWidth = 128;
  static constexpr SInt16 kCustomHeight = 64;

  // inDone gets the chosen file, or nil when the user cancelled.
  typedef std::function<void(const FSSpec* inFile)> Completion;

  LMovieExportNavSheet(CMovie* inMovie, SInt32 inInterlaceMode, LWindow* inParent = nullptr);
  ~LMovieExportNavSheet() override;
  LMovieExportNavSheet(const LMovieExportNavSheet&) = delete;
  LMovieExportNavSheet& operator=(const LMovieExportNavSheet&) = delete;

  // Shows the controls and asks for the destination, proposing inName with
  // the exporter's extension. The answer reaches inDone at a later pass.
  void Start(const std::string& inName, Completion inDone);

  // The file name with its extension replaced by the exporter's (none when it has none).
  void InvokeNavStart(const std::string& inName);
  // A click on item inItem of the export controls.
  void InvokeNavEvent(SInt16 inItem);
  // Negotiates the custom area: ioArea is what is proposed and becomes what is asked.
  void InvokeNavCustomize(Rect& ioArea);
  void InvokeNavTerminate();

  void ListenToMessage(MessageT inMessage, void* ioParam) override;

  const std::string& GetSaveFileName() const { return mSaveName; }
  OSType GetCurrentSubtype() const { return mSubtype; }
  Boolean GetSelectionOnly() const { return mSelectionOnly; }
  Boolean GetSingleField() const { return mSingleField; }
  MovieExportComponent GetExporter() const { return mExporter; }
  LWindow* GetControls() const { return mControls; }
  Boolean IsSingleFieldActive() const;

  // inName without its extension, plus "." and the extension without blanks.
  static std::string NameWithExtension(const std::string& inName, OSType inExtension);
  // Hooks the exporters' settings dialog up to the Options question.
  static void InstallExporterDialog();

 private:
  void OpenExporter();
  void SyncControls();
  void Answer(const SAnswer& inAnswer);

  CMovie* mMovie;
  SInt32 mInterlaceMode;
  LWindow* mParent;
  LWindow* mControls = nullptr;
  MovieExportComponent mExporter = nullptr;
  OSType mSubtype;
  Boolean mSelectionOnly;
  Boolean mSingleField;
  std::string mSaveName;
  Rect mLastTry{0, 0, 0, 0};
  Completion mDone;
  Boolean mSyncing = false;
};
