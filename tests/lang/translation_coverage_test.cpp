// Every text the program passes to translation must have an entry in every
// shipped language file. The texts are collected from the sources the way
// scripts/update-translations.py collects them, so a text added without
// running the script fails here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "output/chm/chm_preparer.h"
#include "base/language.h"
#include "base/shared_functions.h"

namespace {

namespace fs = std::filesystem;

struct Token {
    enum Kind { Id, Str, Punct } kind;
    std::string text;
};

const std::set<std::string> kTranslatingCalls = {"Translate", "Translatable", "Translated", "TranslateCaption",
                                                 "Tr",        "Say",          "PhaseTitle", "PageText"};
const std::set<std::string> kFormCalls = {"setText",     "setToolTip", "setWindowTitle", "setTitle", "QLabel",
                                          "QPushButton", "QCheckBox",  "QRadioButton",   "QGroupBox"};

std::string Unescape(const std::string& body) {
    std::string out;
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] != '\\' || i + 1 >= body.size()) {
            out += body[i];
            continue;
        }
        const char next = body[++i];
        switch (next) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'x': {
                std::size_t end = i + 1;
                while (end < body.size() && std::isxdigit(static_cast<unsigned char>(body[end]))) ++end;
                out += static_cast<char>(std::stoi(body.substr(i + 1, end - i - 1), nullptr, 16));
                i = end - 1;
                break;
            }
            default: out += next;
        }
    }
    return out;
}

// C++ tokens; adjacent string literals are joined, comments and character
// literals dropped.
std::vector<Token> Tokenize(const std::string& text) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto skipQuoted = [&](char quote) {
        std::size_t j = i + 1;
        while (j < n && text[j] != quote) j += text[j] == '\\' ? 2 : 1;
        return j;
    };
    while (i < n) {
        const char c = text[i];
        if (text.compare(i, 2, "//") == 0) {
            i = text.find('\n', i);
            if (i == std::string::npos) i = n;
        } else if (text.compare(i, 2, "/*") == 0) {
            const std::size_t end = text.find("*/", i + 2);
            i = end == std::string::npos ? n : end + 2;
        } else if (c == '"' || text.compare(i, 2, "R\"") == 0) {
            std::string value;
            if (c == 'R') {
                const std::size_t open = text.find('(', i);
                const std::string close = ")" + text.substr(i + 2, open - i - 2) + "\"";
                const std::size_t end = text.find(close, open);
                value = text.substr(open + 1, end - open - 1);
                i = end + close.size();
            } else {
                const std::size_t end = skipQuoted('"');
                value = Unescape(text.substr(i + 1, end - i - 1));
                i = end + 1;
            }
            if (!tokens.empty() && tokens.back().kind == Token::Str)
                tokens.back().text += value;
            else
                tokens.push_back({Token::Str, value});
        } else if (c == '\'') {
            i = skipQuoted('\'') + 1;
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            std::size_t end = i;
            while (end < n && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_')) ++end;
            tokens.push_back({Token::Id, text.substr(i, end - i)});
            i = end;
        } else if (text.compare(i, 2, "::") == 0) {
            tokens.push_back({Token::Punct, "::"});
            i += 2;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else {
            tokens.push_back({Token::Punct, std::string(1, c)});
            ++i;
        }
    }
    return tokens;
}

bool Is(const std::vector<Token>& t, std::size_t k, Token::Kind kind, const std::string& text) {
    return k < t.size() && t[k].kind == kind && t[k].text == text;
}

// The literal that is the whole first argument of the call opened at t[open].
bool LiteralArgument(const std::vector<Token>& t, std::size_t open, std::string& value) {
    std::size_t k = open + 1;
    bool wrapped = false;
    if (Is(t, k, Token::Id, "QStringLiteral") && Is(t, k + 1, Token::Punct, "(")) {
        k += 2;
        wrapped = true;
    } else if (Is(t, k, Token::Id, "QString") && Is(t, k + 1, Token::Punct, "::") &&
               (Is(t, k + 2, Token::Id, "fromLatin1") || Is(t, k + 2, Token::Id, "fromUtf8")) &&
               Is(t, k + 3, Token::Punct, "(")) {
        k += 4;
        wrapped = true;
    }
    if (k >= t.size() || t[k].kind != Token::Str) return false;
    value = t[k++].text;
    if (wrapped && !Is(t, k++, Token::Punct, ")")) return false;
    return Is(t, k, Token::Punct, ")") || Is(t, k, Token::Punct, ",");
}

void AddSourceTexts(const std::string& file, std::map<std::string, std::string>& texts) {
    const std::vector<Token> t = Tokenize(LoadTextFile(file));
    for (std::size_t k = 0; k + 1 < t.size(); ++k) {
        if (t[k].kind != Token::Id || !Is(t, k + 1, Token::Punct, "(")) continue;
        const bool translating = kTranslatingCalls.count(t[k].text) > 0;
        if (!translating && !kFormCalls.count(t[k].text)) continue;
        // A member function of the same name is not the translation function.
        if (translating && k > 0 && (Is(t, k - 1, Token::Punct, ".") || Is(t, k - 1, Token::Punct, ">"))) continue;
        std::string value;
        if (LiteralArgument(t, k + 1, value) && !Trim(value).empty()) texts.emplace(value, file);
    }
}

std::string Source(const std::string& relative) { return std::string(ORVALIS_SOURCE_DIR) + "/" + relative; }

// Every translated text, with the file it was found in.
std::map<std::string, std::string> CollectTexts() {
    std::map<std::string, std::string> texts;
    for (const auto& entry : fs::recursive_directory_iterator(Source("src"))) {
        const std::string ext = entry.path().extension().string();
        if (entry.is_regular_file() && (ext == ".cpp" || ext == ".h")) AddSourceTexts(entry.path().string(), texts);
    }
    // The wizard translates its step texts line by line.
    TStringList lines;
    SplitToList(LoadTextFile(Source("data/steps.txt")), "\n", lines);
    for (std::string line : lines) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!Trim(line).empty() && Trim(line) != "-------") texts.emplace(line, "data/steps.txt");
    }
    // The archive's pages mark their texts.
    const std::regex marked("<!--T-->([\\s\\S]*?)<!--/T-->");
    for (const auto& entry : fs::recursive_directory_iterator(Source("data/archive"))) {
        if (!entry.is_regular_file() || entry.path().extension().string().rfind(".htm", 0) != 0) continue;
        const std::string html = LoadTextFile(entry.path().string());
        for (std::sregex_iterator it(html.begin(), html.end(), marked), end; it != end; ++it) {
            // Keyed as page generation looks them up.
            texts.emplace(PageTextKey((*it)[1].str()), entry.path().string());
        }
    }
    return texts;
}

