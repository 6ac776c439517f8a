#include <cstdlib>
#include <utility>

#include "flash_plan.h"

namespace blockhost {

AvrdudePlaces PlacesOfThisMachine(std::optional<std::string> named) {
  AvrdudePlaces places;
  places.named = std::move(named);
  const char* path = std::getenv("PATH");
  places.path_variable = path == nullptr ? "" : path;
  return places;
}

}  // namespace blockhost
