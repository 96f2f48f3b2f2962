#pragma once
// A parser whose grammar is a syntax definition given at run time. Each line
// of the definition is one rule ("name=body"); a text is matched against a
// chosen rule, character by character with backtracking, into a tree of
// TAnaTree nodes that keep only positions into the analysed text.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/exceptions.h"
#include "base/tree.h"

// A text that does not match; Position is the 1-based furthest failure.
class EParseError : public Exception {
public:
    EParseError(std::string message, int position) : Exception(std::move(message)), position_(position) {}
    int Position() const noexcept { return position_; }
    const char* ClassName() const noexcept override { return "EParseError"; }

private:
    int position_;
};

// Item kinds of a compiled rule.
enum : std::uint8_t {
    pkLiteral = 1,
    pkReference = 2,
    pkControl = 3,
    pkIdentifier = 4,
    pkNumber = 5,
    pkWhitespace = 6,
};

// Control codes of pkControl items.
enum : std::int32_t {
    ccOptionalOpen = 0,   // [
    ccOptionalClose = 1,  // ]
    ccRepeatOpen = 2,     // {
    ccRepeatClose = 3,    // }
    ccChoiceOpen = 4,     // (
    ccChoiceBar = 5,      // |
    ccChoiceClose = 6,    // )
    ccSkipTo = 7,         // ^
    ccSkipPast = 8,       // ~
};

struct TElPart {
    std::uint8_t Kind = pkLiteral;
    // Literal: character code; reference: rule index; control: control code.
    std::int32_t Value = 0;
    // Stop characters of "^", the text of "~".
    std::string Text;
    // One escape character per stop character; a space when none was given.
    std::string Escapes;
};

class TAnalyser;

class TElement {
public:
    std::string Name;
    int Index = 0;
    std::vector<TElPart> Parts;
    TAnalyser* Analyser = nullptr;

private:
    friend class TAnalyser;
    // For every opening bracket the index of its closing one (-1: absent);
    // for every "|" the index of the ")" that ends its group.
    std::vector<int> closeOf_;
    // For every "(" the indexes of its own "|" items, in order.
    std::vector<std::vector<int>> barsOf_;
};

// One open group while a rule is matched.
struct TAnaStackItem {
    int Position = 0;   // where the group began, or where the last complete pass ended
    int FirstItem = 0;  // index of the first item inside the group
    std::uint8_t Control = 0;
    int ChildCount = 0;  // children of the rule's node at that point
};
using TAnaStack = std::vector<TAnaStackItem>;

class TAnaTree : public TTree {
public:
    explicit TAnaTree(TTree* parent, int start = -1, std::uint8_t elementIndex = 0)
        : TTree(parent), Start(start), ElementIndex(elementIndex) {}

    int Start;  // 1-based; -1 for nodes that callers create themselves
    int Length = 0;
    std::uint8_t ElementIndex;
    void* Data = nullptr;  // for the caller; not owned

    TAnaTree* AnaChild(int index) const { return static_cast<TAnaTree*>(Child(index)); }
};

// Frees a whole tree, children from the back, so that wide nodes do not cost
// a search of the sibling list per child.
void FreeAnaTree(std::unique_ptr<TTree> node);

class TAnalyser {
public:
    TAnalyser();
    ~TAnalyser();
    TAnalyser(const TAnalyser&) = delete;
    TAnalyser& operator=(const TAnalyser&) = delete;

    // Replaces the rules by those of the definition. Raises Exception for a
    // reference without ">", an unknown rule name or a "~" without its pair.
    void Compile(std::string_view definition);
    // Matches text against the rule from position 1. False when no rules are
    // compiled; raises EParseError when the rule does not match.
    bool Analyse(std::string text, int elementIndex);

    // Root of the last parse tree (stands for no rule); its child is the
    // analysed rule's node. Valid until the next Analyse.
    TAnaTree* Tree() const { return root_.get(); }
    const std::string& Text() const { return text_; }
    int TextLength() const { return static_cast<int>(text_.size()); }
    // The text a node covers; empty for nodes without a position.
    std::string_view NodeText(const TAnaTree* node) const;

    const std::vector<TElement>& Elements() const { return elements_; }
    int ErrorPosition() const { return errorPosition_; }
    std::uint8_t ErrorKind() const { return errorKind_; }
    const std::string& Expected() const { return expected_; }

private:
    int MatchElement(int elementIndex, int position, TAnaTree* parent, int depth);
    void RecordFailure(int position, const TElPart& part);
    bool SkipTo(const TElPart& part, int& position) const;

    std::vector<TElement> elements_;
    std::string text_;
    std::unique_ptr<TAnaTree> root_;
    int errorPosition_ = 0;
    std::uint8_t errorKind_ = 0;
    std::string expected_;
};
