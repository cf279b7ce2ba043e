#include "app/CTrackBrowser.h"

#include <algorithm>
#include <cstring>

#include "media/CMovie.h"
#include "media/CMovieAction.h"
#include "media/CTweenTracks.h"
#include "media/UMovies.h"
#include "motion/CMotionData.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/framework/LAction.h"
#include "platform/framework/LStr255.h"
#include "platform/graphics/QTImageDescription.h"
#include "platform/ui/LView.h"
#include "platform/ui/LWindow.h"
#include "toolkit/LCustomDialogSheet.h"
#include "toolkit/LTagReader.h"
#include "toolkit/ULocalization.h"

namespace {

constexpr OSType kTrackSettingsType = 'Trbx';
constexpr SInt16 kMovieEditTracks = 5;

std::string StringItem(SInt16 inIndex) {
  char text[256];
  ULocalization::GetString(text, STRx_TrackBrowser, inIndex);
  // A leading "\s" in the list keeps a space the text format would trim.
  if (text[0] == '\\' && text[1] == 's') {
    text[1] = ' ';
    return std::string(text + 1);
  }
  return std::string(text);
}

std::string FromLStr(const LStr255& inText) { return std::string(inText.ConstTextPtr(), inText.Length()); }

UInt32 ReadTrackOptions(Track inTrack) {
  UInt32 options = 0;
  Handle h = NewHandle(0);
  if (!h) return 0;
  try {
    if (GetUserData(GetTrackUserData(inTrack), h, kTrackSettingsType, 1) == noErr) {
      LTagReader reader(h, false);
      UInt32 tag = 0, length = 0;
      while (reader.ReadNextTag(tag, length)) {
        if (tag == 'opts' && length >= 4) {
          reader.ReadUInt32(options);
          break;
        }
        reader.IgnoreTag();
      }
    }
  } catch (...) {
    options = 0;
  }
  DisposeHandle(h);
  return options;
}

// The tracks edit as the document's undoer takes it: an action over the
// movie's edit states from before and after the sheet applied its changes.
class CTracksEditAction : public LAction {
 public:
  CTracksEditAction(CMovie* inMovie, MovieEditState inBefore)
      : LAction(STRx_MovieEdits, kMovieEditTracks), mAction(inMovie, inBefore, STRx_MovieEdits, kMovieEditTracks) {}
  Boolean IsPostable() const override { return mAction.IsPostable(); }
  Boolean CanRedo() const override { return mAction.CanRedo(); }
  Boolean CanUndo() const override { return mAction.CanUndo(); }

 protected:
  void RedoSelf() override { mAction.Redo(); }
  void UndoSelf() override { mAction.Undo(); }

 private:
  CMovieAction mAction;
};

}  // namespace

std::string CTrackBrowser::GetKindText(const TrackItem& inItem) {
  Media media = inItem.track ? GetTrackMedia(inItem.track) : nullptr;
  if (!media) return StringItem(5);
  OSType type = 0;
  Str255 creator;
  creator[0] = 0;
  GetMediaHandlerDescription(media, &type, creator, nullptr);
  switch (type) {
    case VideoMediaType: {
      std::string text = std::string(UMovies::GetMediaTypeName(type)) + ", ";
      SampleDescriptionHandle desc = reinterpret_cast<SampleDescriptionHandle>(NewHandle(0));
      if (desc) {
        GetMediaSampleDescription(media, 1, desc);
        if (GetHandleSize(reinterpret_cast<Handle>(desc)) >= static_cast<SInt32>(sizeof(ImageDescription))) {
          const ImageDescription* id = reinterpret_cast<const ImageDescription*>(*desc);
          text.append(reinterpret_cast<const char*>(id->name + 1), std::min<size_t>(id->name[0], 31));
        }
        DisposeHandle(reinterpret_cast<Handle>(desc));
      }
      return text;
    }
    case kTweenMediaType:
      if (inItem.layer == kMotionTrackLayer)
        return StringItem(6) + StringItem((inItem.options & kMotionOptionFieldPair) ? 8 : 9);
      if (inItem.layer == kControlTrackLayer) return StringItem(10);
      break;
    default: break;
  }
  const char* name = UMovies::GetMediaTypeName(type);
  return name ? std::string(name) : StringItem(5);
}

