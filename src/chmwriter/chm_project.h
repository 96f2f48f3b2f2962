#pragma once
// A help project file (.hhp) as far as the writer needs it: the options,
// the window definitions and the list of files.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One line of "[Windows]": name="title","toc","index","default","home",
// "jump1 text","jump1 url","jump2 text","jump2 url",navigation style,
// navigation width,buttons,[left,top,right,bottom],style,extended style,
// show state,navigation closed,default pane,navigation position,id notify.
struct TChmWindowDefinition {
    static constexpr std::size_t kFieldCount = 20;
    std::string Name;
    // Field texts without their quotes; an empty optional is a field left out.
    std::array<std::optional<std::string>, kFieldCount> Fields;
    std::optional<std::array<std::int32_t, 4>> Position;  // the bracketed field

    enum TField {
        fTitle,
        fContents,
        fIndex,
        fDefaultFile,
        fHomeFile,
        fJump1Text,
        fJump1Url,
        fJump2Text,
        fJump2Url,
        fNavigationStyle,
        fNavigationWidth,
        fButtons,
        fPosition,
        fStyle,
        fExtendedStyle,
        fShowState,
        fNavigationClosed,
        fDefaultPane,
        fNavigationPosition,
        fIdNotify
    };
    const std::string* Text(TField field) const { return Fields[field] ? &*Fields[field] : nullptr; }
    // A numeric field (decimal or 0x hexadecimal); empty when left out or not a number.
    std::optional<std::uint32_t> Number(TField field) const;
};

struct TChmProject {
    std::string Folder;  // the project file's folder; files are relative to it
    std::string ContentsFile;
    std::string IndexFile;
    std::string DefaultTopic;
    std::string Title;
    std::string DefaultWindow;
    std::string CompiledFile;
    std::string DefaultFont;
    std::uint32_t LanguageId = 0x409;
    bool FullTextSearch = false;
    bool BinaryIndex = false;
    std::vector<TChmWindowDefinition> Windows;
    std::vector<std::string> Files;  // "/"-separated addresses, in project order, no duplicates
};

// Parses the text of a project file. Sections and keys compare without
// regard to case; "\" in addresses becomes "/"; lines starting with ";" are
// comments. Raises std::runtime_error for a window line it cannot read.
TChmProject ParseChmProject(std::string_view text, const std::string& folder);

// "0x409 English (United States)" -> 0x409; empty when there is no number.
std::optional<std::uint32_t> ParseLanguageId(std::string_view value);

// A file address as the directory and the viewers see it: "/" separated,
// without "./" steps or a leading "/".
std::string NormalizeAddress(std::string_view address);
