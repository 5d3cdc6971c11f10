#include "brelt/error.h"

#include <utility>

namespace brelt {

const char* error_code_name(ErrorCode code) {
  switch (code) {
    case ErrorCode::PacketSigningError:
      return "PacketSigningError";
    case ErrorCode::TlsError:
      return "TlsError";
    case ErrorCode::NetworkError:
      return "NetworkError";
    case ErrorCode::DnsError:
      return "DnsError";
    case ErrorCode::HttpError:
      return "HttpError";
    case ErrorCode::UnknownError:
      return "UnknownError";
    case ErrorCode::CompressionError:
      return "CompressionError";
    case ErrorCode::DecompressionError:
      return "DecompressionError";
    case ErrorCode::CertError:
      return "CertError";
    case ErrorCode::JsonError:
      return "JsonError";
  }
  return "";
}

Error::Error(ErrorCode code, int64_t number, std::string tag)
    : Error(code, number, std::move(tag), kDefaultMessage) {}

Error::Error(ErrorCode code, int64_t number, std::string tag, std::string message)
    : code(code), number(number), tag(std::move(tag)), message(std::move(message)) {}

std::string Error::to_string() const {
  return std::string(error_code_name(code)) + "::" + tag + " (" + std::to_string(number) + ") " + message;
}

Error not_sent_error(ErrorCode code, size_t bytes, size_t writes, const std::string& why) {
  return Error(
      code, static_cast<int64_t>(bytes), kNotSentTag,
      std::to_string(bytes) + " bytes in " + std::to_string(writes) + " writes were not sent: " + why);
}

Error queue_full_error(ErrorCode code, size_t bytes, size_t queued, size_t bound) {
  return Error(code, static_cast<int64_t>(bytes), kSendQueueFullTag,
               "a write of " + std::to_string(bytes) + " bytes was not sent: " + std::to_string(queued) +
                   " bytes already wait to be sent and the bound is " + std::to_string(bound));
}

}  // namespace brelt
