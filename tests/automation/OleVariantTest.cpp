#include "automation/DispatchHelpers.h"
#include "automation/OleVariant.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// A small server object: a property bag with one method, enough to see that
// calls, kinds and arguments arrive as sent.
class Bag : public IDispatchObject {
 public:
  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
    static const MemberTable members{"Value", "Add", "Item"};
    lastKind = kind;
    switch (members.Find(member)) {
      case 0:
        if (kind == CallKind::Put) {
          Dispatch::ExpectArgs(member, args, 1);
          value = args[0];
          return {};
        }
        Dispatch::ExpectArgs(member, args, 0);
        return value;
      case 1:
        Dispatch::ExpectArgs(member, args, 2);
        return Dispatch::IntArg(member, args, 0) + Dispatch::IntArg(member, args, 1);
      case 2:
        Dispatch::ExpectArgs(member, args, 1, 2);
        return Dispatch::TextArg(member, args, 0);
      default:
        Dispatch::UnknownMember(QStringLiteral("Bag"), member);
    }
  }
  OleVariant value;
  CallKind lastKind = CallKind::Get;
};

TEST(OleVariantText, ConvertsLikeVarToStr) {
  EXPECT_EQ(OleVariant().ToText(), QString());
  EXPECT_TRUE(OleVariant().ToText().isEmpty());
  EXPECT_EQ(OleVariant(42).ToText(), QStringLiteral("42"));
  EXPECT_EQ(OleVariant(-7).ToText(), QStringLiteral("-7"));
  EXPECT_EQ(OleVariant(15.0).ToText(), QStringLiteral("15"));
  EXPECT_EQ(OleVariant(2.5).ToText(), QStringLiteral("2.5"));
  EXPECT_EQ(OleVariant(0.1 + 0.2).ToText(), QStringLiteral("0.3"));
  EXPECT_EQ(OleVariant(1e20).ToText(), QStringLiteral("1E20"));
  EXPECT_EQ(OleVariant(1.5e-7).ToText(), QStringLiteral("1.5E-7"));
  EXPECT_EQ(OleVariant(true).ToText(), QStringLiteral("True"));
  EXPECT_EQ(OleVariant(false).ToText(), QStringLiteral("False"));
  EXPECT_EQ(OleVariant(" ").ToText(), QStringLiteral(" "));
  EXPECT_EQ(OleVariant(QStringLiteral("Blätt ÖÄÜ")).ToText(), QStringLiteral("Blätt ÖÄÜ"));
}

TEST(OleVariantKinds, ConstructorsPickTheKind) {
  EXPECT_EQ(OleVariant().kind(), OleVariant::Kind::Empty);
  EXPECT_TRUE(OleVariant().IsEmpty());
  EXPECT_EQ(OleVariant(true).kind(), OleVariant::Kind::Boolean);
  EXPECT_EQ(OleVariant(int32_t{1}).kind(), OleVariant::Kind::Integer);
  EXPECT_EQ(OleVariant(1.0).kind(), OleVariant::Kind::Double);
  EXPECT_EQ(OleVariant("x").kind(), OleVariant::Kind::Text);
  EXPECT_EQ(OleVariant(std::make_shared<Bag>()).kind(), OleVariant::Kind::Object);
  // A null reference is the same as a reference never set.
  EXPECT_TRUE(OleVariant(std::shared_ptr<IDispatchObject>()).IsEmpty());
}

TEST(OleVariantNumbers, ConvertsBetweenKinds) {
  EXPECT_EQ(OleVariant("12").ToInt(), 12);
  EXPECT_EQ(OleVariant(" 3.5 ").ToDouble(), 3.5);
  EXPECT_EQ(OleVariant(2.5).ToInt(), 2);  // half to even
  EXPECT_EQ(OleVariant(3.5).ToInt(), 4);
  EXPECT_EQ(OleVariant(true).ToInt(), -1);
  EXPECT_EQ(OleVariant().ToInt(), 0);
  EXPECT_TRUE(OleVariant("TRUE").ToBool());
  EXPECT_FALSE(OleVariant("false").ToBool());
  EXPECT_TRUE(OleVariant("2").ToBool());
  EXPECT_FALSE(OleVariant(0.0).ToBool());
  EXPECT_THROW(OleVariant("abc").ToInt(), EVariantError);
  EXPECT_THROW(OleVariant("maybe").ToBool(), EVariantError);
  EXPECT_THROW(OleVariant(1e12).ToInt(), EVariantError);
  EXPECT_THROW(OleVariant(std::make_shared<Bag>()).ToText(), EVariantError);
}