std::vector<std::string> ShippedLanguageFiles() {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(Source("data")))
        if (entry.path().extension() == ".lng" && entry.path().filename() != "default.lng")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(TranslationCoverage, CollectorFindsEveryKindOfText) {
    const auto texts = CollectTexts();
    // One of each way a text reaches translation; an empty scan proves nothing.
    for (const char* text :
         {"Artists", "e-mail", "Found $1 audio files.", "Press Next to choose where the catalogue goes.",
          "Music catalogue", "application error", "Step 1. Search mp3 files",
          "The help compiler \"$1\" was not found. Install it (Debian package fp-utils) and try again."})
        EXPECT_TRUE(texts.count(text)) << "not collected: " << text;
    // Partial literals ("x" in setText(QStringLiteral("x") + y)) are not what is shown.
    EXPECT_FALSE(texts.count(" "));
}

TEST(TranslationCoverage, EveryShippedLanguageTranslatesEveryText) {
    const auto texts = CollectTexts();
    const std::vector<std::string> files = ShippedLanguageFiles();
    std::vector<std::string> names;
    for (const auto& f : files) names.push_back(ExtractFileName(f));
    EXPECT_EQ(names, (std::vector<std::string>{"de.lng", "es.lng", "fr.lng"}));
    const std::regex param("\\$[1-9]");
    for (const std::string& file : files) {
        TLanguage language(file);
        for (const auto& [text, where] : texts) {
            const std::string value = language.Lookup(HexEncode(Md5Digest(text)));
            EXPECT_FALSE(value.empty()) << ExtractFileName(file) << " lacks \"" << text << "\" (" << where
                                        << "); run scripts/update-translations.py";
            if (value.empty()) continue;
            for (std::sregex_iterator it(text.begin(), text.end(), param), end; it != end; ++it)
                EXPECT_NE(value.find(it->str()), std::string::npos)
                    << ExtractFileName(file) << ": " << it->str() << " lost in the translation of \"" << text << "\"";
        }
    }
}

TEST(TranslationCoverage, BuildPutsTheLanguageFilesBesideTheProgram) {
    for (const std::string& file : ShippedLanguageFiles()) {
        const std::string built = JoinPath(ORVALIS_BINARY_DIR, ExtractFileName(file));
        ASSERT_TRUE(FileExists(built)) << built;
        EXPECT_EQ(LoadTextFile(built), LoadTextFile(file)) << built << " is stale";
    }
}

}  // namespace