OSStatus CTrackBrowser::GetSetItemData(CBrowserPane* inPane, ListItemID inItem, ListPropertyID inProperty,
                                       SListItemData& ioData, Boolean inSet) {
  auto* table = inPane ? inPane->GetItemTable() : nullptr;
  if (!table) return errListItemNotFound;
  auto it = table->find(inItem);
  if (it == table->end()) return errListItemNotFound;
  TrackItem& item = it->second;
  if (inSet) {
    if (inProperty != 'cbox') return errListPropertyNotSupported;
    item.enabled = ioData.checkValue ? 1 : 0;
    return noErr;
  }
  try {
    LStr255 text;
    switch (inProperty) {
      case 'cbox': ioData.checkValue = item.enabled; return noErr;
      case 'titl': ioData.text = GetKindText(item); return noErr;
      case 'strt':
        UMovies::GetTimeCode(item.movie, GetTrackOffset(item.track), text);
        ioData.text = FromLStr(text);
        return noErr;
      case 'stop':
        UMovies::GetTimeCode(item.movie, GetTrackDuration(item.track), text);
        ioData.text = FromLStr(text);
        return noErr;
      case 'layr': ioData.text = std::to_string(item.layer); return noErr;
      default: return errListPropertyNotSupported;
    }
  } catch (const LException& e) {
    return static_cast<OSStatus>(ErrorCodeToOSErr(e.GetErrorCode()));
  }
}

OSStatus CTrackBrowser::InitBrowser(CBrowserPane* inPane, CMovie* /*inMovie*/) {
  try {
    ThrowIfNil_(inPane);
    inPane->SetItemTable(new std::map<ListItemID, TrackItem>);
    inPane->SetDataProc([inPane](ListItemID inItem, ListPropertyID inProperty, SListItemData& ioData, Boolean inSet) {
      return GetSetItemData(inPane, inItem, inProperty, ioData, inSet);
    });
    inPane->SetReceiveProc([inPane](const std::vector<ListItemID>& inItems) { ReceiveDrag(inPane, inItems); });
    std::vector<SListColumn> columns(4);
    columns[0] = {'cbox', listColumn_CheckBox, 60, false, StringItem(1)};
    columns[1] = {'titl', listColumn_Text, 248, false, StringItem(2)};
    columns[2] = {'strt', listColumn_Text, 100, true, StringItem(3)};
    columns[3] = {'stop', listColumn_Text, 100, true, StringItem(4)};
    inPane->SetColumns(columns);
    return noErr;
  } catch (const LException& e) {
    return static_cast<OSStatus>(ErrorCodeToOSErr(e.GetErrorCode()));
  }
}

OSStatus CTrackBrowser::LoadTrackData(CBrowserPane* inPane, CMovie* inMovie) {
  try {
    ThrowIfNil_(inPane);
    ThrowIfNil_(inMovie);
    Movie movie = inMovie->GetMovie();
    ThrowIfNil_(movie);
    inPane->RemoveAllItems();
    if (!inPane->GetItemTable()) inPane->SetItemTable(new std::map<ListItemID, TrackItem>);
    auto& table = *inPane->GetItemTable();
    table.clear();
    OSStatus status = noErr;
    for (SInt32 i = 1; i <= GetMovieTrackCount(movie); ++i) {
      Track track = GetMovieIndTrack(movie, i);
      if (!track) continue;
      TrackItem item;
      item.track = track;
      item.enabled = GetTrackEnabled(track) ? 1 : 0;
      item.movie = inMovie;
      item.layer = GetTrackLayer(track);
      item.options = ReadTrackOptions(track);
      const ListItemID id = inPane->NewItemID();
      table[id] = item;
      status = inPane->AddItems({id});
      if (status != noErr) Throw_(status);
    }
    return status;
  } catch (const LException& e) {
    return static_cast<OSStatus>(ErrorCodeToOSErr(e.GetErrorCode()));
  }
}

OSStatus CTrackBrowser::FinishBrowser(CBrowserPane* inPane, CMovie* inMovie, Boolean inApply, Track inSessionTrack) {
  try {
    ThrowIfNil_(inPane);
    auto* table = inPane->GetItemTable();
    if (inApply && table && inMovie) {
      for (auto& [id, item] : *table) {
        if (!item.track) continue;
        const Boolean enabled = GetTrackEnabled(item.track);
        if (enabled && !item.enabled) SetTrackEnabled(item.track, false);
        if (!enabled && item.enabled) SetTrackEnabled(item.track, true);
      }
      // Deletions last, so that no ticked state refers to a disposed track.
      for (auto& [id, item] : *table)
        if (item.deleted && item.track && item.track != inSessionTrack) {
          DisposeMovieTrack(item.track);
          item.track = nullptr;
        }
    }
    inPane->RemoveAllItems();
    inPane->SetItemTable(nullptr);
    return noErr;
  } catch (const LException& e) {
    if (inPane) inPane->SetItemTable(nullptr);
    return static_cast<OSStatus>(ErrorCodeToOSErr(e.GetErrorCode()));
  }
}

OSStatus CTrackBrowser::GetSelectedItems(CBrowserPane* inPane, std::vector<ListItemID>& outItems) {
  outItems.clear();
  if (!inPane) return static_cast<OSStatus>(ErrorCodeToOSErr(err_NilPointer));
  outItems = inPane->GetSelectedItems();
  return noErr;
}

