#include "text/analyser.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "base/language.h"
#include "base/shared_functions.h"

namespace {

// Rule references nest on the machine stack; a hostile text must not be able
// to exhaust it.
constexpr int kMaxDepth = 1000;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Fold(std::string_view name) { return LowerCase(name); }

[[noreturn]] void CloseItemAbsent() { throw Exception("Error in syntax definition : close item is absent"); }

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0, i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(text.substr(start, i - start));
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

TElPart Control(std::int32_t code) {
    TElPart part;
    part.Kind = pkControl;
    part.Value = code;
    return part;
}

// Pairs brackets (nesting counted) and collects each choice group's bars.
void PairBrackets(const std::vector<TElPart>& parts, std::vector<int>& closeOf, std::vector<std::vector<int>>& barsOf) {
    closeOf.assign(parts.size(), -1);
    barsOf.assign(parts.size(), {});
    std::vector<int> open;
    auto closerOf = [](std::int32_t opener) {
        return opener == ccOptionalOpen ? ccOptionalClose : opener == ccRepeatOpen ? ccRepeatClose : ccChoiceClose;
    };
    for (int i = 0; i < static_cast<int>(parts.size()); ++i) {
        const TElPart& p = parts[static_cast<std::size_t>(i)];
        if (p.Kind != pkControl) continue;
        switch (p.Value) {
            case ccOptionalOpen:
            case ccRepeatOpen:
            case ccChoiceOpen: open.push_back(i); break;
            case ccChoiceBar:
                for (auto it = open.rbegin(); it != open.rend(); ++it)
                    if (parts[static_cast<std::size_t>(*it)].Value == ccChoiceOpen) {
                        barsOf[static_cast<std::size_t>(*it)].push_back(i);
                        break;
                    }
                break;
            case ccOptionalClose:
            case ccRepeatClose:
            case ccChoiceClose: {
                // Close the innermost group of this kind; groups opened inside
                // it and never closed stay without a partner.
                auto it = std::find_if(open.rbegin(), open.rend(), [&](int o) {
                    return closerOf(parts[static_cast<std::size_t>(o)].Value) == p.Value;
                });
                if (it == open.rend()) break;
                int o = *it;
                closeOf[static_cast<std::size_t>(o)] = i;
                for (int bar : barsOf[static_cast<std::size_t>(o)]) closeOf[static_cast<std::size_t>(bar)] = i;
                open.erase(std::next(it).base(), open.end());
                break;
            }
            default: break;
        }
    }
}

}  // namespace

void FreeAnaTree(std::unique_ptr<TTree> node) {
    std::vector<std::unique_ptr<TTree>> pending;
    pending.push_back(std::move(node));
    while (!pending.empty()) {
        TTree* top = pending.back().get();
        if (top && top->Count() > 0)
            pending.emplace_back(top->Remove(top->Count() - 1));
        else
            pending.pop_back();
    }
}

TAnalyser::TAnalyser() = default;

TAnalyser::~TAnalyser() {
    if (root_) FreeAnaTree(std::move(root_));
}

