#include "brelt/host_name_validator.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <memory>

#include "brelt/log.h"

namespace brelt {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// A dot-separated name whose labels are all non-empty, with at least `min_labels` of them.
bool has_whole_labels(std::string_view name, size_t min_labels) {
  size_t labels = 1;
  size_t label_length = 0;
  for (char c : name) {
    if (c == '.') {
      if (label_length == 0) return false;
      ++labels;
      label_length = 0;
    } else {
      ++label_length;
    }
  }
  return label_length > 0 && labels >= min_labels;
}

struct GeneralNamesFree {
  void operator()(GENERAL_NAMES* names) const { GENERAL_NAMES_free(names); }
};

}  // namespace

bool host_name_matches(std::string_view entry, std::string_view host) {
  if (entry.empty() || host.empty()) return false;
  if (entry.find('*') == std::string_view::npos) return equal_ignoring_case(entry, host);

  // "*." followed by at least two whole labels, and no other wildcard.
  if (entry.size() < 2 || entry[0] != '*' || entry[1] != '.') return false;
  std::string_view suffix = entry.substr(1);
  std::string_view rest = suffix.substr(1);
  if (rest.find('*') != std::string_view::npos || !has_whole_labels(rest, 2)) return false;

  size_t dot = host.find('.');
  if (dot == 0 || dot == std::string_view::npos) return false;
  if (!equal_ignoring_case(host.substr(dot), suffix)) return false;
  log_debug("DNS", "pattern `" + std::string(suffix) + "` matched " + std::string(host));
  return true;
}

bool HostnameValidator::operator()(X509* certificate) const {
  std::unique_ptr<GENERAL_NAMES, GeneralNamesFree> names(
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)));
  if (!names) return false;
  for (int i = 0; i < sk_GENERAL_NAME_num(names.get()); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
    if (name->type != GEN_DNS) continue;
    const ASN1_IA5STRING* text = name->d.dNSName;
    // The entry is taken at its stated length, so an embedded NUL cannot shorten it.
    std::string_view entry(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                           static_cast<size_t>(ASN1_STRING_length(text)));
    if (host_name_matches(entry, host)) return true;
  }
  return false;
}

bool PinningValidator::operator()(X509* certificate) const {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
  ERR_clear_error();
  if (!bio || i2d_X509_bio(bio.get(), certificate) != 1) {
    char text[256];
    ERR_error_string_n(ERR_get_error(), text, sizeof(text));
    log_error("PinningValidator", text);
    return false;
  }
  const unsigned char* data = nullptr;
  long length = BIO_get_mem_data(bio.get(), &data);
  if (length < 0 || static_cast<size_t>(length) != expected.size() ||
      !std::equal(expected.begin(), expected.end(), data)) {
    log_error("PinningValidator", "cert did not match expected cert");
    return false;
  }
  return true;
}

}  // namespace brelt
