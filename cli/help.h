// tintwell --help.
#pragma once

namespace tintwell_cli {

// The usage and every form, edit, option and exit status, on stdout.
void PrintHelp();

}  // namespace tintwell_cli
