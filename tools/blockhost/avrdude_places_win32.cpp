#include <algorithm>
#include <cstdlib>
#include <utility>

#include "flash_plan.h"

namespace blockhost {
namespace {

std::string EnvironmentOr(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

}  // namespace

AvrdudePlaces PlacesOfThisMachine(std::optional<std::string> named) {
  AvrdudePlaces places;
  places.named = std::move(named);
  places.path_variable = EnvironmentOr("PATH");
  places.windows = true;
  // On 64-bit Windows the IDE 1.x installs under Program Files (x86); both
  // are looked at, and one folder only once where they are the same.
  for (const char* variable : {"ProgramFiles(x86)", "ProgramFiles"}) {
    const std::string folder = EnvironmentOr(variable);
    if (!folder.empty() && std::find(places.program_files.begin(), places.program_files.end(),
                                     folder) == places.program_files.end()) {
      places.program_files.push_back(folder);
    }
  }
  places.local_app_data = EnvironmentOr("LOCALAPPDATA");
  return places;
}

}  // namespace blockhost
