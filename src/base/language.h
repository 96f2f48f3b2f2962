#pragma once
// Language table: maps the MD5 fingerprint of an English text to its
// translation, read from the "Messages" section of a language file.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TLanguage {
public:
    explicit TLanguage(std::string fileName);

    const std::string& LanguageFile() const { return languageFile_; }
    // Lines "KEY=value", sorted by key with letter case ignored.
    const std::vector<std::string>& Messages() const { return messages_; }
    // Value stored for key (letter case ignored), or empty text.
    std::string Lookup(std::string_view key) const;

private:
    std::string languageFile_;
    std::vector<std::string> messages_;
};

// The program's single table; null until the configuration service creates it.
TLanguage* AppLanguage();
void SetAppLanguage(std::unique_ptr<TLanguage> language);

// Translation of text with the lines of params (CR LF separated) put in for
// "$1", "$2", ... Without a table the text is returned unchanged.
std::string Translate(std::string_view text, std::string_view params = {});
// Joins parameters into the CR LF separated form Translate takes.
std::string Params(std::initializer_list<std::string_view> values);

// Each line of text translated on its own (line breaks kept, blank lines
// left alone), so a text of several paragraphs needs one entry per paragraph.
std::string TranslateLines(std::string_view text);
// Marks a literal that reaches Translate later through a variable, so that
// the tools that collect the texts to translate find it.
constexpr const char* Translatable(const char* text) { return text; }

// The locale that decides the language of messages: LC_ALL, then
// LC_MESSAGES, then LANG, the first one that is set and not empty.
std::string MessagesLocale();
// The language file in folder for a locale such as "de_DE.UTF-8": "de_DE.lng",
// else "de.lng". Empty for "C", "POSIX", a malformed name or a missing file.
std::string LocaleLanguageFile(const std::string& folder, std::string_view locale);
