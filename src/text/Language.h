// Language files ("<name>qv.lng" in the setup temp folder): choosing one, applying it,
// and reading its texts by section and index, with the built-in fallbacks of the few
// texts that have one. Also FormatText, which fills a message's "%s".
#pragma once

#include <string>
#include <vector>

struct RunContext;

// The end of every language file's name; the language name is what comes before it.
inline constexpr const char* kLanguageFileSuffix = "qv.lng";

// The language names of the "*qv.lng" files in folder (folders are passed over), in
// the order the directory listing returns them; not sorted.
std::vector<std::string> ListLanguages(const std::string& folder);
// <SetupTempDir> + "\" + name + "qv.lng".
std::string LanguageFilePath(const RunContext& ctx, const std::string& name);

// Start-up's language step: lists the languages into ctx.Lang.Languages, selects one and
// applies it. Selection: the first entry equal to [Setup] DefaultLanguage (ignoring
// case); then, with AutoDetectLanguage, every entry whose [Info] id equals the system
// locale's language identifier as text replaces it (the last match wins; a file that
// cannot be read is passed over). When nothing is selected, or the selected file cannot
// be read, the first readable entry of the list is used: a run never goes on without a
// language file. No language file (or none readable): FailSetup with code 4.
void ChooseLanguage(RunContext& ctx);

// Makes the file at path the current language file (ctx.Language) and sets the texts
// the wizard shows from it: the window caption, the Language page labels, the three
// button captions and, when the configuration has an [Extensions] section, the
// association caption (box shown and ticked). The window copies them to its controls.
void ApplyLanguage(RunContext& ctx, const std::string& path);

// A new selection in the language list (ComboLngChange): records it in
// ctx.Lang.LanguageIndex and ctx.Wizard.ComboLng and applies that language. An index outside the
// list does nothing.
void SelectLanguage(RunContext& ctx, int index);

// The text (section, index) of the current language file, read from the file now
// (nothing is kept between reads); a missing key gives its built-in fallback, or
// empty text when it has none.
std::string LanguageText(const RunContext& ctx, const std::string& section, int index);
// The built-in fallback of (section, index); empty when it has none.
std::string LanguageTextFallback(const std::string& section, int index);

// Fills text's "%s" with arg ("%%" gives "%"), then turns every "<#>" into "\r\n".
// A "%s" beyond the arguments given becomes empty text; any other "%" sequence stays
// as it stands, so a language file's text can never make formatting fail.
std::string FormatText(const std::string& text, const std::string& arg);
// The same with two arguments, filled in order (message 30).
std::string FormatText(const std::string& text, const std::string& arg1, const std::string& arg2);

// " .ext" for every [Extensions] record of the configuration, in file order (the
// record's text before its first "*?").
std::string ExtensionList(const RunContext& ctx);
// [ShortcutsFolder] 6 formatted with ExtensionList: the caption of CheckAssociate.
std::string AssociationCaption(const RunContext& ctx);
