#pragma once

#include <functional>

namespace morvane {

// Runs work with the process's standard error pointed at /dev/null. Libraries that
// probe for sound servers (ALSA, the JACK client) print every failed probe there, and
// none of it concerns the user. Only for start-up: other threads lose their messages
// meanwhile too.
void RunWithStderrSilenced(const std::function<void()>& work);

} // namespace morvane
