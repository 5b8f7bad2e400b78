// Quoting of a single word for /bin/sh, so a path or name with a space or a
// shell character can never change the command it is put into.
#pragma once

#include <string>
#include <string_view>

namespace hbafw {

// Words made only of characters the shell treats literally stay as they are,
// so the system's fixed commands read exactly as written.
std::string ShellQuote(std::string_view word);

}  // namespace hbafw
