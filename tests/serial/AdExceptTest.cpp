#include <gtest/gtest.h>

#include "serial/AdExcept.h"
#include "serial/AdStrMap.h"

namespace {

// Runs CheckResult and hands back what it threw.
template <typename E>
E Raised(int32_t code) {
  try {
    CheckResult(code);
  } catch (const E& e) {
    return e;
  }
  throw std::logic_error("expected exception not raised for " + std::to_string(code));
}

}  // namespace

TEST(AdExcept, SuccessCodesPassThroughAndLoadingNeverRaises) {
  EXPECT_EQ(CheckResult(0), 0);
  EXPECT_EQ(CheckResult(17), 17);
  EXPECT_EQ(CheckResult(-2001, true), -2001);
  EXPECT_EQ(CheckResult(-2, true), -2);
  EXPECT_EQ(CheckResult(-99999, true), -99999);
}

TEST(AdExcept, ConcreteClassIsCaughtByItsGroupAndTheBase) {
  EXPECT_THROW(CheckResult(-2001), EBadId);
  EXPECT_THROW(CheckResult(-2001), EOpenComm);
  const auto e = Raised<EAPDException>(-2001);
  EXPECT_EQ(e.ResultCode(), -2001);
  EXPECT_STREQ(e.what(), "ie_BadId - Specified comport doesn't exist");
  EXPECT_THROW(CheckResult(-3007), ESerialIO);
  EXPECT_THROW(CheckResult(-1002), EGeneral);
  EXPECT_THROW(CheckResult(-5003), ETrigger);
}

TEST(AdExcept, MessagesOfTheCodesThePortRaises) {
  EXPECT_STREQ(Raised<EAlreadyOpen>(-2008).what(), "ie_Open - device already open");
  EXPECT_STREQ(Raised<ENoPortSelected>(-2011).what(),
               "The ComNumber property of the TApdComPort has not been set");
  EXPECT_STREQ(Raised<ECommNotOpen>(-2007).what(), "ie_NOpen - device not open");
  EXPECT_STREQ(Raised<EBufferIsEmpty>(-3007).what(), "Buffer is empty");
  EXPECT_STREQ(Raised<EOutputBufferTooSmall>(-3006).what(), "Output buffer too small for block");
  EXPECT_STREQ(Raised<EPutBlockFail>(-3004).what(), "Failed to put entire block");
  EXPECT_STREQ(Raised<ENullApi>(-3001).what(), "No device layer specified");
}

TEST(AdExcept, OperatingSystemCodesBecomeInOutErrors) {
  const auto e = Raised<EInOutError>(-2);
  EXPECT_STREQ(e.what(), "File not found");
  EXPECT_EQ(e.ErrorCode(), 2);
  EXPECT_STREQ(Raised<EInOutError>(-162).what(), "General failure");
  EXPECT_THROW(CheckResult(-8), EOutOfMemory);
  EXPECT_THROW(CheckResult(-8), std::bad_alloc);
}

TEST(AdExcept, CodeWithoutEntryInTheIoRangeTakesTheSystemText) {
  const auto e = Raised<EInOutError>(-31);
  EXPECT_EQ(e.ErrorCode(), 31);
  EXPECT_EQ(std::string(e.what()), SystemErrorText(31));
  EXPECT_FALSE(std::string(e.what()).empty());
}

TEST(AdExcept, CodesWithoutAClassFallBackToSerixException) {
  for (int32_t code : {-1001, -3002, -9999, -1}) {
    try {
      CheckResult(code);
      FAIL() << code;
    } catch (const EOpenComm&) {
      FAIL() << "group class for " << code;
    } catch (const EAPDException& e) {
      EXPECT_EQ(e.ResultCode(), 0) << code;
      EXPECT_STREQ(e.what(), "Serix exception") << code;
    }
  }
}

TEST(AdExcept, OtherFamiliesRaiseTheirGroup) {
  EXPECT_THROW(CheckResult(-4003), EModem);
  EXPECT_THROW(CheckResult(-6008), EProtocol);
  EXPECT_THROW(CheckResult(-7001), EINI);
  EXPECT_THROW(CheckResult(-7006), EInternal);
  EXPECT_THROW(CheckResult(-8010), EFax);
  EXPECT_THROW(CheckResult(-13900), ETapi);
  EXPECT_THROW(CheckResult(-13980), ERas);
}

TEST(AdExcept, PermissionDeniedNamesTheDevice) {
  EXPECT_THROW(CheckResult(ecode::PermissionDenied), EPermissionDenied);
  const EPermissionDenied e("/dev/ttyUSB3");
  EXPECT_EQ(e.ResultCode(), ecode::PermissionDenied);
  EXPECT_NE(std::string(e.what()).find("/dev/ttyUSB3"), std::string::npos);
  EXPECT_NE(std::string(e.what()).find("ermission denied"), std::string::npos);
}

TEST(AdStrMap, LookupFindsEveryTableEntryBySignOrMagnitude) {
  EXPECT_EQ(MessageLookup(-1002), "Bad argument passed to function");
  EXPECT_EQ(MessageLookup(1002), "Bad argument passed to function");
  EXPECT_EQ(MessageLookup(-2), "File not found");
  EXPECT_EQ(MessageLookup(-5003), "Bad trigger handle");
  EXPECT_EQ(MessageLookup(-1001), "Bad handle passed to com function");
  EXPECT_EQ(MessageLookup(-3002), "Function not supported by driver");
}

TEST(AdStrMap, SystemTextIsCleanedAndUnknownNumbersAreEmpty) {
  for (int n = 1; n < 140; ++n) {
    const std::string text = SystemErrorText(n);
    EXPECT_EQ(text.find("  "), std::string::npos) << n;
    for (char c : text) EXPECT_GE(static_cast<unsigned char>(c), 32) << n;
    EXPECT_LE(text.size(), 255u);
  }
  EXPECT_EQ(MessageLookup(-999999), "");
  EXPECT_EQ(MessageLookup(INT32_MIN), "");
}