void TAnalyser::Compile(std::string_view definition) {
    elements_.clear();
    std::vector<std::string_view> lines = SplitLines(definition);

    // Rule names resolve to the first line bearing them; a body comes from the
    // first line with that name that has an equals sign.
    std::unordered_map<std::string, int> lineOfName, bodyLineOfName;
    std::vector<std::string_view> names(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::size_t eq = lines[i].find('=');
        names[i] = eq == std::string_view::npos ? std::string_view() : lines[i].substr(0, eq);
        std::string key = Fold(names[i]);
        lineOfName.try_emplace(key, static_cast<int>(i));
        if (eq != std::string_view::npos) bodyLineOfName.try_emplace(key, static_cast<int>(i));
    }

    std::vector<TElement> elements(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        TElement& el = elements[i];
        el.Name = std::string(names[i]);
        el.Index = static_cast<int>(i);
        el.Analyser = this;
        std::string_view body;
        auto bodyLine = bodyLineOfName.find(Fold(names[i]));
        if (bodyLine != bodyLineOfName.end()) {
            std::string_view line = lines[static_cast<std::size_t>(bodyLine->second)];
            body = line.substr(line.find('=') + 1);
        }

        auto& parts = el.Parts;
        std::size_t p = 0;
        while (p < body.size()) {
            char c = body[p];
            TElPart part;
            switch (c) {
                case '\\':
                    part.Kind = pkLiteral;
                    part.Value = static_cast<unsigned char>(p + 1 < body.size() ? body[p + 1] : '\\');
                    p += 2;
                    break;
                case '<': {
                    std::size_t close = body.find('>', p + 1);
                    if (close == std::string_view::npos)
                        throw Exception("Error in syntax definition : \">\" not found");
                    std::string_view name = body.substr(p + 1, close - p - 1);
                    auto found = lineOfName.find(Fold(name));
                    if (found == lineOfName.end())
                        throw Exception("Error in syntax definition : element not found (" + std::string(name) + ")");
                    part.Kind = pkReference;
                    part.Value = found->second;
                    p = close + 1;
                    break;
                }
                case '~': {
                    std::size_t close = body.find('~', p + 1);
                    if (close == std::string_view::npos)
                        throw Exception("Error in syntax definition : second \"~\" not found");
                    part = Control(ccSkipPast);
                    part.Text = std::string(body.substr(p + 1, close - p - 1));
                    p = close + 1;
                    break;
                }
                case '^': {
                    ++p;
                    std::string stop, escape;
                    if (p < body.size()) {
                        char s = body[p];
                        if (s == '\\' && p + 1 < body.size()) {
                            s = body[p + 1] == 'n' ? '\r' : body[p + 1];
                            p += 2;
                        } else {
                            ++p;
                        }
                        char e = ' ';
                        if (p + 1 < body.size() && body[p] == '(') {
                            e = body[p + 1];
                            p = std::min(p + 3, body.size());
                        }
                        stop.push_back(s);
                        escape.push_back(e);
                    }
                    if (!parts.empty() && parts.back().Kind == pkControl && parts.back().Value == ccSkipTo) {
                        parts.back().Text += stop;
                        parts.back().Escapes += escape;
                        continue;
                    }
                    part = Control(ccSkipTo);
                    part.Text = stop;
                    part.Escapes = escape;
                    break;
                }
                case ' ':
                case '\t':
                    part.Kind = pkWhitespace;
                    ++p;
                    break;
                case '$':
                    part.Kind = pkIdentifier;
                    ++p;
                    break;
                case '#':
                    part.Kind = pkNumber;
                    ++p;
                    break;
                case '[':
                    part = Control(ccOptionalOpen);
                    ++p;
                    break;
                case ']':
                    part = Control(ccOptionalClose);
                    ++p;
                    break;
                case '{':
                    part = Control(ccRepeatOpen);
                    ++p;
                    break;
                case '}':
                    part = Control(ccRepeatClose);
                    ++p;
                    break;
                case '(':
                    part = Control(ccChoiceOpen);
                    ++p;
                    break;
                case '|':
                    part = Control(ccChoiceBar);
                    ++p;
                    break;
                case ')':
                    part = Control(ccChoiceClose);
                    ++p;
                    break;
                default:
                    part.Kind = pkLiteral;
                    part.Value = static_cast<unsigned char>(c);
                    ++p;
                    break;
            }
            parts.push_back(std::move(part));
        }
        PairBrackets(parts, el.closeOf_, el.barsOf_);
    }
    elements_ = std::move(elements);
}

