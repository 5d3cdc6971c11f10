// The tables as a program linked like the core sees them, through the localization service.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "core/locales/texts.h"
#include "harnvik/strings.h"
#include "locale_tables.h"
#include "localization/localization.h"

namespace {

using harnvik::verdane::lang::str_printf;
using namespace libkestrun::text;
using kestrun_test::all_locales;
using kestrun_test::read_locale_file;

class LookupsTest : public ::testing::Test {
 protected:
  ~LookupsTest() override { Localization::instance().set_current_locale(""); }
  static void use(const std::string& id) {
    Localization::instance().set_current_locale(id);
    ASSERT_EQ(Localization::instance().get_current_locale(), id);
  }
};

TEST_F(LookupsTest, NineteenTablesAnswerAsTheirFilesSay) {
  std::vector<std::string> ids;
  for (const auto& locale : all_locales()) ids.push_back(locale.id);
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(Localization::instance().locales(), ids);
  for (const auto& locale : all_locales()) {
    use(locale.id);
    for (const auto& [key, translation] : read_locale_file(locale.id).entries) {
      if (key.find("##{") != std::string::npos) continue;
      EXPECT_EQ(LOCALIZED_STRING(key, ""), translation) << locale.id;
    }
  }
}

TEST_F(LookupsTest, TranslationsReorderTheirArguments) {
  use("de");
  EXPECT_EQ(str_printf(LOCALIZED_STRING(kReplyHeader, "reply header").c_str(), "Do., 5. März 2026", "15:07",
                       "Ann <ann@example.com>"),
            "Ann <ann@example.com> schrieb am Do., 5. März 2026 um 15:07:");
  use("ru");
  EXPECT_EQ(str_printf(LOCALIZED_STRING(kSnoozeFromTo, "snooze rule tool tip").c_str(), "ann@example.com",
                       "Завтра"),
            "Всегда откладывать\n в «Завтра» письма от\n пользователя ann@example.com?");
  use("en");
  EXPECT_EQ(str_printf(LOCALIZED_STRING(kSnoozeFromTo, "").c_str(), "ann@example.com", "Tomorrow"),
            "Always snooze messages from\nann@example.com\nto Tomorrow?");
}

TEST_F(LookupsTest, SpanishTablesDiffer) {
  use("es");
  EXPECT_EQ(LOCALIZED_STRING(kProviderErrorFor, ""),
            "Tu proveedor de correo electrónico informa este error para %1$s: %2$s");
  use("es_ES");
  EXPECT_EQ(LOCALIZED_STRING(kProviderErrorFor, ""),
            "El proveedor de correo ha generado este error para la cuenta %1$s: %2$s");
}

// One translation per text whichever component asks; texts in no table come back unchanged.
TEST_F(LookupsTest, OneTranslationPerTextAndUntranslatedTexts) {
  for (const auto& locale : all_locales()) {
    use(locale.id);
    EXPECT_EQ(LOCALIZED_STRING(kArchive, "Folder the items are moved back from"),
              LOCALIZED_STRING(kArchive, "Short name of the archive"));
    EXPECT_EQ(LOCALIZED_STRING(kConnectionError, "Adding an account failed"),
              LOCALIZED_STRING(kConnectionError, "Account status alert title"));
    EXPECT_EQ(locale.id == "en", LOCALIZED_STRING(kConnectionError, "") == kConnectionError) << locale.id;
    EXPECT_EQ(LOCALIZED_STRING(kMe, ""), kMe);
    EXPECT_EQ(LOCALIZED_STRING(kNoteToSelf, ""), kNoteToSelf);
    EXPECT_EQ(LOCALIZED_STRING(kDefaultSignature, ""), kDefaultSignature);
  }
}

TEST_F(LookupsTest, PluralFormsByCount) {
  const int64_t counts[] = {0, 1, 2, 5, 11, 12, 21, 22, 25, 111};
  struct Case {
    const char* locale;
    std::vector<std::string> categories;  // one per count
  } cases[] = {
      {"ru", {"many", "one", "few", "many", "many", "many", "one", "few", "many", "many"}},
      {"pl", {"many", "one", "few", "many", "many", "many", "many", "few", "many", "many"}},
      {"fr", {"one", "one", "other", "other", "other", "other", "other", "other", "other", "other"}},
      {"pt_BR", {"one", "one", "other", "other", "other", "other", "other", "other", "other", "other"}},
      {"de", {"other", "one", "other", "other", "other", "other", "other", "other", "other", "other"}},
      {"ja", {"other", "other", "other", "other", "other", "other", "other", "other", "other", "other"}},
  };
  for (const Case& c : cases) {
    std::map<std::string, std::string> table;
    for (auto& [key, translation] : read_locale_file(c.locale).entries) table[key] = translation;
    use(c.locale);
    for (size_t i = 0; i < std::size(counts); ++i) {
      std::string unsent = PLURALIZED_STRING(kUnsentMessage, kUnsentMessages, "item preview", counts[i]);
      EXPECT_EQ(unsent, table[std::string(kUnsentMessages) + "##{" + c.categories[i] + "}"])
          << c.locale << " " << counts[i];
      std::string undo = PLURALIZED_STRING(kUndoMoveItem, kUndoMoveItems, "undo prompt", counts[i]);
      EXPECT_EQ(undo, table[std::string(kUndoMoveItems) + "##{" + c.categories[i] + "}"])
          << c.locale << " " << counts[i];
    }
  }
  use("ru");
  EXPECT_EQ(
      str_printf(PLURALIZED_STRING(kUndoMoveItem, kUndoMoveItems, "", 22).c_str(), uint64_t{22}, "Архив",
                 "Входящие"),
      "Вы уверены,\u00A0что хотите отменить это действие и вернуть 22 элемента из папки «Архив» в папку "
      "«Входящие»?");
  use("en");
  EXPECT_EQ(str_printf(PLURALIZED_STRING(kUnsentMessage, kUnsentMessages, "", 1).c_str(), 1),
            "1 unsent message");
  EXPECT_EQ(str_printf(PLURALIZED_STRING(kUnsentMessage, kUnsentMessages, "", 3).c_str(), 3),
            "3 unsent messages");
  // The undo prompt's count is 64 bits wide, given to %d in the singular and %lu in the plural.
  EXPECT_EQ(str_printf(PLURALIZED_STRING(kUndoMoveItem, kUndoMoveItems, "", 1).c_str(), uint64_t{1}, "Trash",
                       "Inbox"),
            "Are you sure you want to undo that, and move 1 item from Trash back to Inbox?");
}

// The reminder and reply-header forms of a few more locales, in a pinned zone: 2026-03-05
// 15:07 in Berlin.
TEST_F(LookupsTest, TimestampsInMoreLocales) {
  const char* old_tz = std::getenv("TZ");
  std::string saved = old_tz ? old_tz : "";
  setenv("TZ", "Europe/Berlin", 1);
  const int64_t march = 1772719629000;
  struct Case {
    const char* locale;
    hvx_date_string_type code;
    const char* expected;
  } cases[] = {
      {"ru", HVX_DATE_STRING_DATE, "чт, 5 мар. 2026 г."},
      {"ru", HVX_DATE_STRING_TIME, "15:07"},
      {"th_TH", HVX_DATE_STRING_DATE_YEAR, "5 มี.ค. 2569"},  // Buddhist era
      {"zh_TW", HVX_DATE_STRING_TIME, "下午3:07"},
      {"ko", HVX_DATE_STRING_MONTH_DAY, "3월 5일"},
      {"pt_BR", HVX_DATE_STRING_DATE_TIME, "5 de mar. de 2026 15:07"},
      {"es_ES", HVX_DATE_STRING_DATE, "jue, 5 mar 2026"},  // the language's forms
  };
  for (const Case& c : cases) {
    use(c.locale);
    EXPECT_EQ(LOCALIZED_TIMESTAMP(c.code, march), c.expected) << c.locale;
  }
  use("de");
  EXPECT_EQ(
      str_printf(LOCALIZED_STRING(kReplyHeader, "").c_str(), LOCALIZED_TIMESTAMP(HVX_DATE_STRING_DATE, march),
                 LOCALIZED_TIMESTAMP(HVX_DATE_STRING_TIME, march), "Ann"),
      "Ann schrieb am Do., 5. März 2026 um 15:07:");
  // A deferred item's subtext names a time (later today) or a date (further ahead) in one wording.
  use("es_ES");
  const struct {
    hvx_date_string_type code;
    const char* expected;
  } deferrals[] = {{HVX_DATE_STRING_TIME, "Aplazado hasta 15:07"},
                   {HVX_DATE_STRING_MONTH_DAY, "Aplazado hasta 5 mar"}};
  for (const auto& d : deferrals) {
    EXPECT_EQ(str_printf(LOCALIZED_STRING(kDeferredUntil, "").c_str(), LOCALIZED_TIMESTAMP(d.code, march)),
              d.expected);
  }
  if (old_tz) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
}

}  // namespace