OSStatus CTrackBrowser::DeleteSelectedRows(CBrowserPane* inPane, Track inSessionTrack) {
  try {
    ThrowIfNil_(inPane);
    auto* table = inPane->GetItemTable();
    ThrowIfNil_(table);
    std::vector<ListItemID> selected;
    ThrowIfOSErr_(static_cast<OSErr>(GetSelectedItems(inPane, selected)));
    std::vector<ListItemID> removed;
    for (ListItemID id : selected) {
      auto it = table->find(id);
      if (it == table->end()) continue;
      // The edit session's track stays: the document would otherwise hold a disposed track.
      if (inSessionTrack && it->second.track == inSessionTrack) continue;
      removed.push_back(id);
    }
    if (removed.empty()) return noErr;
    const OSStatus err = inPane->RemoveItems(removed);
    if (err != noErr) Throw_(err);
    for (ListItemID id : removed) (*table)[id].deleted = 1;
    inPane->Refresh();
    return noErr;
  } catch (const LException& e) {
    return static_cast<OSStatus>(ErrorCodeToOSErr(e.GetErrorCode()));
  }
}

void CTrackBrowser::ReceiveDrag(CBrowserPane* inPane, const std::vector<ListItemID>& inItems) {
  if (!inPane) return;
  for (ListItemID id : inItems) {
    if (inPane->RemoveItems({id}) == noErr) inPane->AddItems({id});
  }
}

OSStatus CTrackBrowser::ApplyChanges(CBrowserPane* inPane, CTrackBrowserClient* inClient) {
  ThrowIfNil_(inClient);
  CMovie* movie = inClient->GetBrowserMovie();
  ThrowIfNil_(movie);
  ThrowIfNil_(movie->GetMovie());
  LCommander* target = inClient->GetBrowserUndoTarget();
  const bool wasDirty = movie->IsDirty();
  movie->ClearDirty();
  if (target) target->PostAction(nullptr);
  MovieEditState before = NewMovieEditState(movie->GetMovie());
  const OSStatus status = FinishBrowser(inPane, movie, true, inClient->GetBrowserSessionTrack());
  if (movie->IsDirty() && before && target) {
    target->PostAction(new CTracksEditAction(movie, before));
  } else {
    if (before) DisposeMovieEditState(before);
    if (wasDirty) movie->HasChanged();
  }
  return status;
}

SInt32 CTrackBrowser::TrackBrowserProc(LCustomDialogSheet* inSheet, SInt32 inMessage, void* ioParam, void* inRefCon) {
  ThrowIfNil_(inSheet);
  if (inMessage == msg_SheetDetached || inMessage == msg_SheetIdle) {
    // Closed some other way (the document went): the items go without changes.
    if (inMessage == msg_SheetDetached)
      if (auto* pane = dynamic_cast<CBrowserPane*>(inSheet->FindPaneByID(kTrackBrowserPaneID)))
        if (pane->GetItemTable()) FinishBrowser(pane, nullptr, false);
    return 0;
  }
  if (inMessage == msg_SheetBuilt)
    if (auto* pane = dynamic_cast<CBrowserPane*>(inSheet->FindPaneByID(kTrackBrowserPaneID))) {
      // The list is the sheet's keyboard target: its keys reach the sheet.
      pane->SetSuperCommander(inSheet);
      inSheet->SetLatentSub(pane);
    }
  return HandleSheetMessage(inSheet->GetSheetWindow(), inMessage, ioParam, static_cast<CTrackBrowserClient*>(inRefCon));
}

SInt32 CTrackBrowser::HandleSheetMessage(LView* inSheet, SInt32 inMessage, void* ioParam, CTrackBrowserClient* inClient) {
  ThrowIfNil_(inSheet);
  ThrowIfNil_(inClient);
  auto* pane = dynamic_cast<CBrowserPane*>(inSheet->FindPaneByIDOrNil(kTrackBrowserPaneID));
  ThrowIfNil_(pane);
  CMovie* movie = inClient->GetBrowserMovie();
  ThrowIfNil_(movie);
  switch (inMessage) {
    case msg_SheetBuilt: {
      const OSStatus init = InitBrowser(pane, movie);
      if (init != noErr) return init;
      LCommander::SwitchTarget(pane);
      return LoadTrackData(pane, movie);
    }
    case msg_TracksReload: return LoadTrackData(pane, movie);
    case msg_SheetOtherKey: {
      const auto* event = static_cast<const EventRecord*>(ioParam);
      if (!event || (event->message & charCodeMask) != 8) return 0;
      return DeleteSelectedRows(pane, inClient->GetBrowserSessionTrack());
    }
    case msg_TracksDelete: return DeleteSelectedRows(pane, inClient->GetBrowserSessionTrack());
    case msg_SheetReturnKey:
      ApplyChanges(pane, inClient);
      return kSheetClose;
    case msg_SheetEscapeKey:
      FinishBrowser(pane, movie, false);
      return kSheetClose;
    default: return 0;
  }
}