bool TAnalyser::Analyse(std::string text, int elementIndex) {
    errorPosition_ = 0;
    errorKind_ = 0;
    expected_.clear();
    if (elements_.empty()) return false;
    if (elementIndex < 0 || elementIndex >= static_cast<int>(elements_.size()))
        throw Exception("Error in syntax definition : element not found (" + std::to_string(elementIndex) + ")");

    if (root_) FreeAnaTree(std::move(root_));
    root_ = std::make_unique<TAnaTree>(nullptr, 0, 0);
    text_ = std::move(text);

    if (MatchElement(elementIndex, 1, root_.get(), 0) > 0) return true;

    std::string message;
    switch (errorKind_) {
        case pkLiteral: message = Translate("Syntax error") + ": \"" + expected_ + "\" " + Translate("expected"); break;
        case pkControl:
            message = Translate("Syntax error") + ": " + Translate("delimiter") + " \"" + expected_ + "\" " +
                      Translate("not found");
            break;
        case pkIdentifier: message = Translate("Syntax error") + ": " + Translate("identifier expected"); break;
        default: break;
    }
    throw EParseError(message, errorPosition_);
}

std::string_view TAnalyser::NodeText(const TAnaTree* node) const {
    if (!node || node->Start < 1 || node->Length <= 0) return {};
    std::size_t start = static_cast<std::size_t>(node->Start - 1);
    if (start >= text_.size()) return {};
    return std::string_view(text_).substr(start, static_cast<std::size_t>(node->Length));
}

void TAnalyser::RecordFailure(int position, const TElPart& part) {
    if (position <= errorPosition_) return;
    errorPosition_ = position;
    errorKind_ = part.Kind;
    if (part.Kind == pkLiteral)
        expected_.assign(1, static_cast<char>(part.Value));
    else if (part.Kind == pkControl)
        expected_ = part.Text;
    else
        expected_.clear();
}

bool TAnalyser::SkipTo(const TElPart& part, int& position) const {
    const std::size_t from = static_cast<std::size_t>(position - 1);
    if (from >= text_.size() || part.Text.empty()) return false;
    std::size_t at = std::string::npos;
    if (part.Text.size() == 1 && part.Escapes == " ") {
        at = text_.find(part.Text[0], from);
    } else {
        for (std::size_t i = from; i < text_.size() && at == std::string::npos; ++i) {
            std::size_t k = part.Text.find(text_[i]);
            while (k != std::string::npos) {
                char esc = part.Escapes[k];
                // A stop character right after its escape character does not end the skip.
                if (esc == ' ' || i == from || text_[i - 1] != esc) {
                    at = i;
                    break;
                }
                k = part.Text.find(text_[i], k + 1);
            }
        }
    }
    if (at == std::string::npos || at == from) return false;
    position = static_cast<int>(at) + 1;
    return true;
}

