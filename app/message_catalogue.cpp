#include "app/message_catalogue.h"

#include <atomic>
#include <cstdlib>
#include <map>
#include <string_view>

#include "app/catalogue_file.h"
#include "app/catalogue_files.h"

namespace {

bool IsJapaneseLocale(std::string_view locale) {
    // language[_territory][.codeset][@modifier]
    return locale == "ja" || (locale.size() > 2 && locale.starts_with("ja") &&
                              (locale[2] == '_' || locale[2] == '.' || locale[2] == '@'));
}

std::atomic<Language>& CurrentLanguage() {
    static std::atomic<Language> language{UserInterfaceLanguage()};
    return language;
}

// Parsed once, on first use from any thread; never changed afterwards. A damaged
// line only loses its own text, which then reads as missing.
const std::map<TextId, std::string>& Texts(Language language) {
    static const std::map<TextId, std::string> english = ParseCatalogue(EnglishCatalogueFile()).texts;
    static const std::map<TextId, std::string> japanese = ParseCatalogue(JapaneseCatalogueFile()).texts;
    return language == Language::Japanese ? japanese : english;
}

}  // namespace

Language UserInterfaceLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return IsJapaneseLocale(value) ? Language::Japanese : Language::English;
        }
    }
    return Language::English;
}

Language CatalogueLanguage() { return CurrentLanguage().load(); }

void SetCatalogueLanguage(Language language) { CurrentLanguage().store(language); }

std::string CatalogueText(TextId id, Language language) {
    const auto& texts = Texts(language);
    const auto found = texts.find(id);
    return found == texts.end() ? std::string() : found->second;
}

std::string CatalogueText(TextId id) { return CatalogueText(id, CatalogueLanguage()); }
