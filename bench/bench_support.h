// What the benchmark programs share: the rows of a generated mailbox, and the resident set of one
// run of a case measured in a child process of its own, so that cases do not inherit each other's
// high-water mark.
#pragma once

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/store/email_record.h"
#include "core/store/item_record.h"

namespace bench {

// The modification time of conversation 0; conversation i is i seconds newer.
constexpr int64_t kBaseTime = 1700000000000LL;

// Conversation i of a generated mailbox, in `state`, with `emails` e-mails: of account "account-a"
// or (odd i) "account-b", newer i newer, with a subject, a preview and one sender. Each benchmark
// sets what its own mix needs on top.
inline libkestrun::internal::Item sample_item(int i, libkestrun::ItemState state, int emails) {
  libkestrun::internal::Item item;
  item.set_ITEMID("item-" + std::to_string(i) + "-6F9619FF-8B86-D011-B42D-00C04FC964FF");
  item.set_ACCOUNTID(i % 2 ? "account-b" : "account-a");
  item.set_STATE(state);
  item.set_EMAILCOUNT(emails);
  item.set_THREADHASEMAILS(true);
  item.set_MODIFIEDAT(kBaseTime + 1000LL * i);
  item.set_THREADTIMESTAMP(kBaseTime + 1000LL * i);
  item.set_SUBJECT("Subject of conversation " + std::to_string(i));
  item.set_THREADPREVIEW(std::string(120, 'p'));
  item.set_THREADSENDERS(R"({"ann@example.com":{"name":"Ann","short_display_name":"Ann"}})");
  item.set_THREADRECEIVERS(R"({"me@example.com":{"name":"Me","short_display_name":"Me"}})");
  return item;
}

// E-mail `n` of conversation i (whose id is `itemID`), created n milliseconds after the
// conversation's time.
inline libkestrun::internal::Email sample_email(int i, int n, const std::string& itemID) {
  libkestrun::internal::Email email;
  email.set_EMAILID("email-" + std::to_string(i) + "-" + std::to_string(n));
  email.set_ACCOUNTID(i % 2 ? "account-b" : "account-a");
  email.set_PARENTITEMID(itemID);
  email.set_CREATEDAT(kBaseTime + 1000LL * i + n);
  email.set_PREVIEW(std::string(120, 'e'));
  return email;
}

// The peak resident set of this process so far, in MiB.
inline double peak_rss_mib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The peak resident set of a child process, in KiB, when `work` began and when it ended.
struct ChildPeak {
  long before_kib = 0;
  long after_kib = 0;
};

// Runs `work` once in a forked child and returns its high-water marks; empty when the fork or the
// pipe failed. Memory freed by earlier runs is given back first: it would otherwise still be
// resident at the fork, where the child's high-water mark starts.
inline std::optional<ChildPeak> peak_in_child(const std::function<void()>& work) {
  malloc_trim(0);
  int fds[2];
  if (pipe(fds) != 0) return std::nullopt;
  pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    return std::nullopt;
  }
  if (child == 0) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    work();
    getrusage(RUSAGE_SELF, &after);
    const long marks[2] = {before.ru_maxrss, after.ru_maxrss};
    ssize_t written = write(fds[1], marks, sizeof marks);
    _exit(written == sizeof marks ? 0 : 1);
  }
  close(fds[1]);
  long marks[2] = {0, 0};
  const bool read_all = read(fds[0], marks, sizeof marks) == sizeof marks;
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!read_all) return std::nullopt;
  return ChildPeak{marks[0], marks[1]};
}

// The peak resident set of one run of `work` in a child process, in MiB; -1 when it failed.
inline double peak_mib_in_child(const std::function<void()>& work) {
  std::optional<ChildPeak> peak = peak_in_child(work);
  return peak ? static_cast<double>(peak->after_kib) / 1024.0 : -1;
}

// How far one run of `work` in a child process raised the resident set above what it held at the
// fork, in MiB; -1 when it failed.
inline double peak_growth_mib(const std::function<void()>& work) {
  std::optional<ChildPeak> peak = peak_in_child(work);
  return peak ? static_cast<double>(peak->after_kib - peak->before_kib) / 1024.0 : -1;
}

}  // namespace bench
