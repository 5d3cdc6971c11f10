// Checks the nineteen data files against the catalogue of source texts and the rules every
// translation follows.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/locales/locale_file.h"
#include "core/locales/texts.h"
#include "locale_tables.h"

namespace {

using libkestrun::locales::parse_locale_file;
using namespace libkestrun::text;
using kestrun_test::all_locales;
using kestrun_test::common_texts;
using kestrun_test::read_locale_file;

const std::string kSignatureWithoutDash = std::string(kDefaultSignature).substr(std::string("\u2014").size());

std::string plural_key(const std::string& text, const std::string& category) {
  return text + "##{" + category + "}";
}

std::map<std::string, std::string> table_of(const std::string& id) {
  libkestrun::locales::LocaleFile file = read_locale_file(id);
  EXPECT_TRUE(file.errors.empty()) << id << ": " << (file.errors.empty() ? "" : file.errors[0]);
  return std::map<std::string, std::string>(file.entries.begin(), file.entries.end());
}

// The printf conversions of a text in order, as written ("%s", "%2$lu"); "%%" is no conversion.
std::vector<std::string> conversions(const std::string& text) {
  std::vector<std::string> found;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    if (i + 1 < text.size() && text[i + 1] == '%') {
      ++i;
      continue;
    }
    size_t end = i + 1;
    while (end < text.size() && std::string("0123456789$lh").find(text[end]) != std::string::npos) ++end;
    found.push_back(text.substr(i, end + 1 - i));
    i = end;
  }
  return found;
}

// The source's conversions in positional form: "%s %lu" gives "%1$s", "%2$lu".
std::multiset<std::string> positional(const std::string& source) {
  std::multiset<std::string> expected;
  int place = 0;
  for (const std::string& c : conversions(source))
    expected.insert("%" + std::to_string(++place) + "$" + c.substr(1));
  return expected;
}

TEST(LocaleFile, ParsesEscapesAndReportsBadLines) {
  auto file = parse_locale_file(
      "# comment\n"
      "\n"
      "\"a\\\"b\" = \"c\\\\d\"\n"
      "  \"line\\nbreak\"\t=\t\"no\\u00A0break\"\n"
      "\"a\\\"b\" = \"again\"\n"
      "\"open = \"x\"\n"
      "\"k\" \"v\"\n"
      "\"k\" = \"v\" extra\n"
      "\"k\" = \"\\q\"\n"
      "\"k\" = \"\\u12\"\n"
      "\"last\" = \"no newline\"");
  ASSERT_EQ(file.entries.size(), 3u);
  EXPECT_EQ(file.entries[0], std::make_pair(std::string("a\"b"), std::string("c\\d")));
  EXPECT_EQ(file.entries[1], std::make_pair(std::string("line\nbreak"), std::string("no\u00A0break")));
  EXPECT_EQ(file.entries[2], std::make_pair(std::string("last"), std::string("no newline")));
  ASSERT_EQ(file.errors.size(), 6u);
  EXPECT_EQ(file.errors[0], "line 5: key listed twice: a\"b");
  EXPECT_EQ(file.errors[1].rfind("line 6: ", 0), 0u);
  EXPECT_EQ(file.errors[5].rfind("line 10: ", 0), 0u);
}

TEST(LocaleData, CatalogueHas119CommonTexts) {
  std::set<std::string> distinct(common_texts().begin(), common_texts().end());
  EXPECT_EQ(distinct.size(), 119u);
  for (const char* outside : {kMe, kNoteToSelf, kUnsentMessage, kUndoMoveItem, kDefaultSignature}) {
    EXPECT_EQ(distinct.count(outside), 0u) << outside;
  }
}

