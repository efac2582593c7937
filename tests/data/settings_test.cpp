// Engine settings: construction, the one-instance rule, the date format and
// its effect on the program's short date format, and the refused values.
#include "data/settings.h"

#include "data_test_support.h"
#include "engine/ads.h"
#include "util/date_format.h"
#include "util/date_time.h"

namespace {

using data_test::Form;
using data_test::MessageOf;

// Puts the process-wide date settings back as the main window leaves them.
class SettingsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetShortDateFormat("dd/MM/yyyy");
    SetDateSeparator('/');
    EXPECT_EQ(AdsSetDateFormat("dd/MM/yyyy"), AE_SUCCESS);
    EXPECT_EQ(AdsShowDeleted(1), AE_SUCCESS);
    EXPECT_EQ(AdsSetDecimals(2), AE_SUCCESS);
  }
};

TEST_F(SettingsTest, ConstructionValuesAndTheFormValues) {
  Form form;
  auto* settings = new TAdsSettings(&form, "AdsSettings1");
  EXPECT_TRUE(settings->SyncAppDateFormat());
  EXPECT_EQ(settings->NumCachedTables(), 0);
  EXPECT_EQ(settings->NumCachedCursors(), 25);
  EXPECT_EQ(settings->DateFormat(), ShortDateFormat());
  EXPECT_EQ(settings->AdsServerTypes(),
            (TAdsServerTypes{TAdsServerType::stADS_REMOTE, TAdsServerType::stADS_AIS}));

  // The form's values of AdsSettings1.
  settings->SetDateFormat("dd/MM/yyyy");
  settings->SetNumDecimals(2);
  settings->SetShowDeleted(true);
  EXPECT_EQ(settings->DateFormat(), "dd/MM/yyyy");
  std::string engine_format;
  ASSERT_EQ(AdsGetDateFormat(&engine_format), 0u);
  EXPECT_EQ(engine_format, "dd/MM/yyyy");
  UNSIGNED16 decimals = 0;
  ASSERT_EQ(AdsGetDecimals(&decimals), 0u);
  EXPECT_EQ(decimals, 2);
  UNSIGNED16 deleted = 0;
  ASSERT_EQ(AdsGetDeleted(&deleted), 0u);
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(ShortDateFormat(), "dd/MM/yyyy");
  EXPECT_EQ(DateSeparator(), '/');
  EXPECT_EQ(DateToText(EncodeDate(2010, 3, 5)), "05/03/2010");
}

TEST_F(SettingsTest, OnlyOneInstanceAtATime) {
  Form form;
  new TAdsSettings(&form, "AdsSettings1");
  EXPECT_EQ(MessageOf<Exception>([&] { new TAdsSettings(&form, "AdsSettings2"); }),
            "Only one AdsSettings component is allowed per application");
  {
    Form other;
    EXPECT_THROW(new TAdsSettings(&other, "AdsSettings3"), Exception);
  }
}

TEST_F(SettingsTest, AnInstanceMayBeMadeAgainAfterTheFirstIsGone) {
  { Form form; new TAdsSettings(&form, "AdsSettings1"); }
  Form form;
  EXPECT_NO_THROW(new TAdsSettings(&form, "AdsSettings1"));
}

TEST_F(SettingsTest, CenturyFormatGivesAFourDigitYearAndItsSeparator) {
  Form form;
  auto* settings = new TAdsSettings(&form, "AdsSettings1");
  settings->SetDateFormat("MM-dd-ccyy");
  EXPECT_EQ(settings->DateFormat(), "MM-dd-ccyy");
  EXPECT_EQ(ShortDateFormat(), "MM-dd-yyyy");
  EXPECT_EQ(DateSeparator(), '-');
  EXPECT_EQ(DateToText(EncodeDate(2010, 3, 5)), "03-05-2010");
}

TEST_F(SettingsTest, EmptyFormatMeansTheEngineDefault) {
  Form form;
  auto* settings = new TAdsSettings(&form, "AdsSettings1");
  settings->SetDateFormat("");
  EXPECT_EQ(settings->DateFormat(), "MM/dd/ccyy");
  EXPECT_EQ(ShortDateFormat(), "MM/dd/yyyy");
}

TEST_F(SettingsTest, WithoutSyncOnlyTheSeparatorFollows) {
  Form form;
  auto* settings = new TAdsSettings(&form, "AdsSettings1");
  settings->SetSyncAppDateFormat(false);
  settings->SetDateFormat("dd.MM.yyyy");
  EXPECT_EQ(ShortDateFormat(), "dd/MM/yyyy");
  EXPECT_EQ(DateSeparator(), '.');
}

TEST_F(SettingsTest, RefusedDateFormatChangesNothing) {
  Form form;
  auto* settings = new TAdsSettings(&form, "AdsSettings1");
  settings->SetDateFormat("dd/MM/yyyy");
  EXPECT_THROW(settings->SetDateFormat("dd/MM/yyyy hh:nn"), AdsError);
  EXPECT_EQ(settings->DateFormat(), "dd/MM/yyyy");
  EXPECT_EQ(ShortDateFormat(), "dd/MM/yyyy");
  EXPECT_EQ(DateSeparator(), '/');
}

TEST_F(SettingsTest, EmptyServerTypesAreRefusedAndThePreviousSetStays) {
  Form form;
  auto* settings = new TAdsSettings(&form, "AdsSettings1");
  const TAdsServerTypes before = settings->AdsServerTypes();
  EXPECT_EQ(MessageOf<AdsSettingsError>([&] { settings->SetAdsServerTypes({}); }),
            "At least one server type must be selected.");
  EXPECT_EQ(settings->AdsServerTypes(), before);
  settings->SetAdsServerTypes({TAdsServerType::stADS_LOCAL});
  EXPECT_EQ(settings->AdsServerTypes(), TAdsServerTypes{TAdsServerType::stADS_LOCAL});
}

TEST_F(SettingsTest, NegativeCacheSizesAreRefusedAndZeroIsAccepted) {
  Form form;
  auto* settings = new TAdsSettings(&form, "AdsSettings1");
  EXPECT_EQ(MessageOf<Exception>([&] { settings->SetNumCachedTables(-1); }),
            "NumCachedTables value must be greater than zero.");
  EXPECT_EQ(MessageOf<Exception>([&] { settings->SetNumCachedCursors(-5); }),
            "NumCachedCursors value must be greater than zero.");
  EXPECT_EQ(settings->NumCachedCursors(), 25);
  settings->SetNumCachedCursors(0);
  EXPECT_EQ(settings->NumCachedCursors(), 0);
  settings->SetNumCachedTables(3);
  EXPECT_EQ(settings->NumCachedTables(), 3);
}

}  // namespace