TEST(OleVariantCalls, ReachTheObjectWithKindAndArguments) {
  auto bag = std::make_shared<Bag>();
  const OleVariant ref(bag);
  ref.Put("Value", "hello");
  EXPECT_EQ(bag->lastKind, CallKind::Put);
  EXPECT_EQ(ref.Get("Value").ToText(), QStringLiteral("hello"));
  EXPECT_EQ(bag->lastKind, CallKind::Get);
  EXPECT_EQ(ref.Get("Add", {2, 3}).ToInt(), 5);
  EXPECT_EQ(bag->lastKind, CallKind::IndexedGet);
  EXPECT_EQ(ref.Call("Add", {20, 22}).ToInt(), 42);
  EXPECT_EQ(bag->lastKind, CallKind::Method);
}

TEST(OleVariantCalls, MatchMemberNamesWithoutRegardToCase) {
  auto bag = std::make_shared<Bag>();
  const OleVariant ref(bag);
  ref.Put("VALUE", 7);
  EXPECT_EQ(ref.Get("value").ToInt(), 7);
  EXPECT_EQ(ref.Get("vAlUe").ToInt(), 7);
}

TEST(OleVariantCalls, OnUnsetReferenceFailWithInvalidVariantOperation) {
  const OleVariant unset;
  try {
    unset.Get("Workbooks");
    FAIL() << "no error";
  } catch (const EVariantError& e) {
    EXPECT_STREQ(e.what(), "Invalid variant operation");
  }
  EXPECT_THROW(unset.Put("Visible", true), EVariantError);
  EXPECT_THROW(unset.Call("Quit"), EVariantError);
  EXPECT_THROW(OleVariant(5).Get("Item", {1}), EVariantError);
  EXPECT_THROW(OleVariant("text").Call("Save"), EVariantError);
}

TEST(OleVariantCalls, UnknownMemberIsNamedInTheError) {
  const OleVariant ref(std::make_shared<Bag>());
  try {
    ref.Call("Frobnicate");
    FAIL() << "no error";
  } catch (const EOleError& e) {
    EXPECT_TRUE(e.Message().contains(QStringLiteral("\"Frobnicate\""))) << e.what();
    EXPECT_TRUE(e.Message().contains(QStringLiteral("Bag"))) << e.what();
  }
}

TEST(OleVariantCalls, WrongArgumentCountOrTypeIsReported) {
  const OleVariant ref(std::make_shared<Bag>());
  try {
    ref.Get("Add", {1});
    FAIL() << "no error";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Invalid number of parameters: \"Add\" takes 2, got 1"));
  }
  try {
    ref.Get("Add", {1, "two"});
    FAIL() << "no error";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Type mismatch: argument 2 of \"Add\" must be an integer, got \"two\""));
  }
  EXPECT_THROW(ref.Get("Item", {1, 2, 3}), EOleError);
  EXPECT_THROW(ref.Get("Add", {1, ref}), EOleError);
  EXPECT_EQ(ref.Get("Item", {12}).ToText(), QStringLiteral("12"));
}

TEST(OleVariantErrors, CarryUtf8Text) {
  const EOleError error(QStringLiteral("Datei „Blätt1.xls“ fehlt"));
  EXPECT_EQ(QString::fromUtf8(error.what()), QStringLiteral("Datei „Blätt1.xls“ fehlt"));
  EXPECT_EQ(error.Message(), QStringLiteral("Datei „Blätt1.xls“ fehlt"));
}

}  // namespace
