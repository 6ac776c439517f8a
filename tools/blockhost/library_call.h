// Every call into the library goes through CallLibrary, so that whatever way
// the platform uses to report the library's errors ends up as one
// LibraryError carrying the library's message.
#pragma once

#include <functional>

namespace blockhost {

// Runs `call`; an error the library raises inside it leaves as LibraryError.
void CallLibrary(const std::function<void()>& call);

// The same for a call with a result.
template <class Call>
auto CallLibraryFor(Call call) -> decltype(call()) {
  decltype(call()) result{};
  CallLibrary([&] { result = call(); });
  return result;
}

}  // namespace blockhost
