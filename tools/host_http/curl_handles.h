// Owning handles of libcurl's C objects.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace kestrun_host {

struct CurlEasyFree {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct CurlMultiFree {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct CurlMimeFree {
  void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};
struct CurlSlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct CurlUrlFree {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlTextFree {
  void operator()(char* text) const { curl_free(text); }
};

using CurlEasy = std::unique_ptr<CURL, CurlEasyFree>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiFree>;
using CurlMime = std::unique_ptr<curl_mime, CurlMimeFree>;
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistFree>;
using CurlUrl = std::unique_ptr<CURLU, CurlUrlFree>;
using CurlText = std::unique_ptr<char, CurlTextFree>;

}  // namespace kestrun_host
