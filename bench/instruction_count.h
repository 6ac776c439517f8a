// Instructions per exchange, the one figure of the native bench that does
// not depend on the machine: the bench runs itself under callgrind, once
// for the raw client and once for the library, and collects only inside
// the function that makes the counted exchanges.  POSIX only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace bench {

// The name callgrind is told to collect in (--toggle-collect); the bench
// defines a function of that name with C linkage.
inline constexpr const char* kCountedFunction = "CountedExchanges";

// The instructions a callgrind output file holds in all, from its totals
// line (or its summary line when it has none); nothing when it holds
// neither, as when callgrind stopped before writing it out.
std::optional<uint64_t> CallgrindTotal(const std::string& output);

// The first executable `name` in the folders of `path` (as PATH spells
// them, ':' between); empty when none has it.
std::string FindProgram(const std::string& name, const std::string& path);

}  // namespace bench
