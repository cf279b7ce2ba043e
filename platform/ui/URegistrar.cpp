#include "platform/ui/URegistrar.h"

#include <algorithm>
#include <utility>

namespace {

std::vector<std::pair<ClassIDT, ClassCreatorFunc>>& Registry() {
  static std::vector<std::pair<ClassIDT, ClassCreatorFunc>> sRegistry;
  return sRegistry;
}

auto Find(ClassIDT inClassID) {
  return std::find_if(Registry().begin(), Registry().end(), [&](const auto& e) { return e.first == inClassID; });
}

}  // namespace

void URegistrar::RegisterClass(ClassIDT inClassID, ClassCreatorFunc inCreator) {
  auto it = Find(inClassID);
  if (it != Registry().end()) it->second = inCreator;
  else Registry().emplace_back(inClassID, inCreator);
}

void URegistrar::UnregisterClass(ClassIDT inClassID) {
  auto it = Find(inClassID);
  if (it != Registry().end()) Registry().erase(it);
}

Boolean URegistrar::IsRegistered(ClassIDT inClassID) { return Find(inClassID) != Registry().end(); }

std::vector<ClassIDT> URegistrar::GetRegisteredClasses() {
  std::vector<ClassIDT> ids;
  for (const auto& e : Registry()) ids.push_back(e.first);
  return ids;
}

SLayoutObject URegistrar::CreateObject(ClassIDT inClassID, LStream* inStream) {
  auto it = Find(inClassID);
  if (it == Registry().end() || it->second == nullptr) return {};
  return it->second(inStream);
}

void URegistrar::Reset() { Registry().clear(); }