// Every table holds exactly the common texts, its signature key and the plural keys of its
// language's categories.
TEST(LocaleData, KeySets) {
  for (const auto& locale : all_locales()) {
    std::set<std::string> expected(common_texts().begin(), common_texts().end());
    expected.insert(locale.id == "en" ? std::string(kDefaultSignature) : kSignatureWithoutDash);
    for (const std::string& category : locale.plural_categories) {
      expected.insert(plural_key(kUnsentMessages, category));
      expected.insert(plural_key(kUndoMoveItems, category));
    }
    std::set<std::string> keys;
    for (const auto& [key, translation] : table_of(locale.id)) keys.insert(key);
    std::vector<std::string> missing, extra;
    std::set_difference(expected.begin(), expected.end(), keys.begin(), keys.end(),
                        std::back_inserter(missing));
    std::set_difference(keys.begin(), keys.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    EXPECT_EQ(missing, std::vector<std::string>()) << locale.id;
    EXPECT_EQ(extra, std::vector<std::string>()) << locale.id;
    EXPECT_EQ(keys.size(), 120 + 2 * locale.plural_categories.size()) << locale.id;
  }
}

TEST(LocaleData, EnglishMapsEveryKeyToItsSourceText) {
  auto en = table_of("en");
  for (const std::string& text : common_texts()) EXPECT_EQ(en[text], text);
  EXPECT_EQ(en[kDefaultSignature], kDefaultSignature);
  for (const char* category : {"one", "other"}) {
    EXPECT_EQ(en[plural_key(kUnsentMessages, category)], kUnsentMessages);
    EXPECT_EQ(en[plural_key(kUndoMoveItems, category)], kUndoMoveItems);
  }
}

// Outside "en" every translation carries the source's conversions in positional form, each
// once, in whatever order the language needs; texts without conversions get none.
TEST(LocaleData, TranslationsKeepTheirConversions) {
  for (const auto& locale : all_locales()) {
    if (locale.id == "en") continue;
    for (const auto& [key, translation] : table_of(locale.id)) {
      std::string source = key.substr(0, key.find("##{"));
      std::vector<std::string> found = conversions(translation);
      EXPECT_EQ(std::multiset<std::string>(found.begin(), found.end()), positional(source))
          << locale.id << ": " << translation;
      EXPECT_FALSE(translation.empty()) << locale.id << ": " << key;
    }
  }
}

TEST(LocaleData, NamesAddressesAndSignatureStayAsTheyAre) {
  for (const auto& locale : all_locales()) {
    auto table = table_of(locale.id);
    for (const char* name : {kGmail, kICloud, kOffice365, kOutlook, kExchange, kYahoo}) {
      EXPECT_EQ(table[name], name) << locale.id;
    }
    for (const char* notice : {kProviderDisabledNotice, kProviderUnavailableNotice}) {
      EXPECT_NE(table[notice].find("https://www.kestrun.com/blog"), std::string::npos) << locale.id;
      EXPECT_NE(table[notice].find("support@kestrun.com"), std::string::npos) << locale.id;
    }
    if (locale.id != "en") {
      EXPECT_EQ(table[kSignatureWithoutDash], kSignatureWithoutDash) << locale.id;
      EXPECT_EQ(table.count(kDefaultSignature), 0u) << locale.id;
    }
  }
}

TEST(LocaleData, GivenRowsByteForByte) {
  const std::string undo = kUndoMoveItems;
  const std::string unsent = kUnsentMessages;
  const std::string sure = "Вы уверены,\u00A0что хотите отменить это действие и вернуть %1$lu ";
  struct Row {
    const char* locale;
    std::string key, translation;
  } rows[] = {
      {"en", plural_key(unsent, "one"), "%d unsent messages"},
      {"en", plural_key(unsent, "other"), "%d unsent messages"},
      {"de", plural_key(unsent, "one"), "%1$d nicht gesendete Nachricht"},
      {"de", plural_key(unsent, "other"), "%1$d nicht gesendete Nachrichten"},
      {"ja", plural_key(unsent, "other"), "%1$d 件の未送信メッセージ"},
      {"pl", plural_key(unsent, "one"), "%1$d niewysłana wiadomość"},
      {"pl", plural_key(unsent, "few"), "%1$d niewysłane wiadomości"},
      {"pl", plural_key(unsent, "many"), "%1$d niewysłanych wiadomości"},
      {"pl", plural_key(unsent, "other"), "%1$d niewysłanej wiadomości"},
      {"ru", plural_key(unsent, "one"), "%1$d неотправленное сообщение"},
      {"ru", plural_key(unsent, "few"), "%1$d неотправленных сообщения"},
      {"ru", plural_key(unsent, "many"), "%1$d неотправленных сообщений"},
      {"ru", plural_key(unsent, "other"), "%1$d неотправленных сообщения"},
      {"en", plural_key(undo, "one"), undo},
      {"en", plural_key(undo, "other"), undo},
      {"de", plural_key(undo, "one"),
       "Möchten Sie diesen Vorgang wirklich rückgängig machen und %1$lu Element aus %2$s zurück in %3$s "
       "verschieben?"},
      {"de", plural_key(undo, "other"),
       "Möchten Sie diesen Vorgang wirklich rückgängig machen und %1$lu Elemente aus %2$s zurück in %3$s "
       "verschieben?"},
      {"pl", plural_key(undo, "one"),
       "Czy na pewno chcesz to cofnąć i przenieść %1$lu element z %2$s z powrotem do %3$s?"},
      {"pl", plural_key(undo, "few"),
       "Czy na pewno chcesz to cofnąć i przenieść %1$lu elementy z %2$s z powrotem do %3$s?"},
      {"pl", plural_key(undo, "many"),
       "Czy na pewno chcesz to cofnąć i przenieść %1$lu elementów z %2$s z powrotem do %3$s?"},
      {"pl", plural_key(undo, "other"),
       "Czy na pewno chcesz to cofnąć i przenieść %1$lu elementu z %2$s z powrotem do %3$s?"},
      {"ru", plural_key(undo, "one"), sure + "элемент из папки «%2$s» в папку «%3$s»?"},
      {"ru", plural_key(undo, "few"), sure + "элемента из папки «%2$s» в папку «%3$s»?"},
      {"ru", plural_key(undo, "many"), sure + "элементов из папки «%2$s» в папку «%3$s»?"},
      {"ru", plural_key(undo, "other"), sure + "элемента из папки «%2$s» в папку «%3$s»?"},
      {"de", kReplyHeader, "%3$s schrieb am %1$s um %2$s:"},
      {"pt_BR", kReplyHeader, "Às %2$s de %1$s, %3$s escreveu:"},
      {"ja", kReplyHeader, "%3$s さんからのメール（%1$s、%2$s）:"},
      {"ru", kSnoozeFromTo, "Всегда откладывать\n в «%2$s» письма от\n пользователя %1$s?"},
      {"de", kSnoozeFromTo, "Nachrichten von %1$s immer bis %2$s zurückstellen?"},
      {"es", kProviderErrorFor, "Tu proveedor de correo electrónico informa este error para %1$s: %2$s"},
      {"es_ES", kProviderErrorFor, "El proveedor de correo ha generado este error para la cuenta %1$s: %2$s"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(table_of(row.locale)[row.key], row.translation) << row.locale << " " << row.key;
}

// "es" and "es_ES" are two tables, worded apart wherever there is wording to choose: most of
// their entries differ.
TEST(LocaleData, SpanishTablesAreWordedApart) {
  auto es = table_of("es"), es_es = table_of("es_ES");
  int different = 0;
  for (const auto& [key, translation] : es) different += translation != es_es[key];
  EXPECT_GT(different * 2, static_cast<int>(es.size())) << different << " of " << es.size();
}

}  // namespace
