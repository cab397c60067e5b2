#pragma once

namespace vantor::tools {

// Ctrl-C (SIGINT) asks the run to stop at the next picture boundary; the
// files are finished with the pictures so far. A second Ctrl-C ends the
// process at once, as usual.
void install_interrupt_handler();
bool interrupt_requested() noexcept;

// Exit status of an interrupted run (128 + SIGINT), as shells report it.
inline constexpr int exit_interrupted = 130;

}  // namespace vantor::tools
