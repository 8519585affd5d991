// The look at each sheet as it lands: the line the operator reads.

#include "scoring/SheetLook.h"

#include <gtest/gtest.h>

namespace {

// Questions in columns 3..6 (numbers 1..4), the ID in columns 1..2.
AnswerKey Key(MarkMode mode) { return AnswerKey({" ", " ", "1", "2", "3", "4"}, 1, 2, mode); }

TEST(SheetLook, NamesBlankAndDoubleQuestionsByNumber) {
  SheetLook look(Key(MarkMode::Multiple));
  EXPECT_EQ(look.Look(15, {"1", "2", " ", "23", "3", " "}), "Row 15: blank 1, 4; double 2");
  EXPECT_EQ(look.Look(16, {"1", "3", "1", "2", "3", "4"}), "");
  // A record shorter than the key: the missing columns are blanks in the row.
  EXPECT_EQ(look.Look(17, {"2", "2", "1", "2"}), "Row 17: blank 3, 4");
  // Columns outside the questions are not looked at.
  EXPECT_EQ(look.Look(18, {"9", " ", "1", "2", "3", "4", " ", "45"}), "");
}

TEST(SheetLook, SingleBubbleValuesAreNeverDouble) {
  SheetLook look(Key(MarkMode::Single));
  EXPECT_EQ(look.Look(3, {"a", "b", "AB", " ", "C", "D"}), "Row 3: blank 2");
}

TEST(SheetLook, ARepeatedIdNamesTheFirstRowThatHasIt) {
  SheetLook look(Key(MarkMode::Multiple));
  look.RememberIds({{3, "12"}, {5, "12"}, {4, "6"}});
  EXPECT_EQ(look.Look(9, {"1", "2", "1", "2", "3", "4"}), "Row 9: same ID as row 3");
  EXPECT_EQ(look.Look(10, {" ", "6", " ", "2", "3", "4"}), "Row 10: blank 1; same ID as row 4");
  EXPECT_EQ(look.Look(11, {"3", " ", "1", "2", "3", "4"}), "");
  EXPECT_EQ(look.Look(12, {"3", " ", "1", "34", "3", "4"}), "Row 12: double 2; same ID as row 11");
  // A sheet without any ID mark is not anybody's repeat.
  EXPECT_EQ(look.Look(13, {" ", " ", "1", "2", "3", "4"}), "");
  EXPECT_EQ(look.Look(14, {" ", " ", "1", "2", "3", "4"}), "");
}

TEST(SheetLook, ARowLookedAtAgainIsNotItsOwnRepeat) {
  SheetLook look(Key(MarkMode::Multiple));
  EXPECT_EQ(look.Look(4, {"5", "5", "1", "2", "3", "4"}), "");
  EXPECT_EQ(look.Look(4, {"5", "5", "1", "2", "3", "4"}), "");
}

}  // namespace
