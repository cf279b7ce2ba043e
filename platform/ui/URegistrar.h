// Layout classes by four-character class id. A layout names each object's
// class; the registrar creates the object from the layout stream with the
// class's stream constructor. The application registers its classes at
// start-up (UControlRegistry::RegisterClasses registers the standard
// controls).
#pragma once

#include <type_traits>
#include <vector>

#include "platform/framework/LAttachable.h"
#include "platform/ui/LPane.h"

// What a stream constructor made: a pane or an attachment.
struct SLayoutObject {
  LPane* pane = nullptr;
  LAttachment* attachment = nullptr;
};

typedef SLayoutObject (*ClassCreatorFunc)(LStream* inStream);

class URegistrar {
 public:
  // A second registration of an id replaces the first.
  static void RegisterClass(ClassIDT inClassID, ClassCreatorFunc inCreator);
  static void UnregisterClass(ClassIDT inClassID);
  static Boolean IsRegistered(ClassIDT inClassID);
  // The ids in order of first registration.
  static std::vector<ClassIDT> GetRegisteredClasses();
  // Nothing when the id is not registered.
  static SLayoutObject CreateObject(ClassIDT inClassID, LStream* inStream);
  // Forgets every registration (tests).
  static void Reset();
};

// The creation function of a class T with a stream constructor.
template <class T>
class TRegistrar {
 public:
  static SLayoutObject CreateFromStream(LStream* inStream) {
    SLayoutObject made;
    if constexpr (std::is_base_of_v<LPane, T>) {
      made.pane = new T(inStream);
    } else {
      static_assert(std::is_base_of_v<LAttachment, T>, "layout classes are panes or attachments");
      made.attachment = new T(inStream);
    }
    return made;
  }
  static void Register() { URegistrar::RegisterClass(T::class_ID, &CreateFromStream); }
};