int TAnalyser::MatchElement(int elementIndex, int position, TAnaTree* parent, int depth) {
    if (depth > kMaxDepth)
        throw EParseError(Translate("Syntax error") + ": " + Translate("nesting too deep"), position);

    const TElement& el = elements_[static_cast<std::size_t>(elementIndex)];
    TAnaTree* node = TTree::Make<TAnaTree>(parent, position, static_cast<std::uint8_t>(elementIndex));
    const int length = static_cast<int>(text_.size());
    const char* text = text_.data();
    const int count = static_cast<int>(el.Parts.size());
    auto closeOf = [&](int i) { return el.closeOf_[static_cast<std::size_t>(i)]; };
    auto dropChildrenAfter = [&](int keep) {
        while (node->Count() > keep) FreeAnaTree(std::unique_ptr<TTree>(node->Remove(node->Count() - 1)));
    };
    auto dropNode = [&]() {
        // The node was appended last and nothing was added to the parent since.
        FreeAnaTree(std::unique_ptr<TTree>(parent->Remove(parent->Count() - 1)));
    };

    TAnaStack stack;
    int i = 0;
    while (i < count) {
        const TElPart& part = el.Parts[static_cast<std::size_t>(i)];
        bool ok = false;
        if (part.Kind != pkControl) {
            if (position <= length) {
                switch (part.Kind) {
                    case pkLiteral:
                        while (position <= length) {
                            char c = text[position - 1];
                            if (static_cast<unsigned char>(c) == static_cast<unsigned>(part.Value)) {
                                ++position;
                                ok = true;
                                break;
                            }
                            if (!IsBlank(c)) break;
                            ++position;
                        }
                        break;
                    case pkWhitespace:
                        while (position <= length && IsBlank(text[position - 1])) ++position;
                        ok = true;
                        break;
                    case pkReference: {
                        int end = MatchElement(part.Value, position, node, depth + 1);
                        if (end > position) {
                            position = end;
                            ok = true;
                        }
                        break;
                    }
                    case pkIdentifier: {
                        auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
                        if (isLetter(text[position - 1])) {
                            ++position;
                            while (position <= length && (isLetter(text[position - 1]) ||
                                                          (text[position - 1] >= '0' && text[position - 1] <= '9')))
                                ++position;
                            ok = true;
                        }
                        break;
                    }
                    case pkNumber:
                        while (position <= length && text[position - 1] >= '0' && text[position - 1] <= '9') {
                            ++position;
                            ok = true;
                        }
                        break;
                    default: break;
                }
            }
            if (ok) {
                ++i;
                continue;
            }
        } else {
            switch (part.Value) {
                case ccOptionalOpen:
                case ccRepeatOpen:
                case ccChoiceOpen:
                    stack.push_back({position, i + 1, static_cast<std::uint8_t>(part.Value), node->Count()});
                    ++i;
                    continue;
                case ccOptionalClose:
                case ccChoiceClose:
                    if (!stack.empty()) stack.pop_back();
                    ++i;
                    continue;
                case ccRepeatClose: {
                    if (stack.empty()) {
                        ++i;
                        continue;
                    }
                    TAnaStackItem& top = stack.back();
                    if (position == top.Position) {
                        // A pass that consumed nothing would repeat forever.
                        stack.pop_back();
                        ++i;
                        continue;
                    }
                    top.Position = position;
                    top.ChildCount = node->Count();
                    i = top.FirstItem;
                    continue;
                }
                case ccChoiceBar: {
                    // This alternative matched: leave the group.
                    int close = closeOf(i);
                    if (close < 0) CloseItemAbsent();
                    if (!stack.empty()) stack.pop_back();
                    i = close + 1;
                    continue;
                }
                case ccSkipTo:
                    ok = SkipTo(part, position);
                    if (ok) {
                        ++i;
                        continue;
                    }
                    break;
                case ccSkipPast: {
                    std::size_t at = position <= length ? text_.find(part.Text, static_cast<std::size_t>(position - 1))
                                                        : std::string::npos;
                    position = at == std::string::npos ? length + 1 : static_cast<int>(at + part.Text.size()) + 1;
                    ++i;
                    continue;
                }
                default: ++i; continue;
            }
        }

        // Item i failed: give up the innermost open group, or the rule.
        const int failing = i;
        for (;;) {
            if (stack.empty()) {
                RecordFailure(position, part);
                dropNode();
                return -1;
            }
            const TAnaStackItem top = stack.back();
            const int open = top.FirstItem - 1;
            position = top.Position;
            dropChildrenAfter(top.ChildCount);
            if (top.Control != ccChoiceOpen) {
                int close = closeOf(open);
                if (close < 0) CloseItemAbsent();
                stack.pop_back();
                i = close + 1;
                break;
            }
            const auto& bars = el.barsOf_[static_cast<std::size_t>(open)];
            auto next = std::upper_bound(bars.begin(), bars.end(), failing);
            if (next != bars.end()) {
                i = *next + 1;  // try the next alternative; the group stays open
                break;
            }
            if (closeOf(open) < 0) CloseItemAbsent();
            stack.pop_back();  // all alternatives failed: the failure moves one level out
        }
    }

    node->Length = position - node->Start;
    if (node->Length == 0) dropNode();
    return position;
}
