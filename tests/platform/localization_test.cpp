#include "localization/localization.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "localization/locale_match.h"
#include "localization/plural_rules.h"

namespace {

TEST(LocaleMatch, ChoosesTheClosestTable) {
  const std::vector<std::string> tables = {"da_DK", "de",    "en",    "es",    "es_ES", "fr", "id",
                                           "it",    "ja",    "ko",    "ms",    "nl_NL", "pl", "pt_BR",
                                           "ru",    "sv_SE", "th_TH", "zh_CN", "zh_TW"};
  struct Case {
    const char* requested;
    const char* table;
  } cases[] = {
      {"de", "de"},
      {"es_ES", "es_ES"},
      {"pt_BR", "pt_BR"},
      {"de_AT", "de"},
      {"de_CH.UTF-8", "de"},
      {"fr_CA.UTF-8@euro", "fr"},
      {"es_MX", "es"},
      {"es-419", "es"},
      {"es", "es"},
      {"pt_PT", "pt_BR"},
      {"pt", "pt_BR"},
      {"sv", "sv_SE"},
      {"sv_FI", "sv_SE"},
      {"da", "da_DK"},
      {"nl_BE", "nl_NL"},
      {"th", "th_TH"},
      {"zh_TW", "zh_TW"},
      {"zh_HK", "zh_TW"},
      {"zh_MO.UTF-8", "zh_TW"},
      {"zh-Hant", "zh_TW"},
      {"zh_Hant_CN", "zh_TW"},
      {"zh", "zh_CN"},
      {"zh_SG", "zh_CN"},
      {"zh-Hans-HK", "zh_TW"},  // the region decides where the script does not say Hant
      {"DE_de", "de"},
      {"ja_JP.eucJP", "ja"},
      {"en_GB", "en"},
      {"nb_NO", "en"},
      {"C", "en"},
      {"POSIX", "en"},
      {"C.UTF-8", "en"},
      {"", "en"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(localization::match_locale(c.requested, tables), c.table) << c.requested;
  // A language with two regional tables and no plain one has no single choice.
  EXPECT_EQ(localization::match_locale("pt", {"en", "pt_BR", "pt_PT"}), "en");
}

TEST(PluralRules, IntegerCategories) {
  const int64_t counts[] = {0, 1, 2, 5, 11, 12, 21, 22, 25, 111, 1000000};
  struct Case {
    const char* language;
    std::vector<std::string> categories;  // one per count above
  } cases[] = {
      {"ru", {"many", "one", "few", "many", "many", "many", "one", "few", "many", "many", "many"}},
      {"pl", {"many", "one", "few", "many", "many", "many", "many", "few", "many", "many", "many"}},
      {"fr", {"one", "one", "other", "other", "other", "other", "other", "other", "other", "other", "many"}},
      {"pt", {"one", "one", "other", "other", "other", "other", "other", "other", "other", "other", "many"}},
      {"es",
       {"other", "one", "other", "other", "other", "other", "other", "other", "other", "other", "many"}},
      {"de",
       {"other", "one", "other", "other", "other", "other", "other", "other", "other", "other", "other"}},
      {"da",
       {"other", "one", "other", "other", "other", "other", "other", "other", "other", "other", "other"}},
      {"ja",
       {"other", "other", "other", "other", "other", "other", "other", "other", "other", "other", "other"}},
  };
  for (const Case& c : cases) {
    for (size_t i = 0; i < std::size(counts); ++i) {
      EXPECT_EQ(localization::plural_category(c.language, counts[i]), c.categories[i])
          << c.language << " " << counts[i];
    }
  }
  EXPECT_EQ(localization::plural_category("ru", -21), "one");
  EXPECT_EQ(localization::plural_category("ru", INT64_MIN), "many");
}

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_;
  std::string old_;
};

// Tables of this test, registered for one test's length; the host's choice is undone after it.
class LocalizationTest : public ::testing::Test {
 protected:
  ~LocalizationTest() override { service().set_current_locale(""); }
  static Localization& service() { return Localization::instance(); }

  const std::string unsent_ = "%d unsent messages";
  LocaleWrapper en_{
      "en", {{"Archive", "Archive"}, {unsent_ + "##{one}", unsent_}, {unsent_ + "##{other}", unsent_}}};
  LocaleWrapper de_{"de",
                    {{"Archive", "Archiv"},
                     {unsent_ + "##{one}", "%1$d nicht gesendete Nachricht"},
                     {unsent_ + "##{other}", "%1$d nicht gesendete Nachrichten"}}};
  LocaleWrapper pl_{"pl",
                    {{unsent_ + "##{one}", "one"},
                     {unsent_ + "##{few}", "few"},
                     {unsent_ + "##{many}", "many"},
                     {unsent_ + "##{other}", "other"}}};
  LocaleWrapper fr_{"fr", {{unsent_ + "##{one}", "un"}, {unsent_ + "##{other}", "autres"}}};
  LocaleWrapper ja_{"ja", {{unsent_ + "##{other}", "%1$d 件の未送信メッセージ"}}};
};

TEST_F(LocalizationTest, LookupsAnswerFromTheCurrentTable) {
  service().set_current_locale("de_AT");
  EXPECT_EQ(service().get_current_locale(), "de");
  EXPECT_EQ(LOCALIZED_STRING("Archive", "folder"), "Archiv");
  EXPECT_EQ(LOCALIZED_STRING("Me", "a participant who is the user"), "Me");  // no entry: the text itself
  service().set_current_locale("ko_KR");                                     // no table: English
  EXPECT_EQ(service().get_current_locale(), "en");
  EXPECT_EQ(LOCALIZED_STRING("Archive", ""), "Archive");
}

TEST_F(LocalizationTest, PluralsTakeTheCategoryOfTheCount) {
  struct Case {
    const char* locale;
    int64_t count;
    std::string expected;
  } cases[] = {
      {"de", 1, "%1$d nicht gesendete Nachricht"},
      {"de", 0, "%1$d nicht gesendete Nachrichten"},
      {"pl", 1, "one"},
      {"pl", 22, "few"},
      {"pl", 21, "many"},
      {"fr", 0, "un"},
      {"fr", 2, "autres"},
      {"fr", 1000000, "autres"},  // "many" has no form in the table: "other" stands in
      {"ja", 1, "%1$d 件の未送信メッセージ"},
      // English keeps one wording under both keys; the singular argument serves for one.
      {"en", 1, "%d unsent message"},
      {"en", 0, "%d unsent messages"},
      {"en", 2, "%d unsent messages"},
      {"ko", 1, "%d unsent message"},  // no table
  };
  for (const Case& c : cases) {
    service().set_current_locale(c.locale);
    EXPECT_EQ(PLURALIZED_STRING("%d unsent message", unsent_, "count of unsent messages", c.count),
              c.expected)
        << c.locale << " " << c.count;
  }
}

TEST_F(LocalizationTest, EnvironmentGivesTheLocaleUnlessTheHostSetsOne) {
  ScopedEnv all("LC_ALL", nullptr), messages("LC_MESSAGES", "pl_PL.UTF-8"), lang("LANG", "fr_FR.UTF-8");
  service().set_current_locale("");
  EXPECT_EQ(service().get_current_locale(), "pl");
  {
    ScopedEnv all_set("LC_ALL", "de_DE.UTF-8");
    service().set_current_locale("");
    EXPECT_EQ(service().get_current_locale(), "de");
  }
  {
    ScopedEnv messages_unset("LC_MESSAGES", nullptr);
    service().set_current_locale("");
    EXPECT_EQ(service().get_current_locale(), "fr");
  }
  service().set_current_locale("ja_JP");
  EXPECT_EQ(service().get_current_locale(), "ja");
}

TEST_F(LocalizationTest, TableLeavesWithItsWrapper) {
  service().set_current_locale("it");
  EXPECT_EQ(service().get_current_locale(), "en");
  {
    LocaleWrapper it("it", {{"Archive", "Archivio"}});
    LocaleWrapper again("it", {{"Archive", "second"}});  // the first table of an identifier stays
    EXPECT_EQ(service().get_current_locale(), "it");
    EXPECT_EQ(LOCALIZED_STRING("Archive", ""), "Archivio");
  }
  EXPECT_EQ(service().get_current_locale(), "en");
  EXPECT_EQ(LOCALIZED_STRING("Archive", ""), "Archive");
}

TEST_F(LocalizationTest, ConcurrentLookupsWhileTheLocaleChanges) {
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([] {
      for (int n = 0; n < 2000; ++n) {
        std::string text = LOCALIZED_STRING("Archive", "");
        ASSERT_TRUE(text == "Archive" || text == "Archiv") << text;
      }
    });
  }
  for (int n = 0; n < 500; ++n) service().set_current_locale(n % 2 ? "de" : "en");
  for (std::thread& t : readers) t.join();
}

// Every code in two locales, at 2026-03-05 15:07:09 and 2026-12-24 09:05 in a pinned zone.
TEST_F(LocalizationTest, TimestampsInTheLocalesForms) {
  ScopedEnv tz("TZ", "Europe/Berlin");
  tzset();
  const int64_t march = 1772719629000;     // 2026-03-05 14:07:09 UTC, 15:07:09 in Berlin
  const int64_t december = 1766563500000;  // 2025-12-24 08:05:00 UTC, 09:05 in Berlin
  struct Case {
    const char* locale;
    hvx_date_string_type code;
    int64_t millis;
    const char* expected;
  } cases[] = {
      {"en", HVX_DATE_STRING_TIME, march, "3:07 PM"},
      {"en", HVX_DATE_STRING_TIME, december, "9:05 AM"},
      {"en", HVX_DATE_STRING_MONTH_DAY, march, "Mar 5"},
      {"en", HVX_DATE_STRING_DATE_TIME, march, "Mar 5, 2026 at 3:07 PM"},
      {"en", HVX_DATE_STRING_DATE, march, "Thu, Mar 5, 2026"},
      {"en", HVX_DATE_STRING_DATE_YEAR, december, "Dec 24, 2025"},
      {"de", HVX_DATE_STRING_TIME, december, "09:05"},
      {"de", HVX_DATE_STRING_MONTH_DAY, march, "5. März"},
      {"de", HVX_DATE_STRING_DATE_TIME, march, "5. März 2026, 15:07"},
      {"de", HVX_DATE_STRING_DATE, december, "Mi., 24. Dez. 2025"},
      {"de", HVX_DATE_STRING_DATE_YEAR, march, "5. März 2026"},
      {"ja", HVX_DATE_STRING_DATE, march, "2026年3月5日(木)"},
  };
  for (const Case& c : cases) {
    service().set_current_locale(c.locale);
    EXPECT_EQ(LOCALIZED_TIMESTAMP(c.code, c.millis), c.expected) << c.locale << " " << c.code;
  }
  service().set_current_locale("en");
  {
    ScopedEnv utc("TZ", "UTC");
    EXPECT_EQ(LOCALIZED_TIMESTAMP(HVX_DATE_STRING_TIME, march), "2:07 PM");  // follows a changed zone
    EXPECT_EQ(LOCALIZED_TIMESTAMP(HVX_DATE_STRING_DATE_TIME, -1), "Dec 31, 1969 at 11:59 PM");
  }
  tzset();
}

}  // namespace
