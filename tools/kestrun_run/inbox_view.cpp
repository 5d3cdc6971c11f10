#include "inbox_view.h"

#include <jansson.h>

#include <cstdio>
#include <ctime>

namespace kestrun_run {

namespace {

const size_t kRowsPerSection = 5;

std::string sender_of(const KSItem& item) {
  json_t* sender = item.originalSender();
  if (sender == nullptr) return "";
  const char* name = json_string_value(json_object_get(sender, "name"));
  const char* address = json_string_value(json_object_get(sender, "address"));
  std::string text = name != nullptr && *name != '\0' ? name : address != nullptr ? address : "";
  json_decref(sender);
  return text;
}

std::string time_text(int64_t ms) {
  if (ms <= 0) return "";
  const std::time_t then = static_cast<std::time_t>(ms / 1000);
  const std::time_t now = std::time(nullptr);
  std::tm when{}, today{};
  localtime_r(&then, &when);
  localtime_r(&now, &today);
  const bool same_day = when.tm_year == today.tm_year && when.tm_yday == today.tm_yday;
  char text[32];
  std::strftime(text, sizeof text, same_day ? "%H:%M" : "%e %b", &when);
  return text[0] == ' ' ? text + 1 : text;
}

// `text` cut to `width` bytes without splitting a UTF-8 sequence, padded with blanks.
std::string column(const std::string& text, size_t width) {
  std::string cut = text;
  if (cut.size() > width) {
    size_t end = width;
    while (end > 0 && (static_cast<unsigned char>(cut[end]) & 0xC0) == 0x80) --end;
    cut = cut.substr(0, end);
  }
  size_t glyphs = 0;
  for (unsigned char c : cut) glyphs += (c & 0xC0) != 0x80;
  return cut + std::string(width > glyphs ? width - glyphs : 0, ' ');
}

const char* change_name(libkestrun::ConsumerChangeType type) {
  switch (type) {
    case libkestrun::ConsumerChangeType::Insert:
      return "inserted";
    case libkestrun::ConsumerChangeType::Delete:
      return "removed";
    case libkestrun::ConsumerChangeType::Update:
      return "updated";
    case libkestrun::ConsumerChangeType::MovedIn:
      return "moved in";
    case libkestrun::ConsumerChangeType::MovedOut:
      return "moved out";
  }
  return "changed";
}

}  // namespace

std::string row_text(const KSItem& item) {
  return std::string(item.threadRead() ? "   " : " * ") + column(sender_of(item), 22) + "  " +
         column(item.subject(), 44) + "  " + time_text(item.threadTimestamp());
}

std::string count_text(int count, bool exact) {
  std::string digits = std::to_string(count);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<size_t>(at), ",");
  return exact ? digits : "about " + digits;
}

void ListPrinter::set_results(const std::string&, const std::vector<Row>& rows) {
  std::lock_guard<std::mutex> lock(mutex_);
  rows_ = rows;
}

void ListPrinter::begin_changes(const std::string& name) {
  std::printf("live query \"%s\" reports:\n", name.c_str());
}

void ListPrinter::item_changed(const std::string&, Row row, libkestrun::ConsumerChangeType type,
                               int old_index, int new_index) {
  std::printf("  %-9s %s  (row %d -> %d)\n", change_name(type),
              row_text(static_cast<const KSItem&>(*row)).c_str(), old_index, new_index);
}

void ListPrinter::end_changes(const std::string&) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::printf("  the list now holds %zu conversations\n", rows_.size());
  std::fflush(stdout);
  ++batches_;
  changed_.notify_all();
}

void ListPrinter::print_rows(size_t shown) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < rows_.size() && i < shown; ++i)
    std::printf("%s\n", row_text(static_cast<const KSItem&>(*rows_[i])).c_str());
  if (rows_.size() > shown) std::printf("   ... and %zu more on this page\n", rows_.size() - shown);
}

std::string ListPrinter::first_id() {
  std::lock_guard<std::mutex> lock(mutex_);
  return rows_.empty() ? "" : static_cast<const KSItem&>(*rows_.front()).itemID();
}

int ListPrinter::batches() {
  std::lock_guard<std::mutex> lock(mutex_);
  return batches_;
}

bool ListPrinter::wait_for_batches(int count, std::chrono::milliseconds deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, deadline, [&] { return batches_ >= count; });
}

void DeferralPrinter::set_results(const std::string&, const Sections& sections) {
  if (sections.empty()) std::printf("   nothing deferred\n");
  for (const auto& [section, rows] : sections) {
    std::printf("  %s (%zu)\n", KSItem::titleForDeferralSection(section).c_str(), rows.size());
    for (size_t i = 0; i < rows.size() && i < kRowsPerSection; ++i)
      std::printf("%s\n", row_text(static_cast<const KSItem&>(*rows[i])).c_str());
    if (rows.size() > kRowsPerSection) std::printf("   ... and %zu more\n", rows.size() - kRowsPerSection);
  }
}

}  // namespace kestrun_run
