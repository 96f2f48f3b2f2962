#include <gtest/gtest.h>

#include <string>

#include "text/analyser.h"

namespace {

// Compiles the rules (joined by CR LF) and analyses text with rule 0.
struct Grammar {
    explicit Grammar(std::initializer_list<std::string> rules) {
        std::string def;
        for (const auto& r : rules) def += (def.empty() ? "" : "\r\n") + r;
        analyser.Compile(def);
    }
    bool Matches(const std::string& text, int rule = 0) {
        try {
            return analyser.Analyse(text, rule);
        } catch (const EParseError&) {
            return false;
        }
    }
    // The error of a text that must not match.
    EParseError Failure(const std::string& text) {
        try {
            analyser.Analyse(text, 0);
        } catch (const EParseError& e) {
            return e;
        }
        ADD_FAILURE() << "text matched: " << text;
        return EParseError("", -1);
    }
    TAnaTree* Top() { return analyser.Tree()->Count() ? analyser.Tree()->AnaChild(0) : nullptr; }
    TAnalyser analyser;
};

std::string CompileError(const std::string& def) {
    TAnalyser a;
    try {
        a.Compile(def);
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

TEST(Analyser, LiteralsSkipWhitespaceBeforeThemAndKeepCase) {
    Grammar g{R"(tag=\<XMLConfig\>)"};
    EXPECT_TRUE(g.Matches("< XMLConfig >"));
    EXPECT_TRUE(g.Matches("<XML Config>"));
    EXPECT_TRUE(g.Matches("\r\n\t<XMLConfig>"));
    EParseError e = g.Failure("<xmlconfig>");
    EXPECT_EQ(e.Position(), 2);
    EXPECT_EQ(e.Message(), "Syntax error: \"X\" expected");
}

TEST(Analyser, NodesRecordRuleStartAndLength) {
    Grammar g{"list=<item>{,<item>}", "item=#"};
    ASSERT_TRUE(g.Matches("12,3,456;rest"));
    TAnaTree* list = g.Top();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->ElementIndex, 0);
    EXPECT_EQ(list->Start, 1);
    EXPECT_EQ(list->Length, 8);  // the text after the match is not looked at
    ASSERT_EQ(list->Count(), 3);
    EXPECT_EQ(g.analyser.NodeText(list->AnaChild(0)), "12");
    EXPECT_EQ(g.analyser.NodeText(list->AnaChild(2)), "456");
    EXPECT_EQ(list->AnaChild(2)->Start, 6);
    EXPECT_EQ(list->AnaChild(1)->ElementIndex, 1);
}

TEST(Analyser, ReferenceMustConsumeSomething) {
    Grammar g{"a=x<b>y", "b=[z]"};
    EXPECT_TRUE(g.Matches("xzy"));
    EParseError e = g.Failure("xy");
    EXPECT_EQ(e.Position(), 2);
    EXPECT_EQ(e.Message(), "");                // a failing reference has no message of its own
    EXPECT_EQ(g.analyser.Tree()->Count(), 0);  // a failed analysis leaves only the root
}

TEST(Analyser, StartRuleMatchingNothingGivesEmptyTree) {
    Grammar g{"a=[x]"};
    EXPECT_TRUE(g.Matches("y"));
    EXPECT_EQ(g.analyser.Tree()->Count(), 0);
}

TEST(Analyser, WhitespaceItemFailsAtEndOfInputUnlessOptional) {
    Grammar strict{"a=x "};
    EXPECT_FALSE(strict.Matches("x"));
    EXPECT_TRUE(strict.Matches("x  "));
    Grammar optional{"a=x[ ]"};
    EXPECT_TRUE(optional.Matches("x"));
}

TEST(Analyser, CaretStopsBeforeStopCharacterAndNeedsOneCharacter) {
    Grammar g{"a=\\><v>\\<", "v=^<"};
    EParseError e = g.Failure("><");
    EXPECT_EQ(e.Position(), 2);
    EXPECT_EQ(e.Message(), "Syntax error: delimiter \"<\" not found");
    ASSERT_TRUE(g.Matches("> a b\r\n<"));
    EXPECT_EQ(g.analyser.NodeText(g.Top()->AnaChild(0)), " a b\r\n");

    Grammar optional{"a=\\>[<v>]\\<", "v=^<"};
    EXPECT_TRUE(optional.Matches("><"));
    EXPECT_EQ(optional.Top()->Count(), 0);

    EXPECT_EQ(Grammar({"a=^;"}).Failure("abc").Message(), "Syntax error: delimiter \";\" not found");
}

TEST(Analyser, CaretItemsMergeAndTakeEscapes) {
    Grammar g{"a=^,^\\n^\"(\\)"};
    const auto& parts = g.analyser.Elements()[0].Parts;
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].Text, ",\r\"");
    EXPECT_EQ(parts[0].Escapes, "  \\");
    ASSERT_TRUE(g.Matches(R"(ab\"cd"e)"));
    EXPECT_EQ(g.Top()->Length, 6);  // the escaped quote does not end the skip
    ASSERT_TRUE(g.Matches("ab\rc"));
    EXPECT_EQ(g.Top()->Length, 2);
}

TEST(Analyser, TildeSkipsPastTextOrToTheEnd) {
    Grammar g{"a=x~--~y"};
    ASSERT_TRUE(g.Matches("x ab--y"));
    EXPECT_EQ(g.Top()->Length, 7);
    EXPECT_FALSE(g.Matches("x ab"));  // "y" cannot follow the end of the input
    Grammar last{"a=x~end~"};
    ASSERT_TRUE(last.Matches("x no marker"));
    EXPECT_EQ(last.Top()->Length, 11);
}

TEST(Analyser, LeftAlternativeWinsEvenWhenShorter) {
    Grammar g{"a=(<s>|<l>)", "s=ab", "l=abc"};
    ASSERT_TRUE(g.Matches("abc"));
    ASSERT_EQ(g.Top()->Count(), 1);
    EXPECT_EQ(g.Top()->AnaChild(0)->ElementIndex, 1);
    EXPECT_EQ(g.Top()->Length, 2);
    Grammar h{"a=(ab|ac|ad)!"};
    EXPECT_TRUE(h.Matches("ad!"));
    EXPECT_FALSE(h.Matches("ae!"));
}

TEST(Analyser, RepetitionFallsBackToLastCompletePass) {
    Grammar g{"a={xy}x"};
    ASSERT_TRUE(g.Matches("xyxyx"));
    EXPECT_EQ(g.Top()->Length, 5);
    // Nodes of a pass that was given up do not stay in the tree.
    Grammar items{"a={<d>;}", "d=#"};
    ASSERT_TRUE(items.Matches("1;2;3"));
    EXPECT_EQ(items.Top()->Count(), 2);
    EXPECT_EQ(items.Top()->Length, 4);
    // A pass that consumes nothing ends the repetition instead of looping.
    Grammar empty{"a={[x]}y"};
    EXPECT_TRUE(empty.Matches("y"));
}

TEST(Analyser, NestedGroupsOfTheSameKind) {
    Grammar g{"a=[x[y]z]w"};
    EXPECT_TRUE(g.Matches("xyzw"));
    EXPECT_TRUE(g.Matches("xzw"));
    EXPECT_TRUE(g.Matches("w"));
    Grammar h{"a=((a|b)c|d)!"};
    EXPECT_TRUE(h.Matches("bc!"));
    EXPECT_TRUE(h.Matches("d!"));
    EXPECT_FALSE(h.Matches("b!"));
}

TEST(Analyser, FurthestFailureWins) {
    // The referenced rule fails at 120, the caller later at 80.
    Grammar g{"top=[<inner>]~#~w", "inner=~.~!"};
    std::string text = std::string(78, 'a') + "#" + std::string(39, 'a') + ".?";
    EParseError e = g.Failure(text);
    EXPECT_EQ(e.Position(), 120);
    EXPECT_EQ(e.Message(), "Syntax error: \"!\" expected");
}

TEST(Analyser, EqualPositionKeepsEarlierRecord) {
    Grammar g{"top=[<p>]<q>", "p=x", "q=y"};
    EParseError e = g.Failure("z");
    EXPECT_EQ(e.Position(), 1);
    EXPECT_EQ(e.Message(), "Syntax error: \"x\" expected");
}

TEST(Analyser, FailedAlternativeGroupReportsWhereItBegan) {
    Grammar g{"a=ab(cd|ce)"};
    EParseError e = g.Failure("abcx");
    EXPECT_EQ(e.Position(), 3);
    EXPECT_EQ(e.Message(), "Syntax error: \"e\" expected");  // the last alternative tried
}

TEST(Analyser, IdentifiersAndNumbers) {
    Grammar id{"a=$"};
    ASSERT_TRUE(id.Matches("a1b_c"));
    EXPECT_EQ(id.Top()->Length, 3);
    EXPECT_EQ(id.Failure("1a").Message(), "Syntax error: identifier expected");
    Grammar num{"a=#"};
    EXPECT_FALSE(num.Matches("x"));
    ASSERT_TRUE(num.Matches("0129x"));
    EXPECT_EQ(num.Top()->Length, 4);
}

TEST(Analyser, NamesIgnoreCaseAndFirstBodyCounts) {
    Grammar g{"A=<B>!", "b=x", "B=y"};
    EXPECT_TRUE(g.Matches("x!"));
    EXPECT_FALSE(g.Matches("y!"));
    // Recompiling replaces the rules.
    g.analyser.Compile("z=q");
    EXPECT_EQ(g.analyser.Elements().size(), 1u);
    EXPECT_TRUE(g.Matches("q"));
    // Without rules nothing is analysed.
    g.analyser.Compile("");
    EXPECT_FALSE(g.analyser.Analyse("q", 0));
}

TEST(Analyser, DefinitionErrors) {
    EXPECT_EQ(CompileError("a=<b"), "Error in syntax definition : \">\" not found");
    EXPECT_EQ(CompileError("a=<nothere>"), "Error in syntax definition : element not found (nothere)");
    EXPECT_EQ(CompileError("a=~x"), "Error in syntax definition : second \"~\" not found");
    EXPECT_EQ(CompileError("a=\\<\\~\\>"), "");
    Grammar g{"a=[x"};
    try {
        g.analyser.Analyse("y", 0);
        FAIL() << "expected an error";
    } catch (const EParseError&) {
        FAIL() << "wrong error class";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Error in syntax definition : close item is absent");
    }
}

TEST(Analyser, DeepNestingIsRefusedNotACrash) {
    Grammar g{"a=(\\(<a>\\)|x)"};
    EXPECT_TRUE(g.Matches(std::string(200, '(') + "x" + std::string(200, ')')));
    EXPECT_FALSE(g.Matches(std::string(100000, '(') + "x" + std::string(100000, ')')));
}

}  // namespace
