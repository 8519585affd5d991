// The criteria of COUNTIF and SUMIF, and wildcard matching.

#include "spreadsheet/formula/CellCriteria.h"

#include <gtest/gtest.h>

namespace {

Value Text(const char* text) { return Value::Text(QString::fromUtf8(text)); }

TEST(Wildcards, StarQuestionMarkAndTildeWithoutRegardToCase) {
  EXPECT_TRUE(WildcardMatch(u"a*", u"Apple"));
  EXPECT_TRUE(WildcardMatch(u"*an*", u"banana"));
  EXPECT_TRUE(WildcardMatch(u"?pple", u"APPLE"));
  EXPECT_FALSE(WildcardMatch(u"?pple", u"pple"));
  EXPECT_TRUE(WildcardMatch(u"*", u""));
  EXPECT_FALSE(WildcardMatch(u"a*b", u"ab c"));
  EXPECT_TRUE(WildcardMatch(u"a*b*c", u"aXbYbZc"));
  EXPECT_TRUE(WildcardMatch(u"what~?", u"what?"));
  EXPECT_FALSE(WildcardMatch(u"what~?", u"whats"));
  EXPECT_TRUE(WildcardMatch(u"~*x", u"*x"));
  EXPECT_FALSE(WildcardMatch(u"~*x", u"yx"));
}

TEST(Criteria, ComparisonPrefixesWithNumbersTextsAndBooleans) {
  const CellCriterion atLeast(Text(">=5"));
  EXPECT_TRUE(atLeast.Matches(Value::Number(5)));
  EXPECT_FALSE(atLeast.Matches(Value::Number(4.99)));
  EXPECT_FALSE(atLeast.Matches(Text("7")));   // order comparisons look at numbers only
  EXPECT_TRUE(atLeast.MatchesNumber(6));
  const CellCriterion five(Value::Number(5));
  EXPECT_TRUE(five.Matches(Value::Number(5)));
  EXPECT_TRUE(five.Matches(Text(" 5 ")));      // a text that reads as the number
  EXPECT_FALSE(five.Matches(Value::Boolean(true)));
  const CellCriterion before(Text("<c"));
  EXPECT_TRUE(before.Matches(Text("Banana")));
  EXPECT_FALSE(before.Matches(Text("cherry")));
  EXPECT_FALSE(before.Matches(Value::Number(1)));
  const CellCriterion truth(Text("TRUE"));
  EXPECT_TRUE(truth.Matches(Value::Boolean(true)));
  EXPECT_FALSE(truth.Matches(Text("TRUE")));
  const CellCriterion missing(Text("#N/A"));
  EXPECT_TRUE(missing.Matches(Value::Error(ErrorCode::NA)));
  EXPECT_FALSE(missing.Matches(Value::Error(ErrorCode::Div0)));
}

TEST(Criteria, EmptyCellsAndTheEmptyText) {
  const CellCriterion blank(Text(""));  // empty cells and ""
  EXPECT_TRUE(blank.MatchesEmpty());
  EXPECT_TRUE(blank.Matches(Text("")));
  EXPECT_FALSE(blank.Matches(Text(" ")));
  const CellCriterion equalsNothing(Text("="));  // empty cells only
  EXPECT_TRUE(equalsNothing.MatchesEmpty());
  EXPECT_FALSE(equalsNothing.Matches(Text("")));
  const CellCriterion anything(Text("<>"));  // every cell that holds something
  EXPECT_FALSE(anything.MatchesEmpty());
  EXPECT_TRUE(anything.Matches(Text(" ")));
  EXPECT_TRUE(anything.Matches(Value::Number(0)));
  const CellCriterion notApple(Text("<>a*"));  // empty cells and numbers too
  EXPECT_TRUE(notApple.MatchesEmpty());
  EXPECT_TRUE(notApple.Matches(Value::Number(3)));
  EXPECT_FALSE(notApple.Matches(Text("Apple pie")));
  EXPECT_TRUE(notApple.Matches(Text("pear")));
  EXPECT_FALSE(CellCriterion(Text(">3")).MatchesEmpty());
}

}  // namespace
