#include "automation/ComObj.h"

#include <gtest/gtest.h>

namespace {

class Counter : public IDispatchObject {
 public:
  explicit Counter(int id) : id_(id) {}
  OleVariant Invoke(const QString&, CallKind, const std::vector<OleVariant>&) override { return id_; }

 private:
  int id_;
};

TEST(ComObj, CreatesANewInstanceFromTheRegisteredFactoryPerCall) {
  int made = 0;
  RegisterAutomationServer("Test.Counter", [&made] { return std::make_shared<Counter>(++made); });
  const OleVariant first = CreateOleObject("Test.Counter");
  const OleVariant second = CreateOleObject("TEST.counter");
  EXPECT_EQ(first.Get("Id").ToInt(), 1);
  EXPECT_EQ(second.Get("Id").ToInt(), 2);
  RegisterAutomationServer("Test.Counter", nullptr);
}

TEST(ComObj, UnregisteredIdentifierGivesAClearError) {
  try {
    CreateOleObject("Nobody.Home");
    FAIL() << "no error";
  } catch (const EOleError& e) {
    EXPECT_TRUE(e.Message().contains(QStringLiteral("\"Nobody.Home\""))) << e.what();
  }
}

TEST(ComObj, RemovedServerCanNoLongerBeCreated) {
  RegisterAutomationServer("Test.Gone", [] { return std::make_shared<Counter>(0); });
  EXPECT_NO_THROW(CreateOleObject("Test.Gone"));
  RegisterAutomationServer("Test.Gone", nullptr);
  EXPECT_THROW(CreateOleObject("Test.Gone"), EOleError);
}

TEST(ComObj, FactoryReturningNothingIsAnError) {
  RegisterAutomationServer("Test.Broken", [] { return std::shared_ptr<IDispatchObject>(); });
  EXPECT_THROW(CreateOleObject("Test.Broken"), EOleError);
  RegisterAutomationServer("Test.Broken", nullptr);
}

}  // namespace
