#pragma once

#include <QString>

#include <functional>
#include <string>

#include "base/result.h"

// The window's texts in the user's language: the program's and the plugin panel's, by one
// rule, so that a panel in a host speaks as the program does on the same desktop.
namespace morvane {

// The language of the window's texts. Japanese is the original, and the texts of the
// source; English comes from a translation.
enum class UiLanguage { Japanese, English };

// The language of the locale for messages, from LC_ALL, LC_MESSAGES and LANG (the first
// that is set): Japanese for Japanese and where no language is named (C, POSIX, none),
// English for every other language.
using EnvironmentLookup = std::function<const char*(const char* name)>;
UiLanguage LocaleLanguage(const EnvironmentLookup& environment);

// Makes the application's texts speak the language: English through the translation
// built into the program; Japanese, the language of the source, needs none. Call it after
// the application exists and before any window is made.
Status InstallTranslation(UiLanguage language);

// The caption of an error box.
QString ErrorCaption();
// A message of the settings file or the recorder, made without Qt in Japanese, in the
// window's language with the path it names kept; any other message (the sound device's,
// English already) as it is.
QString TranslatedMessage(const std::string& message);

} // namespace morvane
