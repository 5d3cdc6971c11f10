// The one failure value of the network library. Streams hand errors to callbacks by value and
// nothing in the library throws.
#pragma once

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

using PacketSigningError = TypedError<ErrorCode::PacketSigningError>;
using TlsError = TypedError<ErrorCode::TlsError>;
using NetworkError = TypedError<ErrorCode::NetworkError>;
using DnsError = TypedError<ErrorCode::DnsError>;
using HttpError = TypedError<ErrorCode::HttpError>;
using CompressionError = TypedError<ErrorCode::CompressionError>;
using CertError = TypedError<ErrorCode::CertError>;
using JsonError = TypedError<ErrorCode::JsonError>;

}  // namespace brelt
