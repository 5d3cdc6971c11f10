// The one failure value of the network library. Streams hand errors to callbacks by value and
// nothing in the library throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace brelt {

enum class ErrorCode : int32_t {
  PacketSigningError = 0,
  TlsError = 1,
  NetworkError = 2,
  DnsError = 3,
  HttpError = 4,
  UnknownError = 5,
  CompressionError = 6,
  DecompressionError = 7,
  CertError = 8,
  JsonError = 9,
};

// The name of `code` as to_string() prints it; empty for a value outside the enumeration.
const char* error_code_name(ErrorCode code);

class Error {
 public:
  static constexpr const char* kDefaultMessage = "an unknown error has occured";

  Error(ErrorCode code, int64_t number, std::string tag);
  Error(ErrorCode code, int64_t number, std::string tag, std::string message);
  Error(const Error&) = default;
  Error(Error&&) = default;
  Error& operator=(const Error&) = default;
  Error& operator=(Error&&) = default;
  virtual ~Error() = default;

  // "<code name>::<tag> (<number>) <message>".
  virtual std::string to_string() const;

  ErrorCode code;
  int64_t number;   // the failing library's own code, 0 when it has none
  std::string tag;  // symbolic name, e.g. "Z_DATA_ERROR"
  std::string message;
};

// An Error whose code is fixed by its type. It adds no state, so a callback taking Error receives
// every field of it intact.
template <ErrorCode N>
class TypedError : public Error {
 public:
  static constexpr ErrorCode kCode = N;

  template <class Number>
  TypedError(Number number, std::string tag) : Error(N, static_cast<int64_t>(number), std::move(tag)) {}
  template <class Number>
  TypedError(Number number, std::string tag, std::string message)
      : Error(N, static_cast<int64_t>(number), std::move(tag), std::move(message)) {}
};

// Tags of the errors that tell an owner which of its writes were lost.
inline constexpr const char* kSendQueueFullTag = "SEND_QUEUE_FULL";  // refused: over the queue's bound
inline constexpr const char* kNotSentTag = "NOT_SENT";               // dropped by a closing connection

// `code` with tag kNotSentTag, number = the bytes lost, and a message naming the bytes, the writes
// and `why`.
Error not_sent_error(ErrorCode code, size_t bytes, size_t writes, const std::string& why);
// `code` with tag kSendQueueFullTag for one write of `bytes` refused because `queued` bytes already
// wait and the bound is `bound`.
Error queue_full_error(ErrorCode code, size_t bytes, size_t queued, size_t bound);

using PacketSigningError = TypedError<ErrorCode::PacketSigningError>;
using TlsError = TypedError<ErrorCode::TlsError>;
using NetworkError = TypedError<ErrorCode::NetworkError>;
using DnsError = TypedError<ErrorCode::DnsError>;
using HttpError = TypedError<ErrorCode::HttpError>;
using CompressionError = TypedError<ErrorCode::CompressionError>;
using CertError = TypedError<ErrorCode::CertError>;
using JsonError = TypedError<ErrorCode::JsonError>;

}  // namespace brelt
