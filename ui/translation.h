#pragma once

#include "base/result.h"
#include "ui/program_options.h"

// The window's texts in the user's language.
namespace morvane {

// Makes the application's texts speak the language: English through the translation
// built into the program; Japanese, the language of the source, needs none. Call it after
// the application exists and before any window is made.
Status InstallTranslation(UiLanguage language);

} // namespace morvane
