#include "tools/sync_server/sample_mailbox.h"

#include <array>
#include <cstdio>

#include "tools/sync_server/json.h"

namespace sync_server {

namespace {

constexpr int kConversations = 100;  // per account
constexpr int64_t kHour = 3600 * 1000;
// Dates are laid out backwards from a fixed moment, so that the sample is the same on every start.
constexpr int64_t kNewest = 1796000000000;  // a morning in December 2026

// A small fixed-seed generator (the one of Numerical Recipes), so the sample never depends on the
// standard library's distributions.
class Dice {
 public:
  explicit Dice(uint32_t seed) : state_(seed) {}
  uint32_t next() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_ >> 8;
  }
  int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
  template <class T, size_t N>
  const T& pick(const std::array<T, N>& from) {
    return from[static_cast<size_t>(below(static_cast<int>(N)))];
  }

 private:
  uint32_t state_;
};

struct Person {
  const char* name;
  const char* address;
};

const std::array<Person, 16> kPeople = {{
    {"Maren Holt", "maren.holt@fjordline.example"},
    {"Tobias Crane", "tobias@cranearchitects.example"},
    {"Priya Raman", "priya.raman@northwind-labs.example"},
    {"Jonas Weller", "jonas.weller@kettlebrook.example"},
    {"Lucia Ferro", "lucia@ferro-studio.example"},
    {"Owen Blake", "owen.blake@harbourbank.example"},
    {"Ines Castell", "ines.castell@castell-legal.example"},
    {"Sam Okafor", "sam@okafor-events.example"},
    {"Hana Mori", "hana.mori@lanternpress.example"},
    {"Felix Anders", "felix.anders@ridgeway-school.example"},
    {"Nora Lindqvist", "nora@lindqvist-design.example"},
    {"Dev Kapoor", "dev.kapoor@quillworks.example"},
    {"Greta Sommer", "greta.sommer@alpine-rail.example"},
    {"Rafael Duarte", "rafael@duarte-coffee.example"},
    {"Ada Brennan", "ada.brennan@brennan-clinic.example"},
    {"Yusuf Demir", "yusuf.demir@meridian-travel.example"},
}};

const std::array<const char*, 20> kTopics = {
    "Quarterly budget review",       "Team offsite in March",        "Invoice 2291 for the design work",
    "Your order has shipped",        "Draft of the grant proposal",  "Lunch on Thursday?",
    "Flight change confirmation",    "Kitchen renovation quote",     "Book club: next pick",
    "Server maintenance window",     "Photos from the weekend",      "Contract renewal",
    "School concert schedule",       "Recipe you asked for",         "Interview follow-up",
    "Apartment viewing on Saturday", "Minutes of the board meeting", "New brand guidelines",
    "Dentist appointment reminder",  "Plans for the garden",
};

const std::array<const char*, 12> kOpenings = {
    "Thanks for getting back to me so quickly.",
    "I hope your week is going well.",
    "Following up on our call this morning.",
    "Quick note before I head out.",
    "As promised, here are the details.",
    "Sorry for the slow reply, it has been a busy few days.",
    "Good news on this one.",
    "I had another look at the numbers.",
    "Just checking in on where we landed.",
    "A couple of thoughts after reading your notes.",
    "Here is the summary I mentioned.",
    "Let me know if anything here looks off.",
};

const std::array<const char*, 12> kMiddles = {
    "The revised figures come in a little under what we planned, mostly because the venue gave us a "
    "discount for booking early.",
    "We can keep the original timeline if the second review happens by Friday; otherwise everything "
    "moves by a week.",
    "I spoke to the supplier and they can deliver the remaining pieces on Tuesday between nine and noon.",
    "The committee liked the proposal but asked for a clearer section on how we measure results.",
    "Parking is behind the building; ring the bell at the side entrance and someone will let you in.",
    "The quote covers labour and materials, but not the disposal of the old cabinets.",
    "I have attached the latest version with the changes from Monday highlighted in yellow.",
    "If the weather holds we will start at ten; if not, we move everything to the hall next door.",
    "Two of the five invoices are paid; the other three are waiting on the purchase order numbers.",
    "The new schedule puts the rehearsal on Wednesday evening and the concert on Saturday afternoon.",
    "Everyone agreed to keep the meeting to forty-five minutes and to circulate the agenda a day ahead.",
    "The warranty covers the first two years, and the extended plan is optional.",
};

const std::array<const char*, 8> kClosings = {
    "Talk soon,",    "Best,",         "Thanks again,",   "Cheers,",
    "Warm regards,", "All the best,", "Speak tomorrow,", "Many thanks,",
};

const std::array<const char*, 6> kListNames = {"Receipts", "Travel",      "Family",
                                               "Projects", "Newsletters", "Read later"};

const std::array<std::array<const char*, 3>, 4> kAttachments = {{
    {"budget-2027.csv", "text/csv", "category,planned,actual\nvenue,4200,3900\ncatering,2600,2710\n"},
    {"agenda.txt", "text/plain", "1. Welcome\n2. Review of last quarter\n3. Plans\n4. Any other business\n"},
    {"notes.md", "text/markdown", "# Notes\n\n- confirm the supplier\n- send the revised quote\n"},
    {"itinerary.txt", "text/plain", "Depart 08:15, arrive 11:40. Hotel check-in from 15:00.\n"},
}};

std::string escape_html(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

json_t* name_json(const char* name, const char* address) {
  return json_pack("{s:s, s:s}", "name", name, "address", address);
}

std::string id_of(const char* prefix, const SampleAccount& account, int a, int b = -1) {
  char text[96];
  if (b < 0)
    std::snprintf(text, sizeof(text), "%s-%s-%03d", prefix, account.account_id.c_str(), a);
  else
    std::snprintf(text, sizeof(text), "%s-%s-%03d-%d", prefix, account.account_id.c_str(), a, b);
  return text;
}

// Everything of one account, in the order it is stored.
std::vector<StoredObject> generate(const SampleAccount& account, uint32_t seed) {
  Dice dice(seed);
  std::vector<StoredObject> objects;
  auto add = [&](const std::string& kind, const std::string& id, JsonPtr doc) {
    objects.push_back({account.account_id, kind, id, 0, json_text(doc.get())});
  };

  for (size_t i = 0; i < kListNames.size(); ++i) {
    JsonPtr list(json_object());
    json_put(list.get(), "_id", json_string(id_of("list", account, static_cast<int>(i)).c_str()));
    json_put(list.get(), "acct_id", json_string(account.account_id.c_str()));
    json_put(list.get(), "name", json_string(kListNames[i]));
    json_put(list.get(), "created_at",
             json_integer(kNewest - 400 * 24 * kHour + static_cast<int64_t>(i) * kHour));
    add("list", id_of("list", account, static_cast<int>(i)), std::move(list));
  }

  for (int c = 0; c < kConversations; ++c) {
    const std::string item_id = id_of("item", account, c);
    const char* topic = dice.pick(kTopics);
    const Person& other = dice.pick(kPeople);
    const int emails = 1 + dice.below(4);
    int64_t when = kNewest - static_cast<int64_t>(c) * 7 * kHour - dice.below(5 * 60) * 60000;
    // Newest conversations sit in the inbox; older ones are spread over the other places.
    int roll = dice.below(100);
    int state = c < 30 ? 2 : roll < 55 ? 3 : roll < 70 ? 5 : roll < 82 ? 1 : roll < 94 ? 2 : 4;

    JsonPtr item(json_object());
    json_put(item.get(), "_id", json_string(item_id.c_str()));
    json_put(item.get(), "acct_id", json_string(account.account_id.c_str()));
    json_put(item.get(), "subject", json_string(topic));
    json_put(item.get(), "type", json_integer(1));
    json_put(item.get(), "state", json_integer(state));
    json_put(item.get(), "created_at", json_integer(when - (emails - 1) * kHour));
    json_put(item.get(), "modified_at", json_integer(when));
    if (state == 5)
      json_put(item.get(), "list_id",
               json_string(id_of("list", account, dice.below(static_cast<int>(kListNames.size()))).c_str()));
    if (state == 1)
      json_put(item.get(), "deferral_data",
               json_pack("{s:I, s:i}", "remind_at",
                         static_cast<json_int_t>(kNewest + (1 + dice.below(72)) * kHour), "snooze_type", 2));
    add("item", item_id, std::move(item));

    for (int e = 0; e < emails; ++e) {
      const std::string email_id = id_of("email", account, c, e);
      const bool from_me = e % 2 == 1;
      const char* opening = dice.pick(kOpenings);
      const char* middle = dice.pick(kMiddles);
      const char* closing = dice.pick(kClosings);
      const bool attach = dice.below(6) == 0;
      std::string sender_name = from_me ? account.name : other.name;
      std::string first = other.name;
      first = first.substr(0, first.find(' '));
      std::string html = "<div dir=\"ltr\"><p>Hi " +
                         escape_html(from_me ? first : account.name.substr(0, account.name.find(' '))) +
                         ",</p><p>" + escape_html(opening) + "</p><p>" + escape_html(middle) + "</p>";
      if (attach) {
        const auto& file = dice.pick(kAttachments);
        const std::string attachment_id = id_of("att", account, c, e);
        char tag[256];
        std::snprintf(tag, sizeof(tag),
                      "<kestrun-attach data-id=\"%s\" data-name=\"%s\" data-type=\"%s\" data-size=\"%zu\">"
                      "</kestrun-attach>",
                      attachment_id.c_str(), file[0], file[1], std::string(file[2]).size());
        html += tag;
        JsonPtr attachment(json_pack("{s:s, s:s, s:s, s:s, s:s, s:s}", "_id", attachment_id.c_str(),
                                     "acct_id", account.account_id.c_str(), "email_id", email_id.c_str(),
                                     "name", file[0], "mime_type", file[1], "content", file[2]));
        add("attachment", attachment_id, std::move(attachment));
      }
      html += "<p>" + escape_html(closing) + "<br>" + escape_html(sender_name) + "</p></div>";
      std::string preview = std::string(opening) + " " + middle;
      if (preview.size() > 120) preview = preview.substr(0, 117) + "...";

      JsonPtr email(json_object());
      json_put(email.get(), "_id", json_string(email_id.c_str()));
      json_put(email.get(), "acct_id", json_string(account.account_id.c_str()));
      json_put(email.get(), "p_id", json_string(item_id.c_str()));
      json_put(email.get(), "subject", json_string(e == 0 ? topic : ("Re: " + std::string(topic)).c_str()));
      json_put(email.get(), "created_at", json_integer(when - (emails - 1 - e) * kHour));
      json_put(email.get(), "conversation", json_string(html.c_str()));
      json_put(email.get(), "full_conversation", json_string(html.c_str()));
      json_put(email.get(), "is_html", json_true());
      json_put(email.get(), "preview", json_string(preview.c_str()));
      json_put(email.get(), "read", json_boolean(state != 2 || c >= 10 || e < emails - 1));
      json_put(email.get(), "sent", json_boolean(from_me));
      json_put(email.get(), "starred", json_boolean(dice.below(12) == 0));
      json_put(email.get(), "from",
               from_me ? name_json(account.name.c_str(), account.address.c_str())
                       : name_json(other.name, other.address));
      JsonPtr to(json_array());
      json_array_append_new(to.get(), from_me ? name_json(other.name, other.address)
                                              : name_json(account.name.c_str(), account.address.c_str()));
      json_put(email.get(), "to", to.release());
      if (dice.below(4) == 0) {
        const Person& copy = dice.pick(kPeople);
        JsonPtr cc(json_array());
        json_array_append_new(cc.get(), name_json(copy.name, copy.address));
        json_put(email.get(), "cc", cc.release());
      }
      add("email", email_id, std::move(email));
    }
  }

  // Rules a user of this account has made before: senders whose mail goes straight somewhere.
  for (int r = 0; r < 8; ++r) {
    const Person& person = kPeople[static_cast<size_t>((r * 5 + static_cast<int>(seed)) % kPeople.size())];
    const std::string rule_id = id_of("rule", account, r);
    JsonPtr rule(json_pack("{s:s, s:s, s:s, s:i, s:i, s:I}", "_id", rule_id.c_str(), "acct_id",
                           account.account_id.c_str(), "sender", person.address, "state", 3 + r % 3, "count",
                           1 + dice.below(20), "last_action",
                           static_cast<json_int_t>(kNewest - static_cast<int64_t>(r) * 30 * kHour)));
    add("sample_auto_swipe", rule_id, std::move(rule));
  }

  for (int d = 0; d < 3; ++d) {
    const Person& person = dice.pick(kPeople);
    const std::string draft_id = id_of("draft", account, d);
    JsonPtr to(json_array());
    json_array_append_new(to.get(), name_json(person.name, person.address));
    std::string content = "<div dir=\"ltr\"><p>" + escape_html(dice.pick(kOpenings)) + "</p></div>";
    JsonPtr data(json_pack("{s:n, s:I, s:I, s:s, s:i, s:o, s:o, s:[], s:[], s:s, s:n, s:s, s:b}", "item_id",
                           "created_at", static_cast<json_int_t>(kNewest - d * kHour), "modified_at",
                           static_cast<json_int_t>(kNewest - d * kHour), "subject", dice.pick(kTopics),
                           "draft_type", 0, "to", to.release(), "from",
                           name_json(account.name.c_str(), account.address.c_str()), "cc", "bcc", "content",
                           content.c_str(), "base_email_id", "eventual_email_id",
                           id_of("sent", account, d).c_str(), "is_full_body", 1));
    JsonPtr draft(json_pack("{s:s, s:i, s:{}, s:o}", "_id", draft_id.c_str(), "type", 1, "version", "data",
                            data.release()));
    add("sample_user_item", draft_id, std::move(draft));
  }
  return objects;
}

uint32_t seed_of(const std::string& account_id) {
  uint32_t seed = 2166136261u;
  for (char c : account_id) seed = (seed ^ static_cast<unsigned char>(c)) * 16777619u;
  return seed;
}

}  // namespace

const std::vector<SampleAccount>& sample_accounts() {
  static const std::vector<SampleAccount> accounts = {
      {"acct-example-com", "maya.lind@example.com", "Maya Lind", 1, "sample-com-password", "sample-com-code"},
      {"acct-example-net", "jon.ferris@example.net", "Jon Ferris", 2, "sample-net-password",
       "sample-net-code"},
      {"acct-example-org", "aiko.tan@example.org", "Aiko Tan", 3, "sample-org-password", "sample-org-code"},
  };
  return accounts;
}

void seed_sample_mailbox(SyncStore& store) {
  for (const SampleAccount& account : sample_accounts()) {
    JsonPtr mailbox(json_pack("{s:s, s:s, s:s, s:i, s:s, s:s}", "account_id", account.account_id.c_str(),
                              "data", account.address.c_str(), "name", account.name.c_str(), "type",
                              account.type, "password", account.password.c_str(), "access_code",
                              account.access_code.c_str()));
    store.put_record("mailbox", account.account_id, "", json_text(mailbox.get()));
    for (const StoredObject& object : generate(account, seed_of(account.account_id))) {
      JsonPtr doc = json_parse(object.doc);
      store.save(object.owner, object.kind, object.id, doc.get());
    }
  }
}

void seed_generated_conversations(SyncStore& store, const std::string& account_id, int conversations) {
  const int64_t base = 1700000000000;
  for (int c = 0; c < conversations; ++c) {
    const std::string item_id = "generated-item-" + std::to_string(c);
    const std::string subject = "Generated conversation " + std::to_string(c);
    const int64_t at = base + c * 3;
    JsonPtr item(json_pack("{s:s, s:s, s:s, s:i, s:i, s:I, s:I}", "_id", item_id.c_str(), "acct_id",
                           account_id.c_str(), "subject", subject.c_str(), "type", 1, "state", 2,
                           "created_at", static_cast<json_int_t>(at), "modified_at",
                           static_cast<json_int_t>(at + 2)));
    store.save(account_id, "item", item_id, item.get());
    for (int e = 0; e < 3; ++e) {
      const int n = c * 3 + e;
      const std::string email_id = "generated-email-" + std::to_string(n);
      const std::string sender = "person" + std::to_string(n % 200) + "@example.biz";
      const std::string html = "<p>Message " + std::to_string(n) + " of the generated mailbox.</p>" + "<p>" +
                               std::string(300, 'b') + "</p>";
      JsonPtr email(json_pack(
          "{s:s, s:s, s:s, s:s, s:I, s:s, s:s, s:b, s:s, s:b, s:b, s:b, s:{s:s, s:s}, s:[{s:s, s:s}]}", "_id",
          email_id.c_str(), "acct_id", account_id.c_str(), "p_id", item_id.c_str(), "subject",
          subject.c_str(), "created_at", static_cast<json_int_t>(at + e), "conversation", html.c_str(),
          "full_conversation", html.c_str(), "is_html", 1, "preview", std::string(120, 'p').c_str(), "read",
          1, "sent", 0, "starred", 0, "from", "name", ("Person " + std::to_string(n % 200)).c_str(),
          "address", sender.c_str(), "to", "name", "Maya Lind", "address", "maya.lind@example.com"));
      store.save(account_id, "email", email_id, email.get());
    }
  }
}

SampleCounts sample_counts(const std::string& account_id) {
  SampleCounts counts;
  for (const SampleAccount& account : sample_accounts()) {
    if (account.account_id != account_id) continue;
    for (const StoredObject& object : generate(account, seed_of(account_id))) {
      if (object.kind == "item") ++counts.items;
      if (object.kind == "email") ++counts.emails;
      if (object.kind == "list") ++counts.lists;
      if (object.kind == "attachment") ++counts.attachments;
      if (object.kind == "sample_auto_swipe") ++counts.rules;
      if (object.kind == "sample_user_item") ++counts.drafts;
    }
  }
  return counts;
}

}  // namespace sync_server
